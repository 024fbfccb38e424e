#include "transport/AudioBackend.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "model/Localization.h"

#include "transport/NullAudioBackend.h"
#include "transport/PortAudioBackend.h"

namespace tessoral {

const std::chrono::seconds kStreamStopLimit{2};
const std::chrono::milliseconds kStreamOpenLimit{10000};
const std::chrono::milliseconds kMainThreadOpenLimit{1000};

SoundServerSilent::SoundServerSilent()
    : PlatformError(L("Звуковой сервер не отвечает. Проверьте, что он запущен, и попробуйте ещё раз.")) {}

std::unique_ptr<AudioStream> openStreamBy(AudioBackend& backend, const AudioStreamRequest& request,
                                          std::shared_ptr<AudioCallback> callback, bool start,
                                          std::chrono::steady_clock::time_point deadline) {
    struct Opening {
        std::mutex mutex;
        std::condition_variable done;
        bool ended = false;
        bool abandoned = false;
        std::unique_ptr<AudioStream> stream;
        std::exception_ptr error;
    };
    auto opening = std::make_shared<Opening>();
    AudioBackend::Opener open = backend.opener();
    auto run = [opening, open, request, callback, start] {
        std::unique_ptr<AudioStream> stream;
        std::exception_ptr error;
        try {
            stream = open(request, *callback);
            if (start) stream->start();
        } catch (...) {
            stream.reset();
            error = std::current_exception();
        }
        std::unique_lock lock(opening->mutex);
        if (opening->abandoned) return;  // the stream goes here, before the callback
        opening->stream = std::move(stream);
        opening->error = error;
        opening->ended = true;
        lock.unlock();
        opening->done.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to spare: opened here, however long it takes
    }
    std::unique_lock lock(opening->mutex);
    if (!opening->done.wait_until(lock, deadline, [&] { return opening->ended; })) {
        opening->abandoned = true;
        throw SoundServerSilent();
    }
    if (opening->error) std::rethrow_exception(opening->error);
    return std::move(opening->stream);
}

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
