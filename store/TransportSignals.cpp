#include "store/TransportSignals.h"

#include "transport/AudioTransport.h"

namespace tessoral {

TransportSignals::TransportSignals(AudioTransport& transport, QObject* parent) : QObject(parent), transport_(transport) {
    playing_ = transport_.playing();
    recording_ = transport_.recording();
    position_ = transport_.position();
    left_ = transport_.leftLevel();
    right_ = transport_.rightLevel();
    momentary_ = transport_.momentaryLUFS();
    shortTerm_ = transport_.shortTermLUFS();
    correlation_ = transport_.phaseCorrelation();
    monitoring_ = transport_.monitoring();
    overdubbing_ = transport_.overdubbing();
    transport_.changed = [this] { refresh(); };
}

TransportSignals::~TransportSignals() { transport_.changed = nullptr; }

void TransportSignals::refresh() {
    // Values first, signals after: a slot that reads any of the getters sees the whole new state.
    const bool playing = transport_.playing();
    const bool recording = transport_.recording();
    const double position = transport_.position();
    const float left = transport_.leftLevel();
    const float right = transport_.rightLevel();
    const auto momentary = transport_.momentaryLUFS();
    const auto shortTerm = transport_.shortTermLUFS();
    const auto correlation = transport_.phaseCorrelation();
    const bool monitoring = transport_.monitoring();
    const bool overdubbing = transport_.overdubbing();

    const bool playingChange = playing != playing_;
    const bool recordingChange = recording != recording_;
    const bool positionChange = position != position_;
    const bool levelsChange = left != left_ || right != right_;
    const bool loudnessChange = momentary != momentary_ || shortTerm != shortTerm_;
    const bool correlationChange = correlation != correlation_;
    const bool monitoringChange = monitoring != monitoring_;
    const bool overdubbingChange = overdubbing != overdubbing_;

    playing_ = playing;
    recording_ = recording;
    position_ = position;
    left_ = left;
    right_ = right;
    momentary_ = momentary;
    shortTerm_ = shortTerm;
    correlation_ = correlation;
    monitoring_ = monitoring;
    overdubbing_ = overdubbing;

    if (playingChange) Q_EMIT playingChanged(playing);
    if (recordingChange) Q_EMIT recordingChanged(recording);
    if (positionChange) Q_EMIT positionChanged(position);
    if (levelsChange) Q_EMIT levelsChanged(left, right);
    if (loudnessChange) Q_EMIT loudnessChanged(momentary, shortTerm);
    if (correlationChange) Q_EMIT correlationChanged(correlation);
    if (monitoringChange) Q_EMIT monitoringChanged(monitoring);
    if (overdubbingChange) Q_EMIT overdubbingChanged(overdubbing);
}

}  // namespace tessoral
