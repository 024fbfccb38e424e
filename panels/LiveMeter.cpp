#include "panels/LiveMeter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "model/Localization.h"
#include "panels/CorrelationMeter.h"
#include "panels/PanelSupport.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Spinner.h"

namespace tessoral {

namespace {

using panels::qs;

constexpr int kFontSize = 9;

QLabel* label(const QString& text, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(Fonts::mono(kFontSize, QFont::Medium));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

void setColor(QLabel* l, const QColor& color) {
    QPalette pal = l->palette();
    if (pal.color(QPalette::WindowText) == color) return;
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
}

void setText(QLabel* l, const QString& text) {
    if (l->text() != text) l->setText(text);
}

}  // namespace

LiveMeterPanel::LiveMeterPanel(TransportSignals* transport, QWidget* parent) : QStackedWidget(parent) {
    setObjectName(QStringLiteral("liveMeterPanel"));
    setFixedWidth(kWidth);

    // Loudness and correlation.
    meterFace_ = new QWidget(this);
    meterFace_->setObjectName(QStringLiteral("liveMeterLoudness"));
    auto* row = new QHBoxLayout(meterFace_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addStretch(1);
    auto* readouts = new QWidget(meterFace_);
    readouts->setToolTip(qs(L("Громкость LUFS (BS.1770): M — мгновенная, окно 400 мс; S — краткосрочная, окно 3 с")));
    auto* column = new QVBoxLayout(readouts);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    column->addWidget(readoutRow(QStringLiteral("M"), momentary_, readouts), 0, Qt::AlignRight);
    column->addWidget(readoutRow(QStringLiteral("S"), shortTerm_, readouts), 0, Qt::AlignRight);
    row->addWidget(readouts, 0, Qt::AlignVCenter);
    correlation_ = new CorrelationMeter(meterFace_);
    correlation_->setFixedWidth(84);
    row->addWidget(correlation_, 0, Qt::AlignVCenter);
    addWidget(meterFace_);

    // Recording.
    recordingFace_ = new QWidget(this);
    recordingFace_->setObjectName(QStringLiteral("liveMeterRecording"));
    recordingFace_->setToolTip(qs(L("Индикатор уровня показывает пиковый уровень микрофона")));
    auto* recRow = new QHBoxLayout(recordingFace_);
    recRow->setContentsMargins(0, 0, 0, 0);
    recRow->setSpacing(6);
    recRow->addStretch(1);
    recRow->addWidget(new Dot(7, Palette::red(), recordingFace_), 0, Qt::AlignVCenter);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    input_ = label(qs(L("ВХОД")), Palette::red(), recordingFace_);
    monitoring_ = label(qs(L("мониторинг выкл.")), Palette::secondaryText(), recordingFace_);
    lines->addWidget(input_);
    lines->addWidget(monitoring_);
    recRow->addLayout(lines);
    addWidget(recordingFace_);

    setCurrentWidget(meterFace_);
    setLoudness(std::nullopt, std::nullopt);

    if (transport) {
        setOverdubbing(transport->overdubbing());
        setMonitoring(transport->monitoring());
        setLoudness(transport->momentaryLUFS(), transport->shortTermLUFS());
        setCorrelation(transport->phaseCorrelation());
        setRecording(transport->recording());
        connect(transport, &TransportSignals::recordingChanged, this, &LiveMeterPanel::setRecording);
        connect(transport, &TransportSignals::overdubbingChanged, this, &LiveMeterPanel::setOverdubbing);
        connect(transport, &TransportSignals::monitoringChanged, this, &LiveMeterPanel::setMonitoring);
        connect(transport, &TransportSignals::loudnessChanged, this, &LiveMeterPanel::setLoudness);
        connect(transport, &TransportSignals::correlationChanged, this, &LiveMeterPanel::setCorrelation);
    }
}

QWidget* LiveMeterPanel::readoutRow(const QString& letter, QLabel*& value, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setAccessibleName(letter);
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(label(letter, Palette::secondaryText(), w));
    value = label(QString(), Palette::secondaryText(), w);
    value->setFixedWidth(38);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setProperty("letter", letter);
    row->addWidget(value);
    row->addWidget(label(QStringLiteral("LUFS"), Palette::secondaryText(), w));
    return w;
}

QString LiveMeterPanel::readoutText(std::optional<double> lufs) {
    if (!lufs) return QString(QChar(0x2014));
    return panels::fixedText(*lufs, 1);
}

QColor LiveMeterPanel::readoutColor(std::optional<double> lufs) {
    if (!lufs) return Palette::secondaryText();
    if (*lufs > -9.0) return panels::orange();
    return QColor(Qt::white);
}

void LiveMeterPanel::showReadout(QLabel* value, QWidget* row, const QString& letter, std::optional<double> lufs) {
    const QString text = readoutText(lufs);
    setText(value, text);
    setColor(value, readoutColor(lufs));
    // Accessibility reads the row as one element.
    row->setAccessibleName(letter + QLatin1Char(' ') + text + QStringLiteral(" LUFS"));
}

void LiveMeterPanel::setRecording(bool recording) {
    QWidget* face = recording ? recordingFace_ : meterFace_;
    if (currentWidget() != face) setCurrentWidget(face);
}

void LiveMeterPanel::setOverdubbing(bool overdubbing) {
    setText(input_, qs(overdubbing ? L("ВХОД · ПОВЕРХ") : L("ВХОД")));
}

void LiveMeterPanel::setMonitoring(bool monitoring) {
    setText(monitoring_, qs(monitoring ? L("мониторинг вкл.") : L("мониторинг выкл.")));
}

void LiveMeterPanel::setLoudness(std::optional<double> momentary, std::optional<double> shortTerm) {
    showReadout(momentary_, momentary_->parentWidget(), QStringLiteral("M"), momentary);
    showReadout(shortTerm_, shortTerm_->parentWidget(), QStringLiteral("S"), shortTerm);
}

void LiveMeterPanel::setCorrelation(std::optional<double> correlation) { correlation_->setValue(correlation); }

}  // namespace tessoral
