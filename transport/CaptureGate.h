#pragma once

#include <mutex>
#include <optional>

namespace tessoral {

// Decides which captured input is kept. Not armed: every captured buffer is dropped. Keeping
// everything: nothing is dropped. Armed at a time: input captured before that time (on the
// capture stream's clock, in seconds) is dropped, so the take begins with the frame that was
// captured when the overdub playback started.
class CaptureGate {
public:
    struct State {
        bool armed = false;
        std::optional<double> start;  // none = keep everything
    };

    void keepEverything() {
        std::lock_guard guard(lock_);
        state_ = {true, std::nullopt};
    }
    void arm(double start) {
        std::lock_guard guard(lock_);
        state_ = {true, start};
    }
    State state() const {
        std::lock_guard guard(lock_);
        return state_;
    }

private:
    mutable std::mutex lock_;
    State state_;
};

}  // namespace tessoral
