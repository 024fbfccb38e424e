#pragma once

#include <QColor>
#include <QStackedWidget>
#include <QString>

#include <optional>

class QLabel;

namespace tessoral {

class CorrelationMeter;
class TransportSignals;

// The transport bar's live meter, 170 wide: while the transport records, a red dot with the input
// state ("ВХОД" or "ВХОД · ПОВЕРХ", monitoring on or off); otherwise the momentary and short-term
// loudness ("M" and "S", LUFS) beside the phase correlation. It computes nothing: it shows what the
// transport's signals publish and follows each change in place.
class LiveMeterPanel : public QStackedWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 170;

    // `transport` may be null (nothing plays: both readouts "—").
    explicit LiveMeterPanel(TransportSignals* transport, QWidget* parent = nullptr);

    // A readout's text ("%.1f" with minus signs, or "—") and colour (none: secondary; above −9.0:
    // orange; else white).
    static QString readoutText(std::optional<double> lufs);
    static QColor readoutColor(std::optional<double> lufs);

    // The faces and their parts, as shown.
    QWidget* meterFace() const { return meterFace_; }
    QWidget* recordingFace() const { return recordingFace_; }
    QLabel* momentaryValue() const { return momentary_; }
    QLabel* shortTermValue() const { return shortTerm_; }
    QLabel* inputLabel() const { return input_; }
    QLabel* monitoringLabel() const { return monitoring_; }
    CorrelationMeter* correlation() const { return correlation_; }

    // Shows a state directly (what the transport's signals call).
    void setRecording(bool recording);
    void setOverdubbing(bool overdubbing);
    void setMonitoring(bool monitoring);
    void setLoudness(std::optional<double> momentary, std::optional<double> shortTerm);
    void setCorrelation(std::optional<double> correlation);

private:
    QWidget* readoutRow(const QString& letter, QLabel*& value, QWidget* parent);
    static void showReadout(QLabel* label, QWidget* row, const QString& letter, std::optional<double> lufs);

    QWidget* meterFace_ = nullptr;
    QWidget* recordingFace_ = nullptr;
    QLabel* momentary_ = nullptr;
    QLabel* shortTerm_ = nullptr;
    QLabel* input_ = nullptr;
    QLabel* monitoring_ = nullptr;
    CorrelationMeter* correlation_ = nullptr;
};

}  // namespace tessoral
