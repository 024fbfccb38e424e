#include "panels/Mixer.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/MeterView.h"
#include "widgets/Palette.h"
#include "widgets/ToolButton.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

using panels::qs;

namespace {

constexpr int kHundredths = 100;

void setRoleColor(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(role, c);
    w->setPalette(pal);
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    setRoleColor(l, QPalette::WindowText, color);
    return l;
}

// A strip's name: its row's name in the row colour, centred, up to two lines.
class NameButton : public QAbstractButton {
public:
    explicit NameButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedHeight(28);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFont(Fonts::ui(11, QFont::DemiBold));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }
    void setColor(const QColor& c) {
        if (c == color_) return;
        color_ = c;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QColor c = color_;
        if (!isEnabled()) c.setAlphaF(c.alphaF() * 0.4f);
        if (isDown()) c = c.darker(130);
        p.setPen(c);
        p.setFont(font());
        const QStringList lines = MixerStrip::nameLines(text(), font(), width());
        const int lineHeight = QFontMetrics(font()).lineSpacing();
        int y = (height() - lineHeight * int(lines.size())) / 2;
        for (const QString& line : lines) {
            p.drawText(QRect(0, y, width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
            y += lineHeight;
        }
    }

private:
    QColor color_;
};

}  // namespace

QStringList MixerStrip::nameLines(const QString& name, const QFont& font, int width) {
    QTextLayout layout(name, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(width, 1));
        if (lines.size() == 1) {
            // The second line holds the rest, shortened with "…" when it does not fit.
            lines << QFontMetrics(font).elidedText(name.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        lines << name.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

// ---- MixerFader ----

MixerFader::MixerFader(double value, const QColor& color, std::function<void()> begin,
                       std::function<void(double)> commit, QWidget* parent)
    : QWidget(parent), value_(value), draft_(value), color_(color), begin_(std::move(begin)), commit_(std::move(commit)) {
    setObjectName(QStringLiteral("mixerFader"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->setAlignment(Qt::AlignHCenter);

    controls_ = new QWidget(this);
    auto* row = new QHBoxLayout(controls_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    controls_->setFixedHeight(180);
    auto* scale = new QWidget(controls_);
    scale->setFixedSize(24, 180);
    auto* marks = new QVBoxLayout(scale);
    marks->setContentsMargins(0, 0, 0, 0);
    marks->setSpacing(0);
    for (int mark : {12, 0, -12, -24, -36, -48, -60}) {
        auto* l = label(qs(num::integer(mark)), Fonts::ui(9), Palette::secondaryText(), scale);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        marks->addWidget(l, 1);
    }
    row->addWidget(scale);
    slider_ = new ValueSliderTrack(controls_);
    slider_->setAssisted(this);
    slider_->setOrientation(Qt::Vertical);
    slider_->setRange(int(kLower) * kHundredths, int(kUpper) * kHundredths);
    slider_->setSingleStep(10);
    slider_->setPageStep(100);
    slider_->setFixedSize(32, 180);
    slider_->setAccessibleName(qs(L("Фейдер громкости")));
    row->addWidget(slider_);
    column->addWidget(controls_, 0, Qt::AlignHCenter);

    readout_ = label(QString(), Fonts::mono(13, QFont::Medium), Palette::primaryText(), this);
    readout_->setObjectName(QStringLiteral("readout"));
    readout_->setAlignment(Qt::AlignCenter);
    column->addWidget(readout_, 0, Qt::AlignHCenter);

    zero_ = new QPushButton(QStringLiteral("0 dB"), this);
    zero_->setObjectName(QStringLiteral("zeroDB"));
    zero_->setFlat(true);
    zero_->setFont(Fonts::ui(10));
    zero_->setFocusPolicy(Qt::TabFocus);
    zero_->setCursor(Qt::PointingHandCursor);
    setRoleColor(zero_, QPalette::ButtonText, Palette::secondaryText());
    column->addWidget(zero_, 0, Qt::AlignHCenter);

    setColor(color);
    place();
    connect(slider_, &QSlider::sliderPressed, this, &MixerFader::pressed);
    connect(slider_, &QSlider::valueChanged, this, &MixerFader::moved);
    connect(slider_, &QSlider::sliderReleased, this, &MixerFader::released);
    connect(slider_, &ValueSliderTrack::keyBurstStarted, this, &MixerFader::pressed);
    connect(slider_, &ValueSliderTrack::keyBurstEnded, this, &MixerFader::released);
    connect(zero_, &QPushButton::clicked, this, [this] {
        draft_ = 0.0;
        place();
        commitDraft();
    });
}

// The track outlives this part of the object by a moment: nothing reads the value through it then.
MixerFader::~MixerFader() { slider_->setAssisted(nullptr); }

void MixerFader::setOwnerName(const QString& name) {
    slider_->setAccessibleName(qs(L("{0}: фейдер громкости", name.toStdString())));
}

QString MixerFader::spokenText() const { return readout_->text(); }

double MixerFader::spokenStep() const { return double(slider_->singleStep()) / kHundredths; }

void MixerFader::setSpokenValue(double value) {
    // A burst of keys under way is a gesture of its own, which ends first.
    slider_->endKeyBurst();
    if (!isEnabled() || pressed_ || !std::isfinite(value)) return;
    pressed();
    draft_ = std::clamp(value, kLower, kUpper);
    place();
    released();
}

void MixerFader::stepSpoken(int steps) {
    const int position = std::clamp(slider_->value() + steps * slider_->singleStep(), slider_->minimum(), slider_->maximum());
    setSpokenValue(double(position) / kHundredths);
}

QString MixerFader::readoutText(double dB) {
    const std::string sign = std::signbit(dB) || std::isnan(dB) ? "" : "+";
    return qs(sign + num::fixed(dB, 1) + " dB");
}

void MixerFader::setColor(const QColor& color) {
    color_ = color;
    QPalette pal = slider_->palette();
    pal.setColor(QPalette::Highlight, color);
    slider_->setPalette(pal);
}

void MixerFader::place() {
    placing_ = true;
    const double v = std::isfinite(draft_) ? std::clamp(draft_, kLower, kUpper) : 0.0;
    slider_->setValue(int(std::lround(v * kHundredths)));
    placing_ = false;
    readout_->setText(readoutText(draft_));
}

void MixerFader::setValue(double value) {
    if (value == value_ || (std::isnan(value) && std::isnan(value_))) return;
    value_ = value;
    draft_ = value;
    place();
}

void MixerFader::pressed() {
    if (pressed_) return;
    pressed_ = true;
    if (begin_) begin_();
}

void MixerFader::moved(int position) {
    if (placing_) return;
    // On the stored value's own position: exactly that value.
    const int own = std::isfinite(value_) ? int(std::lround(std::clamp(value_, kLower, kUpper) * kHundredths)) : 0;
    draft_ = position == own ? value_ : double(position) / kHundredths;
    readout_->setText(readoutText(draft_));
}

void MixerFader::released() {
    if (!pressed_) return;
    pressed_ = false;
    commitDraft();
}

void MixerFader::commitDraft() {
    if (commit_) commit_(draft_);
    // An accepted change has given the fader its new value meanwhile; a refused one leaves the
    // stored value, which the fader shows again.
    draft_ = value_;
    place();
}

void MixerFader::changeEvent(QEvent* event) {
    // Disabled in the middle of a press (a recording starts): the release never comes.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && pressed_) {
        slider_->setSliderDown(false);
        released();
    }
    QWidget::changeEvent(event);
}

void MixerFader::hideEvent(QHideEvent* event) {
    if (pressed_) {
        slider_->setSliderDown(false);
        released();
    }
    QWidget::hideEvent(event);
}

// ---- MixerStrip ----

QString MixerStrip::panText(double pan) {
    if (pan == 0.0) return qs(L("Центр"));
    const char* side = pan < 0.0 ? "L" : "R";
    return qs(std::string(side) + " " + num::fixed(std::abs(pan) * 100.0, 0) + "%");
}

MixerStrip::MixerStrip(StudioStore& store, TransportSignals* transport, const Lane& lane, QWidget* parent)
    : QWidget(parent), store_(store), lane_(lane) {
    setObjectName(QStringLiteral("mixerStrip"));
    setFixedWidth(135);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(13, 13, 13, 13);
    column->setSpacing(14);

    auto* name = new NameButton(this);
    name->setObjectName(QStringLiteral("stripName"));
    name_ = name;
    connect(name_, &QAbstractButton::clicked, this, [this] {
        const Uuid id = lane_.id;
        store_.selectLane(id, true);
    });
    column->addWidget(name_);

    auto* toggles = new QHBoxLayout;
    toggles->setContentsMargins(0, 0, 0, 0);
    mute_ = new ToolButton(QStringLiteral("speaker.slash.fill"), qs(L("Выключить дорожку")), lane.muted,
                           panels::orange(), [this] {
                               const Uuid id = lane_.id;
                               store_.toggleLaneMute(id);
                           },
                           this);
    mute_->setToolTip(mute_->title());
    solo_ = new ToolButton(QStringLiteral("headphones"), qs(L("Соло")), lane.solo, Palette::accent(), [this] {
        const Uuid id = lane_.id;
        store_.toggleLaneSolo(id);
    }, this);
    solo_->setToolTip(solo_->title());
    toggles->addStretch(1);
    toggles->addWidget(mute_);
    toggles->addWidget(solo_);
    toggles->addStretch(1);
    column->addLayout(toggles);

    panLabel_ = label(QString(), Fonts::ui(10), Palette::secondaryText(), this);
    panLabel_->setObjectName(QStringLiteral("pan"));
    panLabel_->setAlignment(Qt::AlignCenter);
    column->addWidget(panLabel_);
    pan_ = new ValueSlider(qs(L("Панорама")), lane.pan, -1.0, 1.0, QString(), true, [this] { store_.stop(); },
                           [this](double v) {
                               const Uuid id = lane_.id;
                               store_.setLanePan(id, v);
                           },
                           this);
    // Compact without a value text: the slider takes the strip's width. Assistive technology reads
    // the text above it, and the value as shown there (R 25% is 25).
    if (pan_->displayLabel()) pan_->displayLabel()->hide();
    pan_->speakAs(100.0, [this] { return panLabel_->text(); });
    pan_->stepIn(100);  // whole percents, as shown
    column->addWidget(pan_);

    fader_ = new MixerFader(lane.gainDB, Palette::track(lane.color), [this] { store_.stop(); },
                            [this](double dB) {
                                const Uuid id = lane_.id;
                                store_.setLaneGain(id, dB);
                            },
                            this);
    column->addWidget(fader_, 0, Qt::AlignHCenter);

    effects_ = new QPushButton(this);
    effects_->setObjectName(QStringLiteral("effects"));
    effects_->setIcon(Icons::icon(QStringLiteral("slider.horizontal.3"), Palette::primaryText(), 12));
    effects_->setFont(Fonts::ui(11));
    effects_->setAutoDefault(false);
    effects_->setToolTip(qs(L("Эффекты применяются к клипам: откроет цепочку эффектов первого клипа дорожки")));
    connect(effects_, &QPushButton::clicked, this, &MixerStrip::openEffects);
    column->addWidget(effects_);

    auto* caption = label(QStringLiteral("48 kHz / Stereo"), Fonts::ui(9), Palette::tertiaryText(), this);
    caption->setAlignment(Qt::AlignCenter);
    column->addWidget(caption);
    column->addStretch(1);

    panels::followLocked(this, store_, transport);
    connect(&store_, &StudioStore::selectedLaneIDChanged, this, qOverload<>(&QWidget::update));
    refresh();
}

void MixerStrip::setLane(const Lane& lane) {
    lane_ = lane;
    refresh();
}

void MixerStrip::refresh() {
    const QColor color = Palette::track(lane_.color);
    name_->setText(qs(lane_.name));
    static_cast<NameButton*>(name_)->setColor(color);
    // Every strip's controls are told apart by their row's name.
    pan_->slider()->setAccessibleName(qs(L("{0}: панорама", lane_.name)));
    fader_->setOwnerName(qs(lane_.name));
    mute_->setActive(lane_.muted);
    solo_->setActive(lane_.solo);
    panLabel_->setText(panText(lane_.pan));
    pan_->setValue(lane_.pan);
    fader_->setColor(color);
    fader_->setValue(lane_.gainDB);
    const auto clips = store_.session().clipsInLane(lane_.id).size();
    effects_->setText(qs(L("FX · {0}", LP(static_cast<long long>(clips), "{0} клип|{0} клипа|{0} клипов"))));
    effects_->setEnabled(clips > 0);
    update();
}

void MixerStrip::openEffects() {
    const Uuid laneID = lane_.id;
    const auto clips = store_.session().clipsInLane(laneID);
    if (!clips.empty()) {
        const Uuid first = clips.front()->id;
        store_.setSelectedID(first);
    }
    store_.selectLane(laneID, true);
    store_.setShowInspector(true);
    store_.setInspectorTab(0);
}

void MixerStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const auto& selected = store_.selectedLaneID();
    if (selected && *selected == lane_.id) {
        QColor c = Palette::raised();
        c.setAlphaF(0.5f);
        p.fillRect(rect(), c);
    }
    p.fillRect(QRect(0, 0, width(), 3), Palette::track(lane_.color));
}

// ---- MixerWorkspace ----

MixerWorkspace::MixerWorkspace(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store), transport_(transport) {
    setObjectName(QStringLiteral("mixerWorkspace"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setRoleColor(scroll_->viewport(), QPalette::Window, Palette::background());
    scroll_->viewport()->setAutoFillBackground(true);
    auto* content = new QWidget(scroll_);
    content->setObjectName(QStringLiteral("mixerContent"));
    row_ = new QHBoxLayout(content);
    row_->setContentsMargins(0, 16, 0, 16);
    row_->setSpacing(0);
    row_->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    // The master strip: never disabled as a whole; only its fader follows the lock.
    master_ = new QWidget(content);
    master_->setObjectName(QStringLiteral("masterStrip"));
    master_->setFixedWidth(154);
    master_->setAutoFillBackground(true);
    setRoleColor(master_, QPalette::Window, Palette::panel());
    master_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto* column = new QVBoxLayout(master_);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(18);
    column->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    auto* title = label(QStringLiteral("MASTER"), Fonts::ui(11, QFont::DemiBold), Palette::primaryText(), master_);
    title->setFixedHeight(24);
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title, 0, Qt::AlignHCenter);
    auto* speaker = new QLabel(master_);
    speaker->setPixmap(Icons::pixmap(QStringLiteral("speaker.wave.2"), Palette::accent(), 22, devicePixelRatioF()));
    column->addWidget(speaker, 0, Qt::AlignHCenter);
    meter_ = new MeterView(master_);
    meter_->setFixedWidth(108);
    column->addWidget(meter_, 0, Qt::AlignHCenter);
    masterFader_ = new MixerFader(store_.session().masterDB, QColor(Qt::white), [this] { store_.stop(); },
                                  [this](double dB) { store_.setMaster(dB); }, master_);
    masterFader_->setOwnerName(title->text());
    column->addWidget(masterFader_, 0, Qt::AlignHCenter);
    column->addWidget(label(qs(L("Стерео · 48 kHz")), Fonts::ui(10), Palette::secondaryText(), master_), 0,
                      Qt::AlignHCenter);
    // While locked the fader and "0 dB" take no input (a grab would stop the recording); the meter
    // stays live and undimmed.
    panels::followLocked(masterFader_, store_, transport_);

    row_->addWidget(master_);
    row_->addStretch(1);
    scroll_->setWidget(content);
    outer->addWidget(scroll_);

    connect(&store_, &StudioStore::sessionChanged, this, &MixerWorkspace::refresh);
    if (transport_) {
        meter_->setLevels(transport_->leftLevel(), transport_->rightLevel());
        connect(transport_, &TransportSignals::levelsChanged, meter_, &MeterView::setLevels);
    }
    refresh();
}

void MixerWorkspace::refresh() {
    const Session& session = store_.session();
    QWidget* content = scroll_->widget();
    std::vector<Uuid> order;
    std::map<Uuid, const Lane*> lanes;
    for (const Lane& lane : session.lanes) {
        if (lanes.count(lane.id)) continue;
        order.push_back(lane.id);
        lanes[lane.id] = &lane;
    }
    for (auto it = strips_.begin(); it != strips_.end();) {
        if (!lanes.count(it->first)) {
            row_->removeWidget(it->second);
            row_->removeWidget(dividers_[it->first]);
            it->second->hide();
            it->second->deleteLater();
            dividers_[it->first]->deleteLater();
            dividers_.erase(it->first);
            it = strips_.erase(it);
        } else {
            ++it;
        }
    }
    for (const Uuid& id : order) {
        MixerStrip*& strip = strips_[id];
        if (!strip) {
            strip = new MixerStrip(store_, transport_, *lanes[id], content);
            auto* line = new QWidget(content);
            line->setFixedWidth(1);
            line->setAutoFillBackground(true);
            setRoleColor(line, QPalette::Window, Palette::line());
            dividers_[id] = line;
        } else {
            strip->setLane(*lanes[id]);
        }
    }
    if (order != order_) {
        for (const Uuid& id : order) {
            row_->removeWidget(strips_[id]);
            row_->removeWidget(dividers_[id]);
        }
        int index = 0;
        for (const Uuid& id : order) {
            row_->insertWidget(index++, strips_[id]);
            row_->insertWidget(index++, dividers_[id]);
            strips_[id]->show();
            dividers_[id]->show();
        }
        order_ = order;
    }
    masterFader_->setValue(session.masterDB);
}

std::vector<MixerStrip*> MixerWorkspace::strips() const {
    std::vector<MixerStrip*> out;
    for (const Uuid& id : order_) out.push_back(strips_.at(id));
    return out;
}

MixerStrip* MixerWorkspace::strip(const Uuid& laneID) const {
    auto it = strips_.find(laneID);
    return it == strips_.end() ? nullptr : it->second;
}

}  // namespace tessoral
