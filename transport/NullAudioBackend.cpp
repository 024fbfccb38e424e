#include "transport/NullAudioBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

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

    // One cycle of at most kBlockFrames frames; output added into left/right at `offset`.
    void cycle(std::int64_t frames, double now, float* left, float* right) noexcept {
        for (auto& c : outputs_) std::fill(c.begin(), c.begin() + frames, 0.0f);
        AudioBlock block;
        block.input = inputPointers_.empty() ? nullptr : inputPointers_.data();
        block.inputChannels = static_cast<int>(inputPointers_.size());
        block.output = outputPointers_.empty() ? nullptr : outputPointers_.data();
        block.outputChannels = static_cast<int>(outputPointers_.size());
        block.frames = frames;
        block.inputTime = now;
        block.outputTime = now;
        block.now = now;
        if (script_ && !inputs_.empty()) block.inputTime = script_->fill(inputs_, frames, now);
        callback_.process(block);
        if (left && !outputs_.empty())
            for (std::int64_t i = 0; i < frames; ++i) left[i] += outputs_[0][static_cast<std::size_t>(i)];
        if (right && outputs_.size() > 1)
            for (std::int64_t i = 0; i < frames; ++i) right[i] += outputs_[1][static_cast<std::size_t>(i)];
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
                cycle(NullAudioBackend::kBlockFrames, monotonicSeconds(), nullptr, nullptr);
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
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex threadMutex_;
    std::condition_variable wake_;
    bool quit_ = false;
};

NullAudioBackend::NullAudioBackend(Mode mode) : mode_(mode) {}

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

bool NullAudioBackend::refreshDevices() {
    std::lock_guard lock(mutex_);
    return streams_.empty();
}

std::unique_ptr<AudioStream> NullAudioBackend::openStream(const AudioStreamRequest& request, AudioCallback& callback) {
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
        const double now = static_cast<double>(pumped_.load()) / kSampleRate;
        {
            std::lock_guard lock(mutex_);
            for (NullAudioStream* s : streams_)
                if (s->running()) s->cycle(n, now, left ? left + done : nullptr, right ? right + done : nullptr);
        }
        pumped_ += n;
        done += n;
    }
}

void NullAudioBackend::setInput(std::shared_ptr<NullInputScript> script) {
    std::lock_guard lock(mutex_);
    input_ = std::move(script);
}

void NullAudioBackend::setLatencies(double input, double output) {
    std::lock_guard lock(mutex_);
    inputLatency_ = input;
    outputLatency_ = output;
}

void NullAudioBackend::refuseInputAccess(bool refused) {
    std::lock_guard lock(mutex_);
    inputRefused_ = refused;
}

void NullAudioBackend::failNextStart(std::string detail) {
    std::lock_guard lock(mutex_);
    startFailure_ = std::move(detail);
}

void NullAudioBackend::failNextOutputOpen(std::string detail) {
    std::lock_guard lock(mutex_);
    outputFailure_ = std::move(detail);
}

bool NullAudioBackend::requestInputAccess() {
    std::lock_guard lock(mutex_);
    return !inputRefused_;
}

std::optional<AudioStreamRequest> NullAudioBackend::lastRequest() const {
    std::lock_guard lock(mutex_);
    return lastRequest_;
}

int NullAudioBackend::openStreams() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(streams_.size());
}

void NullAudioBackend::detach(NullAudioStream* stream) {
    std::lock_guard lock(mutex_);
    streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

}  // namespace tessoral
