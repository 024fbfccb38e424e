#include "app/shell/TransportBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include "app/shell/ViewFactory.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/MeterView.h"
#include "widgets/Palette.h"
#include "widgets/ToolButton.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The fixed two-line tag "48 kHz" over "STEREO": monospaced 9, medium, secondary, 4 between the
// lines, an 8 leading margin. Never translated.
class FormatTag : public QWidget {
public:
    explicit FormatTag(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("formatTag"));
        setFont(Fonts::mono(9, QFont::Medium));
        setAccessibleName(text());
        const QFontMetrics fm(font());
        setFixedSize(8 + std::max(fm.horizontalAdvance(QStringLiteral("48 kHz")), fm.horizontalAdvance(QStringLiteral("STEREO"))),
                     2 * fm.height() + 4);
    }
    static QString text() { return QStringLiteral("48 kHz\nSTEREO"); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(Palette::secondaryText());
        const QFontMetrics fm(font());
        p.drawText(QPointF(8, fm.ascent()), QStringLiteral("48 kHz"));
        p.drawText(QPointF(8, fm.height() + 4 + fm.ascent()), QStringLiteral("STEREO"));
    }
};

}  // namespace

PositionDisplay::PositionDisplay(ViewContext context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("positionDisplay"));
    setFont(Fonts::mono(25, QFont::Light));
    setFixedSize(kLeadingMargin + kTextWidth, 34);
    setAccessibleName(qs(L("Позиция")));
    setCursor(Qt::PointingHandCursor);
    StudioStore* store = ctx_.store;
    connect(store, &StudioStore::cursorChanged, this, &PositionDisplay::refresh);
    connect(store, &StudioStore::timeFormatChanged, this, &PositionDisplay::refresh);
    connect(store, &StudioStore::sessionChanged, this, &PositionDisplay::refresh);
    connect(ctx_.transport, &TransportSignals::positionChanged, this, &PositionDisplay::refresh);
    connect(ctx_.transport, &TransportSignals::playingChanged, this, &PositionDisplay::refresh);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, &PositionDisplay::refresh);
    refresh();
}

void PositionDisplay::refresh() {
    const bool running = ctx_.transport->playing() || ctx_.transport->recording();
    const double value = running ? ctx_.transport->position() : ctx_.store->cursor();
    const QString text = qs(ctx_.store->formatTime(value));
    const bool red = ctx_.transport->recording();
    const QString tip = qs(L("Формат времени: {0}. Щелчок — следующий формат",
                             title(ctx_.store->timeFormat())));
    if (tip != toolTip()) setToolTip(tip);
    if (text == text_ && red == red_) return;
    text_ = text;
    red_ = red;
    setAccessibleDescription(text);
    update();
}

void PositionDisplay::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(red_ ? Palette::red() : QColor(Qt::white));
    p.drawText(QRect(kLeadingMargin, 0, kTextWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

void PositionDisplay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        ctx_.store->cycleTimeFormat();
}

TransportBar::TransportBar(ViewContext context, QWidget* parent)
    : Surface(blend(Palette::panel(), 0.55, Palette::background()), parent), ctx_(context) {
    setObjectName(QStringLiteral("transportBar"));
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(8);

    StudioStore* store = ctx_.store;
    start_ = new ToolButton(QStringLiteral("backward.end.fill"), qs(L("В начало")), false, Palette::primaryText(),
                            [store] { store->seek(store->selection() ? store->selection()->lower : 0.0); }, this);
    stop_ = new ToolButton(QStringLiteral("stop.fill"), qs(L("Остановить")), false, Palette::primaryText(),
                           [store] { store->stop(); }, this);
    play_ = new ToolButton(QStringLiteral("play.fill"), qs(L("Воспроизвести")), false, Palette::accent(),
                           [store] { store->playPause(); }, this);
    record_ = new ToolButton(QStringLiteral("record.circle"), qs(L("Записать с микрофона")), false, Palette::red(),
                             [store] { store->record(); }, this);
    loop_ = new ToolButton(QStringLiteral("repeat"), qs(L("Повтор")), false, Palette::accent(), [store] {
        store->stop();
        store->setLoop(!store->loop());
    }, this);
    start_->setObjectName(QStringLiteral("goToStart"));
    stop_->setObjectName(QStringLiteral("stop"));
    play_->setObjectName(QStringLiteral("play"));
    record_->setObjectName(QStringLiteral("record"));
    loop_->setObjectName(QStringLiteral("loop"));
    for (auto* b : {start_, stop_, play_, record_, loop_}) row->addWidget(b);

    position_ = new PositionDisplay(ctx_, this);
    row->addWidget(position_);
    row->addWidget(ViewFactory::tempoControl(ctx_, this));
    row->addSpacerItem(new QSpacerItem(12, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(ViewFactory::liveMeterPanel(ctx_, this));

    meter_ = new MeterView(this);
    meter_->setObjectName(QStringLiteral("meter"));
    meter_->setFixedWidth(180);
    row->addWidget(meter_);

    auto* tag = new FormatTag(this);
    row->addWidget(tag);

    connect(ctx_.transport, &TransportSignals::levelsChanged, meter_, &MeterView::setLevels);
    for (auto signal : {&StudioStore::busyChanged, &StudioStore::selectionChanged, &StudioStore::sessionChanged,
                        &StudioStore::loopChanged})
        connect(store, signal, this, &TransportBar::refreshButtons);
    connect(ctx_.transport, &TransportSignals::playingChanged, this, &TransportBar::refreshButtons);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, &TransportBar::refreshButtons);
    meter_->setLevels(ctx_.transport->leftLevel(), ctx_.transport->rightLevel());
    refreshButtons();
}

void TransportBar::refreshButtons() {
    const StudioStore& s = *ctx_.store;
    const bool playing = ctx_.transport->playing();
    const bool recording = ctx_.transport->recording();
    const bool locked = s.locked();
    const bool busyOther = s.busy() && !s.recordingTask();

    start_->setEnabled(!locked);
    stop_->setEnabled(!busyOther);

    play_->setSymbol(playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
    play_->setTitle(qs(playing ? L("Пауза#button") : L("Воспроизвести")));
    play_->setActive(playing);
    play_->setEnabled(!locked && !s.session().tracks.empty());

    record_->setSymbol(recording ? QStringLiteral("stop.circle.fill") : QStringLiteral("record.circle"));
    record_->setTitle(qs(recording        ? L("Завершить запись")
                         : s.selection() ? L("Панч-ин: записать в выделенный диапазон")
                                         : L("Записать с микрофона")));
    record_->setActive(recording || s.recordingTask());
    record_->setEnabled(!busyOther);

    loop_->setActive(s.loop());
    loop_->setEnabled(!locked);
}

}  // namespace tessoral
