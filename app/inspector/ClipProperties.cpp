#include "app/inspector/ClipProperties.h"

#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

#include "app/inspector/InspectorStyle.h"
#include "model/Localization.h"
#include "model/Session.h"
#include "store/StudioStore.h"
#include "widgets/NumberField.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

namespace {

// Leading and trailing spaces and tabs go; line breaks and other white space stay.
std::string trimmedSpacesAndTabs(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The rounded colour strip left of the name.
class ColorStrip : public QWidget {
public:
    explicit ColorStrip(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("colorStrip"));
        setFixedWidth(3);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    void setColor(const QColor& color) {
        if (color == color_) return;
        color_ = color;
        update();
    }
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(color_);
        p.drawRoundedRect(QRectF(rect()), 2, 2);
    }

private:
    QColor color_;
};

}  // namespace

QString ClipProperties::panText(const Track& clip) {
    if (!clip.panEnvelope.empty()) return ui::qs(L("Огибающая"));
    if (clip.pan == 0.0) return ui::qs(L("Центр"));
    const char* side = clip.pan < 0 ? "L " : "R ";
    return ui::qs(side + num::fixed(std::abs(clip.pan) * 100.0, 0) + "%");
}

QString ClipProperties::subtitleText(const Track& clip, const std::string* laneName) {
    const std::string length = timeLabel(static_cast<double>(clip.audio.frames()) / 48000.0);
    if (laneName) return ui::qs(L("Клип на дорожке «{0}»  ·  {1}  ·  стерео", *laneName, length));
    return ui::qs(L("Клип  ·  {0}  ·  стерео", length));
}

ClipProperties::ClipProperties(StudioStore& store, const Uuid& clip, QWidget* parent)
    : QWidget(parent), store_(store), id_(clip) {
    setObjectName(QStringLiteral("clipProperties"));
    const Track* track = store_.session().track(id_);
    const Track blank;
    const Track& t = track ? *track : blank;
    const QString idText = QString::fromStdString(id_.text());

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    // Header: strip, name and subtitle.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    strip_ = new ColorStrip(this);
    header->addWidget(strip_);
    auto* names = new QVBoxLayout;
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(5);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("clipName"));
    name_->setFrame(false);
    name_->setFont(Fonts::ui(14, QFont::Medium));
    name_->setPlaceholderText(ui::qs(L("Название клипа")));
    name_->setToolTip(name_->placeholderText());
    name_->setAttribute(Qt::WA_MacShowFocusRect, false);
    {
        QPalette pal = name_->palette();
        pal.setColor(QPalette::Base, Qt::transparent);
        name_->setPalette(pal);
    }
    name_->installEventFilter(this);
    connect(name_, &QLineEdit::returnPressed, this, &ClipProperties::commitName);
    names->addWidget(name_);
    subtitle_ = ui::note({}, this);
    subtitle_->setObjectName(QStringLiteral("clipSubtitle"));
    names->addWidget(subtitle_);
    header->addLayout(names, 1);
    column->addLayout(header);

    // Start.
    auto* startRow = new QHBoxLayout;
    startRow->setContentsMargins(0, 0, 0, 0);
    startRow->addWidget(ui::label(ui::qs(L("Начало, с")), Fonts::ui(11), Palette::primaryText(), this));
    startRow->addStretch(1);
    start_ = new NumberField(t.start, [this](double v) { store_.setClipStart(id_, v); }, this);
    start_->setObjectName(QStringLiteral("clipStart"));
    start_->setFixedWidth(82);
    startRow->addWidget(start_);
    column->addLayout(startRow);

    // Gain and pan: each finished drag is one store command.
    gain_ = new ValueSlider(ui::qs(L("Громкость клипа")), t.gainDB, -60, 12, ui::decibels(t.gainDB), false,
                            [this] { store_.stop(); }, [this](double v) { store_.setClipGain(id_, v); }, this);
    gain_->setObjectName(QStringLiteral("gain-") + idText);
    gain_->setToolTip(ui::qs(L("Громкость только этого клипа; громкость всей дорожки — в заголовке дорожки")));
    column->addWidget(gain_);
    pan_ = new ValueSlider(ui::qs(L("Панорама клипа")), t.pan, -1, 1, panText(t), false, [this] { store_.stop(); },
                           [this](double v) { store_.setClipPan(id_, v); }, this);
    pan_->setObjectName(QStringLiteral("pan-") + idText);
    pan_->speakAs(100.0);  // "R 25%" is 25
    column->addWidget(pan_);

    mute_ = new QCheckBox(ui::qs(L("Выключить клип")), this);
    mute_->setObjectName(QStringLiteral("clipMute"));
    mute_->setFont(Fonts::ui(11));
    mute_->setToolTip(ui::qs(L("Клип не звучит, остальные клипы дорожки звучат")));
    connect(mute_, &QCheckBox::clicked, this, [this](bool on) { store_.setClipMuted(id_, on); });
    column->addWidget(mute_);

    connect(&store_, &StudioStore::sessionChanged, this, &ClipProperties::refresh);
    refresh();
}

void ClipProperties::refresh() {
    const Session& session = store_.session();
    const Track* t = session.track(id_);
    if (!t) return;
    static_cast<ColorStrip*>(strip_)->setColor(Palette::track(t->color));
    // The field follows the stored name whenever that changes; typed text survives other changes.
    if (!named_ || t->name != shownName_) {
        named_ = true;
        shownName_ = t->name;
        name_->setText(ui::qs(t->name));
        name_->setCursorPosition(0);
    }
    const Lane* lane = session.lane(*t);
    const QString subtitle = subtitleText(*t, lane ? &lane->name : nullptr);
    if (subtitle_->text() != subtitle) subtitle_->setText(subtitle);

    start_->setValue(t->start);
    gain_->setValue(t->gainDB);
    gain_->setDisplay(ui::decibels(t->gainDB));
    pan_->setValue(t->pan);
    pan_->setDisplay(panText(*t));
    const bool envelope = !t->panEnvelope.empty();
    pan_->setEnabled(!envelope);
    const QString panTip =
        ui::qs(envelope ? L("Панорамой управляет огибающая клипа; очистите огибающие, чтобы вернуть ручку")
                        : L("Панорама только этого клипа; панорама дорожки — в заголовке дорожки"));
    if (pan_->toolTip() != panTip) pan_->setToolTip(panTip);
    if (mute_->isChecked() != t->muted) {
        const QSignalBlocker block(mute_);
        mute_->setChecked(t->muted);
    }
}

void ClipProperties::commitName() {
    // Compare with the clip as the store holds it now, never with an older copy: Return followed
    // by leaving the field must not rename twice.
    const Track* t = store_.session().track(id_);
    if (!t) return;
    const std::string trimmed = trimmedSpacesAndTabs(name_->text().toStdString());
    if (trimmed.empty()) {
        name_->setText(ui::qs(t->name));
        return;
    }
    if (trimmed != t->name) store_.renameClip(id_, trimmed);
}

bool ClipProperties::eventFilter(QObject* watched, QEvent* event) {
    if (watched == name_ && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
        commitName();
    return QWidget::eventFilter(watched, event);
}

}  // namespace tessoral
