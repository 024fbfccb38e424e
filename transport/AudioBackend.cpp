#include "transport/AudioBackend.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "model/Localization.h"

#include "transport/NullAudioBackend.h"
#include "transport/PortAudioBackend.h"

namespace tessoral {

const std::chrono::milliseconds kStreamStopLimit{1500};
const std::chrono::milliseconds kStreamOpenLimit{10000};
const std::chrono::milliseconds kMainThreadOpenLimit{1000};

SoundServerSilent::SoundServerSilent()
    : SoundServerFault(L("Звуковой сервер не отвечает. Проверьте, что он запущен, и попробуйте ещё раз.")) {}

SoundServerGone::SoundServerGone()
    : SoundServerFault(L("Звуковой сервер не запущен. Запустите его и попробуйте ещё раз.")) {}

namespace {

// What every opening waits on: its own end, its backend's start, or the program's end. Never
// destroyed: a thread left to an opening may still take it while the process ends.
struct Openings {
    std::mutex mutex;
    std::condition_variable changed;
    bool givenUp = false;  // under mutex
};

Openings& openings() {
    static Openings* all = new Openings;
    return *all;
}

}  // namespace

void giveUpStreamOpenings() noexcept {
    Openings& all = openings();
    {
        std::lock_guard lock(all.mutex);
        all.givenUp = true;
    }
    all.changed.notify_all();
}

void wakeStreamOpenings() noexcept {
    Openings& all = openings();
    { std::lock_guard lock(all.mutex); }
    all.changed.notify_all();
}

std::unique_ptr<AudioStream> openStreamBy(AudioBackend& backend, const AudioStreamRequest& request,
                                          std::shared_ptr<AudioCallback> callback, bool start,
                                          std::chrono::steady_clock::time_point deadline) {
    Openings& all = openings();
    {
        std::unique_lock lock(all.mutex);
        all.changed.wait_until(lock, deadline, [&] { return all.givenUp || backend.started(); });
        if (all.givenUp || !backend.started()) throw SoundServerSilent();
    }
    struct Opening {  // under the openings' mutex
        bool ended = false;
        bool abandoned = false;
        std::unique_ptr<AudioStream> stream;
        std::exception_ptr error;
    };
    auto opening = std::make_shared<Opening>();
    AudioBackend::Opener open = backend.opener();
    auto run = [&all, opening, open, request, callback, start] {
        std::unique_ptr<AudioStream> stream;
        std::exception_ptr error;
        try {
            stream = open(request, *callback);
            if (start) stream->start();
        } catch (...) {
            stream.reset();
            error = std::current_exception();
        }
        std::unique_lock lock(all.mutex);
        if (opening->abandoned) {
            lock.unlock();
            return;  // the stream goes here, before the callback
        }
        opening->stream = std::move(stream);
        opening->error = error;
        opening->ended = true;
        lock.unlock();
        all.changed.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to spare: opened here, however long it takes
    }
    std::unique_lock lock(all.mutex);
    all.changed.wait_until(lock, deadline, [&] { return opening->ended || all.givenUp; });
    if (!opening->ended) {
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

bool StreamStop::done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

bool StreamStop::waitUntil(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    return finished_.wait_until(lock, deadline, [this] { return done_; });
}

void StreamStop::finish() noexcept {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    finished_.notify_all();
}

std::shared_ptr<StreamStop> stopStreamLater(std::unique_ptr<AudioStream> stream,
                                            std::shared_ptr<const void> callee) noexcept {
    // Handed to the stopping thread whole: the stream goes there, before what its callback uses.
    struct Job {
        std::unique_ptr<AudioStream> stream;
        std::shared_ptr<const void> callee;
        std::shared_ptr<StreamStop> stop;
        void operator()() noexcept {
            if (stream) stream->stop();
            stream.reset();
            callee.reset();
            stop->finish();
        }
    };
    std::shared_ptr<Job> job;
    try {
        job = std::make_shared<Job>(Job{std::move(stream), std::move(callee), std::make_shared<StreamStop>()});
        std::thread([job] { (*job)(); }).detach();
        return job->stop;
    } catch (...) {
        // No thread (or memory) to spare: stopped here, however long it takes.
        if (job) {
            (*job)();
            return job->stop;
        }
        if (stream) stream->stop();
        stream.reset();
        return nullptr;
    }
}

std::unique_ptr<AudioBackend> AudioBackend::system() {
    auto portAudio = std::make_unique<PortAudioBackend>();
    // No device while a sound server is not running: kept, so that playing says so, and finds
    // the server's devices once it runs.
    if (portAudio->hasOutputDevice() || portAudio->soundServerGone()) return portAudio;
    portAudio.reset();
    return std::make_unique<NullAudioBackend>(NullAudioBackend::Mode::paced);
}

struct StartingAudioBackend::State {
    std::atomic<bool> started{false};
    std::mutex mutex;
    std::condition_variable made;
    std::shared_ptr<AudioBackend> backend;  // under mutex
};

StartingAudioBackend::StartingAudioBackend(std::function<std::unique_ptr<AudioBackend>()> make)
    : state_(std::make_shared<State>()) {
    auto run = [state = state_, make = std::move(make)] {
        std::shared_ptr<AudioBackend> backend;
        try {
            backend = make();
        } catch (...) {
        }
        // A library that did not start leaves a machine without sound: playback runs silently.
        if (!backend) backend = std::make_shared<NullAudioBackend>(NullAudioBackend::Mode::paced);
        {
            std::lock_guard lock(state->mutex);
            state->backend = std::move(backend);
            state->started.store(true);
        }
        state->made.notify_all();
        wakeStreamOpenings();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to spare: started here, however long it takes
    }
}

StartingAudioBackend::~StartingAudioBackend() {
    // The backend made ends here, on this thread, though a thread that opened a stream may still
    // hold the state for a moment: a library's end never runs beside whatever comes next.
    std::shared_ptr<AudioBackend> ending;
    std::lock_guard lock(state_->mutex);
    ending = std::move(state_->backend);
}

std::shared_ptr<AudioBackend> StartingAudioBackend::made() const {
    std::lock_guard lock(state_->mutex);
    return state_->backend;
}

bool StartingAudioBackend::started() const { return state_->started.load(); }

std::vector<BackendDevice> StartingAudioBackend::deviceTable() const {
    const auto backend = made();
    return backend ? backend->deviceTable() : std::vector<BackendDevice>{};
}

bool StartingAudioBackend::refreshDevices() {
    const auto backend = made();
    return backend && backend->refreshDevices();
}

std::unique_ptr<AudioStream> StartingAudioBackend::openStream(const AudioStreamRequest& request, AudioCallback& callback) {
    const auto backend = made();
    if (!backend) throw SoundServerSilent();
    return backend->openStream(request, callback);
}

AudioBackend::Opener StartingAudioBackend::opener() {
    return [state = state_](const AudioStreamRequest& request, AudioCallback& callback) {
        std::shared_ptr<AudioBackend> backend;
        {
            std::lock_guard lock(state->mutex);
            backend = state->backend;
        }
        if (!backend) throw SoundServerSilent();
        return backend->opener()(request, callback);
    };
}

std::function<bool()> StartingAudioBackend::scanner() {
    if (const auto backend = made()) return [backend, scan = backend->scanner()] { return scan(); };
    // The start's own scan is the fresh one: it is waited for, not repeated.
    return [state = state_] {
        std::unique_lock lock(state->mutex);
        state->made.wait(lock, [&] { return state->backend != nullptr; });
        return true;
    };
}

bool StartingAudioBackend::requestInputAccess() {
    const auto backend = made();
    return !backend || backend->requestInputAccess();
}

std::optional<std::uint32_t> StartingAudioBackend::defaultInputDevice() const {
    const auto backend = made();
    return backend ? backend->defaultInputDevice() : std::nullopt;
}

bool StartingAudioBackend::awaitsDevices() const {
    const auto backend = made();
    return backend && backend->awaitsDevices();
}

bool StartingAudioBackend::soundServerGone() const {
    const auto backend = made();
    return backend && backend->soundServerGone();
}

}  // namespace tessoral
