#include "transport/NullAudioBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <thread>

#include "model/Frames.h"
#include "model/Localization.h"
#include "model/StudioError.h"
#include "transport/NullInputScript.h"

namespace tessoral {

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

class NullAudioStream final : public AudioStream {
public:
    NullAudioStream(NullAudioBackend& backend, const AudioStreamRequest& request, AudioCallback& callback)
        : backend_(backend), request_(request), callback_(callback) {
        const auto channels = static_cast<std::size_t>(std::max(request.outputChannels, 0));
        const auto inputs = static_cast<std::size_t>(std::max(request.inputChannels, 0));
        const auto block = static_cast<std::size_t>(NullAudioBackend::kBlockFrames);
        outputs_.assign(channels, std::vector<float>(block, 0.0f));
        inputs_.assign(inputs, std::vector<float>(block, 0.0f));
        for (auto& c : outputs_) outputPointers_.push_back(c.data());
        for (auto& c : inputs_) inputPointers_.push_back(c.data());
        std::lock_guard lock(backend.mutex_);
        script_ = backend.input_;
        inputLatency_ = backend.inputLatency_;
        outputLatency_ = backend.outputLatency_;
        if (backend.mode() == NullAudioBackend::Mode::manual) {
            loopback_ = backend.loopback_ && !inputs_.empty();
            inputDelay_ = roundSaturating(inputLatency_ * request.sampleRate);
            // The queue of what is rendered but not yet heard: the first two output channels.
            const std::int64_t queued = roundSaturating(outputLatency_ * request.sampleRate);
            if (queued > 0 && channels > 0) {
                queue_.assign(std::min<std::size_t>(channels, 2), std::vector<float>(static_cast<std::size_t>(queued), 0.0f));
            }
        }
    }

    ~NullAudioStream() override {
        stop();
        backend_.detach(this);
    }

    void start() override {
        if (running_.load()) return;
        {
            std::lock_guard lock(backend_.mutex_);
            if (backend_.startFailure_) {
                std::string detail = std::move(*backend_.startFailure_);
                backend_.startFailure_.reset();
                throw PlatformError(L("Не удалось запустить звуковое устройство: {0}", detail));
            }
        }
        if (backend_.mode() == NullAudioBackend::Mode::manual) {
            running_.store(true);
            return;
        }
        {
            std::lock_guard lock(threadMutex_);
            quit_ = false;
        }
        running_.store(true);
        thread_ = std::thread([this] { pace(); });
    }

    void stop() noexcept override {
        if (backend_.mode() == NullAudioBackend::Mode::manual) {
            {
                std::unique_lock hold(backend_.holdMutex_);
                backend_.released_.wait(hold, [this] { return !backend_.stopsHeld_; });
            }
            // Not while a pump runs this stream's cycle. What the device still had queued is
            // thrown away, as a sound server does on a stop.
            std::lock_guard lock(backend_.mutex_);
            running_.store(false);
            for (auto& q : queue_) std::fill(q.begin(), q.end(), 0.0f);
            return;
        }
        if (!running_.exchange(false)) return;
        if (thread_.joinable()) {
            {
                std::lock_guard lock(threadMutex_);
                quit_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
    }

    double sampleRate() const override { return request_.sampleRate; }
    int inputChannels() const override { return std::max(request_.inputChannels, 0); }
    double inputLatency() const override { return inputLatency_; }
    double outputLatency() const override { return outputLatency_; }
    double time() const override {
        if (backend_.mode() == NullAudioBackend::Mode::paced) return monotonicSeconds();
        return static_cast<double>(backend_.pumpedFrames()) / kSampleRate;
    }

    bool running() const { return running_.load(); }

    bool hasInput() const { return !inputs_.empty(); }

    // One cycle of at most kBlockFrames frames beginning at pumped frame `position` (manual mode)
    // or on the clock at `now`; the output heard in it is added into left/right and, with the
    // loopback on, into the backend's record of what was heard.
    void cycle(std::int64_t frames, double now, std::int64_t position, float* left, float* right,
               bool inputGap = false, bool outputGap = false) noexcept {
        for (auto& c : outputs_) std::fill(c.begin(), c.begin() + frames, 0.0f);
        AudioBlock block;
        block.input = inputPointers_.empty() ? nullptr : inputPointers_.data();
        block.inputChannels = static_cast<int>(inputPointers_.size());
        block.output = outputPointers_.empty() ? nullptr : outputPointers_.data();
        block.outputChannels = static_cast<int>(outputPointers_.size());
        block.frames = frames;
        // As a device stamps them: the input was captured a latency ago, the output is heard a latency on.
        block.inputTime = now - inputLatency_;
        block.outputTime = now + outputLatency_;
        block.now = now;
        block.inputGap = inputGap && !inputs_.empty();
        block.outputGap = outputGap && !outputs_.empty();
        if (loopback_) {
            backend_.readHeard(position - inputDelay_, frames, inputs_[0].data(),
                               inputs_.size() > 1 ? inputs_[1].data() : nullptr);
            for (std::size_t c = 2; c < inputs_.size(); ++c)
                std::copy(inputs_[0].begin(), inputs_[0].begin() + frames, inputs_[c].begin());
        } else if (script_ && !inputs_.empty()) {
            const double captured = script_->fill(inputs_, frames, now);
            block.inputTime = captured == 0.0 ? 0.0 : captured - inputLatency_;
        }
        callback_.process(block);
        // Through the device's queue: what comes out now was rendered the output latency ago.
        for (std::size_t c = 0; c < queue_.size(); ++c) {
            float* out = outputs_[c].data();
            auto& q = queue_[c];
            const auto length = static_cast<std::int64_t>(q.size());
            std::int64_t at = queueAt_;
            for (std::int64_t i = 0; i < frames; ++i) {
                std::swap(out[i], q[static_cast<std::size_t>(at)]);
                if (++at == length) at = 0;
            }
        }
        if (!queue_.empty()) queueAt_ = (queueAt_ + frames) % static_cast<std::int64_t>(queue_[0].size());
        const float* heardLeft = outputs_.empty() ? nullptr : outputs_[0].data();
        const float* heardRight = outputs_.size() > 1 ? outputs_[1].data() : nullptr;
        if (left && heardLeft)
            for (std::int64_t i = 0; i < frames; ++i) left[i] += heardLeft[i];
        if (right && heardRight)
            for (std::int64_t i = 0; i < frames; ++i) right[i] += heardRight[i];
        if (heardLeft && backend_.mode() == NullAudioBackend::Mode::manual)
            backend_.addHeard(position, frames, heardLeft, heardRight ? heardRight : heardLeft);
    }

private:
    // Paced mode: one block per block duration on the monotonic clock. A late thread does
    // not catch up in a burst: it resumes from now.
    void pace() noexcept {
        try {
            using clock = std::chrono::steady_clock;
            const auto period = std::chrono::duration_cast<clock::duration>(
                std::chrono::duration<double>(NullAudioBackend::kBlockFrames / request_.sampleRate));
            auto deadline = clock::now();
            std::unique_lock lock(threadMutex_);
            while (!quit_) {
                lock.unlock();
                cycle(NullAudioBackend::kBlockFrames, monotonicSeconds(), 0, nullptr, nullptr);
                lock.lock();
                deadline += period;
                const auto now = clock::now();
                if (deadline < now - period) deadline = now;
                wake_.wait_until(lock, deadline, [this] { return quit_; });
            }
        } catch (...) {
            // Nothing here throws in practice; an exception must not leave the thread.
        }
    }

    NullAudioBackend& backend_;
    const AudioStreamRequest request_;
    AudioCallback& callback_;
    std::vector<std::vector<float>> outputs_;
    std::vector<std::vector<float>> inputs_;
    std::vector<float*> outputPointers_;
    std::vector<const float*> inputPointers_;
    std::shared_ptr<NullInputScript> script_;
    double inputLatency_ = 0.0;
    double outputLatency_ = 0.0;
    bool loopback_ = false;
    std::int64_t inputDelay_ = 0;              // frames, loopback only
    std::vector<std::vector<float>> queue_;    // manual mode: output rendered but not yet heard
    std::int64_t queueAt_ = 0;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex threadMutex_;
    std::condition_variable wake_;
    bool quit_ = false;
};

NullAudioBackend::NullAudioBackend(Mode mode) : mode_(mode), hold_(std::make_shared<Hold>()) {}

NullAudioBackend::~NullAudioBackend() = default;

void NullAudioBackend::setDevices(std::vector<BackendDevice> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void NullAudioBackend::failNextOpen(std::string detail) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(detail);
}

std::vector<BackendDevice> NullAudioBackend::deviceTable() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

struct NullAudioBackend::Hold {
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
    void pass() {
        std::unique_lock lock(mutex);
        released.wait(lock, [this] { return !held; });
    }
};

void NullAudioBackend::hold(bool held) {
    {
        std::lock_guard lock(hold_->mutex);
        hold_->held = held;
    }
    hold_->released.notify_all();
}

std::function<bool()> NullAudioBackend::scanner() {
    return [hold = hold_] {
        hold->pass();
        return true;
    };
}

bool NullAudioBackend::refreshDevices() {
    std::lock_guard lock(mutex_);
    return streams_.empty();
}

std::unique_ptr<AudioStream> NullAudioBackend::openStream(const AudioStreamRequest& request, AudioCallback& callback) {
    hold_->pass();
    {
        std::lock_guard lock(mutex_);
        lastRequest_ = request;
        if (failure_) {
            std::string detail = std::move(*failure_);
            failure_.reset();
            throw PlatformError(L("Не удалось открыть звуковое устройство: {0}", detail));
        }
        if (outputFailure_ && request.outputChannels > 0) {
            std::string detail = std::move(*outputFailure_);
            outputFailure_.reset();
            throw PlatformError(L("Не удалось открыть звуковое устройство: {0}", detail));
        }
        auto known = [this](std::optional<std::uint32_t> id, bool output) {
            if (!id) return true;
            return std::any_of(devices_.begin(), devices_.end(), [&](const BackendDevice& d) {
                return d.id == *id && (output ? d.outputChannels : d.inputChannels) > 0;
            });
        };
        if ((request.outputChannels > 0 && !known(request.outputDevice, true)) ||
            (request.inputChannels > 0 && !known(request.inputDevice, false)))
            throw PlatformError(L("Не удалось открыть звуковое устройство: {0}", std::string("no such device")));
        if (refused_ && refused_(request))
            throw PlatformError(L("Не удалось открыть звуковое устройство: {0}", std::string("refused")));
    }
    auto stream = std::make_unique<NullAudioStream>(*this, request, callback);
    std::lock_guard lock(mutex_);
    streams_.push_back(stream.get());
    return stream;
}

void NullAudioBackend::pump(std::int64_t frames, float* left, float* right) {
    if (mode_ != Mode::manual || frames < 1) return;
    std::int64_t done = 0;
    while (done < frames) {
        const std::int64_t n = std::min(kBlockFrames, frames - done);
        const std::int64_t position = pumped_.load();
        const double now = static_cast<double>(position) / kSampleRate;
        {
            std::lock_guard lock(mutex_);
            if (loopback_) {
                for (std::int64_t i = 0; i < n; ++i) {
                    const auto at = static_cast<std::size_t>((position + i) & (kHeardFrames - 1));
                    heardLeft_[at] = heardRight_[at] = 0.0f;
                }
            }
            // Outputs first, so what they play this block is there for an input that hears it.
            for (const bool inputs : {false, true})
                for (NullAudioStream* s : streams_)
                    if (s->running() && s->hasInput() == inputs)
                        s->cycle(n, now, position, left ? left + done : nullptr, right ? right + done : nullptr,
                                 inputGapNext_, outputGapNext_);
            inputGapNext_ = outputGapNext_ = false;
        }
        pumped_ += n;
        done += n;
    }
}

void NullAudioBackend::setLoopback(bool on) {
    std::lock_guard lock(mutex_);
    loopback_ = on && mode_ == Mode::manual;
    if (loopback_) {
        heardLeft_.assign(static_cast<std::size_t>(kHeardFrames), 0.0f);
        heardRight_.assign(static_cast<std::size_t>(kHeardFrames), 0.0f);
    }
}

void NullAudioBackend::addHeard(std::int64_t from, std::int64_t frames, const float* left, const float* right) noexcept {
    if (!loopback_ || from < 0) return;
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto at = static_cast<std::size_t>((from + i) & (kHeardFrames - 1));
        heardLeft_[at] += left[i];
        heardRight_[at] += right[i];
    }
}

void NullAudioBackend::readHeard(std::int64_t from, std::int64_t frames, float* left, float* right) const noexcept {
    // Frames before the first pumped one, or so old that the ring has reused their place, are silence.
    const std::int64_t oldest = pumped_.load() + kBlockFrames - kHeardFrames;
    for (std::int64_t i = 0; i < frames; ++i) {
        const std::int64_t q = from + i;
        const bool kept = loopback_ && q >= 0 && q >= oldest;
        const auto at = static_cast<std::size_t>(q & (kHeardFrames - 1));
        left[i] = kept ? heardLeft_[at] : 0.0f;
        if (right) right[i] = kept ? heardRight_[at] : 0.0f;
    }
}

void NullAudioBackend::setInput(std::shared_ptr<NullInputScript> script) {
    std::lock_guard lock(mutex_);
    input_ = std::move(script);
}

void NullAudioBackend::setLatencies(double input, double output) {
    auto valid = [](double x) { return std::isfinite(x) && x > 0.0 ? std::min(x, 10.0) : 0.0; };
    std::lock_guard lock(mutex_);
    inputLatency_ = valid(input);
    outputLatency_ = valid(output);
}

void NullAudioBackend::refuseInputAccess(bool refused) {
    std::lock_guard lock(mutex_);
    inputRefused_ = refused;
}

void NullAudioBackend::failNextStart(std::string detail) {
    std::lock_guard lock(mutex_);
    startFailure_ = std::move(detail);
}

void NullAudioBackend::reportGapNextBlock(bool input, bool output) {
    std::lock_guard lock(mutex_);
    inputGapNext_ = input;
    outputGapNext_ = output;
}

void NullAudioBackend::refuseStreams(std::function<bool(const AudioStreamRequest&)> refused) {
    std::lock_guard lock(mutex_);
    refused_ = std::move(refused);
}

void NullAudioBackend::failNextOutputOpen(std::string detail) {
    std::lock_guard lock(mutex_);
    outputFailure_ = std::move(detail);
}

void NullAudioBackend::holdStops(bool held) {
    {
        std::lock_guard lock(holdMutex_);
        stopsHeld_ = held;
    }
    released_.notify_all();
}

bool NullAudioBackend::requestInputAccess() {
    std::lock_guard lock(mutex_);
    return !inputRefused_;
}

std::optional<AudioStreamRequest> NullAudioBackend::lastRequest() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

int NullAudioBackend::closedStreams() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

int NullAudioBackend::openStreams() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(streams_.size());
}

void NullAudioBackend::detach(NullAudioStream* stream) {
    std::lock_guard lock(mutex_);
    streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
    ++closed_;
}

}  // namespace tessoral
