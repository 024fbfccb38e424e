#pragma once

#include <QObject>

#include <optional>

namespace tessoral {

class AudioTransport;

// The transport's published state as Qt signals for the views. It takes over the transport's
// `changed` callback: after every play, stop and tick it compares the transport's state with what
// it last emitted and emits each signal only when its value changed. The transport refreshes the
// peak levels and position on every 1/30 s tick and loudness and correlation on every third, so
// the level signals come at most 30 times a second and the loudness ones at most 10.
class TransportSignals final : public QObject {
    Q_OBJECT
public:
    // The transport must outlive this object (or destroy it first).
    explicit TransportSignals(AudioTransport& transport, QObject* parent = nullptr);
    ~TransportSignals() override;

    // Compares with the transport's state and emits what changed; what the transport's `changed`
    // callback calls.
    void refresh();

    bool playing() const { return playing_; }
    bool recording() const { return recording_; }
    double position() const { return position_; }
    float leftLevel() const { return left_; }
    float rightLevel() const { return right_; }
    std::optional<double> momentaryLUFS() const { return momentary_; }
    std::optional<double> shortTermLUFS() const { return shortTerm_; }
    std::optional<double> phaseCorrelation() const { return correlation_; }
    bool monitoring() const { return monitoring_; }
    bool overdubbing() const { return overdubbing_; }

Q_SIGNALS:
    void playingChanged(bool playing);
    void recordingChanged(bool recording);
    void positionChanged(double seconds);
    void levelsChanged(float left, float right);
    void loudnessChanged(std::optional<double> momentary, std::optional<double> shortTerm);
    void correlationChanged(std::optional<double> correlation);
    void monitoringChanged(bool monitoring);
    void overdubbingChanged(bool overdubbing);

private:
    AudioTransport& transport_;
    bool playing_ = false;
    bool recording_ = false;
    double position_ = 0.0;
    float left_ = 0.0f;
    float right_ = 0.0f;
    std::optional<double> momentary_;
    std::optional<double> shortTerm_;
    std::optional<double> correlation_;
    bool monitoring_ = false;
    bool overdubbing_ = false;
};

}  // namespace tessoral
