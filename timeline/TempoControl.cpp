#include "timeline/TempoControl.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Styling.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

constexpr double kMinimumTempo = 20.0;
constexpr double kMaximumTempo = 300.0;

using styling::label;

// The tempo button: the tempo over the metre, the whole 70-point frame clickable.
class TempoButton : public QAbstractButton {
public:
    explicit TempoButton(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("tempoButton"));
        setFixedSize(70, 30);
        setCursor(Qt::PointingHandCursor);
    }
    void setTexts(const QString& tempo, const QString& meter) {
        if (tempo == tempo_ && meter == meter_) return;
        tempo_ = tempo;
        meter_ = meter;
        update();
    }
    QString tempo() const { return tempo_; }
    QString meter() const { return meter_; }

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (!isEnabled()) p.setOpacity(0.4);
        const QFont top = Fonts::mono(11, QFont::Medium);
        const QFont bottom = Fonts::mono(9);
        const int h1 = QFontMetrics(top).height();
        const int h2 = QFontMetrics(bottom).height();
        const int y = (height() - (h1 + 1 + h2)) / 2;
        p.setFont(top);
        p.setPen(isDown() ? Palette::secondaryText() : Palette::primaryText());
        p.drawText(QRect(0, y, width(), h1), Qt::AlignLeft | Qt::AlignVCenter, tempo_);
        p.setFont(bottom);
        p.setPen(Palette::secondaryText());
        p.drawText(QRect(0, y + h1 + 1, width(), h2), Qt::AlignLeft | Qt::AlignVCenter, meter_);
    }

private:
    QString tempo_;
    QString meter_;
};

}  // namespace

QString tempoText(double bpm) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, bpm, std::chars_format::general, 6);
    const std::string number = result.ec == std::errc() ? std::string(buffer, result.ptr) : num::shortest(bpm);
    return qs(number) + QStringLiteral(" BPM");
}

std::optional<double> parseTempo(const QString& text, const QLocale& user) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    for (QLocale locale : {user, QLocale::c()}) {
        locale.setNumberOptions(QLocale::RejectGroupSeparator);
        bool ok = false;
        const double v = locale.toDouble(t, &ok);
        // toDouble takes "nan" and "inf": only finite numbers are tempos.
        if (ok && std::isfinite(v)) return v;
    }
    return std::nullopt;
}

QString tempoFieldText(double bpm, const QLocale& user) {
    QLocale locale = user;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(bpm, 'f', 2);
    const QString point = locale.decimalPoint();
    if (text.contains(point)) {
        while (text.endsWith(QLatin1Char('0'))) text.chop(1);
        if (text.endsWith(point)) text.chop(point.size());
    }
    return text;
}

// ---- the popover ----

TempoPopover::TempoPopover(StudioStore& store, double tempo, int meter, QWidget* parent)
    : QFrame(parent, Qt::Popup), store_(store), tempo_(tempo), meter_(meter) {
    setObjectName(QStringLiteral("tempoPopover"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_NoMouseReplay);  // the click that closes it does not reopen it
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(280);
    styling::fillBackground(this, Palette::raised());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    column->addWidget(label(qs(L("Темп и размер")), Fonts::ui(13, QFont::DemiBold), Palette::primaryText(), this));

    auto* tempoRow = new QHBoxLayout;
    tempoRow->addWidget(label(qs(L("Темп, BPM")), Fonts::ui(11), Palette::primaryText(), this));
    tempoRow->addStretch(1);
    field_ = new QLineEdit(tempoFieldText(tempo), this);
    field_->setObjectName(QStringLiteral("tempoField"));
    field_->setPlaceholderText(QStringLiteral("BPM"));
    field_->setFixedWidth(70);
    connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (const auto v = parseTempo(text)) tempo_ = *v;
    });
    tempoRow->addWidget(field_);
    auto* stepper = new QVBoxLayout;
    stepper->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("tempoStepUp"));
    up_->setArrowType(Qt::UpArrow);
    up_->setFixedSize(16, 12);
    up_->setAutoRepeat(true);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("tempoStepDown"));
    down_->setArrowType(Qt::DownArrow);
    down_->setFixedSize(16, 12);
    down_->setAutoRepeat(true);
    connect(up_, &QToolButton::clicked, this, [this] { step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    stepper->addWidget(up_);
    stepper->addWidget(down_);
    tempoRow->addLayout(stepper);
    column->addLayout(tempoRow);

    auto* meterRow = new QHBoxLayout;
    meterRow->addWidget(label(qs(L("Долей в такте")), Fonts::ui(11), Palette::primaryText(), this));
    meterRow->addStretch(1);
    picker_ = new QComboBox(this);
    picker_->setObjectName(QStringLiteral("meterPicker"));
    picker_->setAccessibleName(qs(L("Размер")));
    picker_->setFixedWidth(90);
    for (int i = 1; i <= 16; ++i) picker_->addItem(QString::number(i) + QStringLiteral("/4"), i);
    picker_->setCurrentIndex(std::clamp(meter, 1, 16) - 1);
    connect(picker_, &QComboBox::activated, this, [this](int index) { meter_ = index + 1; });
    meterRow->addWidget(picker_);
    column->addLayout(meterRow);

    auto* note = label(qs(L("Сетка тактов видна в формате времени «Такты и доли»; там же включается привязка к долям.")),
                       Fonts::ui(10), Palette::secondaryText(), this);
    note->setWordWrap(true);
    column->addWidget(note);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancel_ = new QPushButton(qs(L("Отмена")), this);
    cancel_->setObjectName(QStringLiteral("tempoCancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    apply_ = new QPushButton(qs(L("Применить")), this);
    apply_->setObjectName(QStringLiteral("tempoApply"));
    apply_->setDefault(true);
    styling::makeProminent(apply_);
    connect(apply_, &QPushButton::clicked, this, &TempoPopover::apply);
    buttons->addWidget(cancel_);
    buttons->addWidget(apply_);
    column->addLayout(buttons);
}

void TempoPopover::step(int by) {
    tempo_ = std::clamp(tempo_ + by, kMinimumTempo, kMaximumTempo);
    field_->setText(tempoFieldText(tempo_));
}

void TempoPopover::apply() {
    if (const auto v = parseTempo(field_->text())) tempo_ = *v;
    store_.setTempo(tempo_, meter_);
    close();
}

void TempoPopover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        apply();
        return;
    }
    QFrame::keyPressEvent(event);  // Escape closes the popup
}

// ---- the control ----

TempoControl::TempoControl(StudioStore& store, TransportSignals* transport, QWidget* parent)
    : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("tempoControl"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    metronome_ = new ToolButton(QStringLiteral("metronome"), qs(L("Метроном при воспроизведении")), false, Palette::accent(),
                                [this] { store_.toggleMetronome(); }, this);
    metronome_->setObjectName(QStringLiteral("metronomeButton"));
    row->addWidget(metronome_);
    auto* button = new TempoButton(this);
    button->setToolTip(qs(L("Темп и размер проекта для сетки тактов и метронома")));
    button_ = button;
    connect(button_, &QAbstractButton::clicked, this, &TempoControl::openPopover);
    row->addWidget(button_);

    connect(&store_, &StudioStore::sessionChanged, this, &TempoControl::refresh);
    connect(&store_, &StudioStore::metronomeChanged, this, &TempoControl::refresh);
    connect(&store_, &StudioStore::busyChanged, this, &TempoControl::refresh);
    if (transport) connect(transport, &TransportSignals::recordingChanged, this, &TempoControl::refresh);
    refresh();
}

QString TempoControl::tempoLabel() const { return static_cast<TempoButton*>(button_)->tempo(); }
QString TempoControl::meterLabel() const { return static_cast<TempoButton*>(button_)->meter(); }

void TempoControl::refresh() {
    const Session& s = store_.session();
    static_cast<TempoButton*>(button_)->setTexts(tempoText(s.tempo), QString::number(s.beatsPerBar) + QStringLiteral("/4"));
    metronome_->setActive(store_.metronome());
    setEnabled(!store_.locked());
    if (store_.locked() && popover_) popover_->close();
}

void TempoControl::openPopover() {
    if (store_.locked()) return;
    if (popover_) popover_->close();
    const Session& s = store_.session();
    popover_ = new TempoPopover(store_, s.tempo, int(std::clamp<std::int64_t>(s.beatsPerBar, 1, 16)), this);
    popover_->adjustSize();
    // Below the button, or above it where the window has no room below (the transport bar sits
    // near the window's bottom).
    const QPoint below = button_->mapToGlobal(QPoint(button_->width() / 2, button_->height() + 4));
    const int windowBottom = window()->mapToGlobal(QPoint(0, window()->height())).y();
    const int y = below.y() + popover_->height() > windowBottom
                      ? button_->mapToGlobal(QPoint(0, 0)).y() - 4 - popover_->height()
                      : below.y();
    popover_->move(below.x() - popover_->width() / 2, y);
    popover_->show();
    popover_->tempoField()->setFocus();
}

}  // namespace tessoral
