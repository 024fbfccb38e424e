#include "transport/AudioBackend.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "transport/NullAudioBackend.h"
#include "transport/PortAudioBackend.h"

namespace tessoral {

const std::chrono::seconds kStreamStopLimit{2};

void stopStreamBy(std::unique_ptr<AudioStream>& stream, std::shared_ptr<const void> callee,
                  std::chrono::steady_clock::time_point deadline) noexcept {
    if (!stream) return;
    struct Stopping {
        std::mutex mutex;
        std::condition_variable done;
        bool stopped = false;
        // Handed over when the wait ends first, destroyed by the stopping thread.
        std::unique_ptr<AudioStream> stream;
        std::shared_ptr<const void> callee;
    };
    try {
        auto stopping = std::make_shared<Stopping>();
        std::thread([stopping, device = stream.get()] {
            device->stop();
            std::unique_lock lock(stopping->mutex);
            stopping->stopped = true;
            auto stream = std::move(stopping->stream);
            auto callee = std::move(stopping->callee);
            lock.unlock();
            stopping->done.notify_all();
            stream.reset();  // before what its callback uses
        }).detach();
        std::unique_lock lock(stopping->mutex);
        if (stopping->done.wait_until(lock, deadline, [&] { return stopping->stopped; })) return;
        stopping->stream = std::move(stream);
        stopping->callee = std::move(callee);
    } catch (...) {
        stream->stop();  // no thread to spare: stopped here, however long it takes
    }
}

std::unique_ptr<AudioBackend> AudioBackend::system() {
    auto portAudio = std::make_unique<PortAudioBackend>();
    if (portAudio->hasOutputDevice()) return portAudio;
    portAudio.reset();
    return std::make_unique<NullAudioBackend>(NullAudioBackend::Mode::paced);
}

}  // namespace tessoral
