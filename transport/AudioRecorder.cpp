#include "transport/AudioRecorder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>

#include "model/Defaults.h"
#include "model/Localization.h"
#include "model/RecordingPreferences.h"
#include "model/StudioError.h"
#include "transport/AudioBackend.h"
#include "transport/AudioDevices.h"
#include "transport/CaptureGate.h"
#include "transport/CaptureProcessor.h"
#include "transport/CaptureRing.h"
#include "transport/MonitorRing.h"
#include "transport/PlaybackVoice.h"
#include "transport/RecordingBuffer.h"

namespace tessoral {

namespace {

// Opens a stream that is destroyed at once, to learn whether it opens.
void openAndClose(AudioBackend& backend, const AudioStreamRequest& request, std::chrono::steady_clock::time_point deadline) {
    struct Ignore final : AudioCallback {
        void process(const AudioBlock&) noexcept override {}
    };
    openStreamBy(backend, request, std::make_shared<Ignore>(), false, deadline);
}

// Seconds of input the ring between the device and the capture thread holds.
constexpr double kCaptureRingSeconds = 2.0;
// How often the capture thread looks for new input.
constexpr auto kWorkerPoll = std::chrono::milliseconds(5);
// Input rates the converter is asked to take; a device claiming a rate outside them is refused
// (the converter's set-up does not finish for absurd rates).
constexpr double kLowestInputRate = 1000.0;
constexpr double kHighestInputRate = 768000.0;

bool validTime(double t) { return std::isfinite(t) && t > 0.0; }

float clampedLevel(float level) { return std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f); }

std::string describe(const std::exception& e) {
    if (const auto* s = dynamic_cast<const StudioError*>(&e)) return s->message();
    if (const auto* p = dynamic_cast<const PlatformError*>(&e)) return p->message();
    return e.what();
}

// The failures of starting a recording, each a finished message for the user.
[[noreturn]] void accessRefused() {
    throw StudioError(L("Разрешите доступ к микрофону в настройках системы → Конфиденциальность → Микрофон."));
}
[[noreturn]] void chosenInputMissing() {
    throw StudioError(L("Выбранный в настройках микрофон сейчас недоступен. Подключите его или выберите другой: "
                        "Файл → Настройки (Ctrl+,)."));
}
[[noreturn]] void noInputFormat() {
    throw StudioError(L("Устройство ввода не найдено. Проверьте микрофон в настройках звука Linux."));
}
[[noreturn]] void formatNotSupported() { throw StudioError(L("Формат микрофона не поддерживается.")); }
[[noreturn]] void inputDoesNotStart() {
    throw StudioError(L("Микрофон недоступен. Проверьте устройство ввода в настройках звука Linux."));
}
[[noreturn]] void overdubFailed(const std::string& detail) {
    throw StudioError(L("Не удалось воспроизвести проект во время записи: {0}", detail));
}
[[noreturn]] void nothingCaptured() {
    throw StudioError(L("Запись не содержит звука. Проверьте выбранный микрофон."));
}

}  // namespace

// ---- real-time callbacks ----

// The input device's callback: copies the input and its capture time into the ring; with direct
// monitoring it also plays the input (both outputs from a one-channel input) at the monitor level.
class AudioRecorder::InputCallback final : public AudioCallback {
public:
    InputCallback(std::shared_ptr<CaptureRing> ring, std::optional<float> directLevel)
        : ring_(std::move(ring)), directLevel_(directLevel) {}

    void process(const AudioBlock& block) noexcept override {
        const std::int64_t n = std::max<std::int64_t>(block.frames, 0);
        const bool hasInput = block.input && block.inputChannels > 0 && block.input[0];
        if (hasInput) ring_->push(block.input, block.inputChannels, n, block.inputTime, block.inputGap);
        cycles_.fetch_add(1, std::memory_order_relaxed);
        for (int c = 0; c < block.outputChannels; ++c) {
            float* out = block.output[c];
            if (!out) continue;
            if (!hasInput || !directLevel_ || c > 1) {
                std::fill(out, out + n, 0.0f);
                continue;
            }
            const float* in = (c < block.inputChannels && block.input[c]) ? block.input[c] : block.input[0];
            const float gain = *directLevel_;
            for (std::int64_t i = 0; i < n; ++i) out[i] = in[i] * gain;
        }
    }

    std::uint64_t cycles() const { return cycles_.load(std::memory_order_relaxed); }

private:
    const std::shared_ptr<CaptureRing> ring_;
    const std::optional<float> directLevel_;
    std::atomic<std::uint64_t> cycles_{0};
};

// The separate monitor output: the newest captured frames from the monitor ring, or silence for a
// cycle in which the capture thread holds the ring.
class AudioRecorder::MonitorCallback final : public AudioCallback {
public:
    MonitorCallback(std::shared_ptr<MonitorRing> ring, float level) : ring_(std::move(ring)), level_(level) {}

    void process(const AudioBlock& block) noexcept override {
        const std::int64_t n = std::max<std::int64_t>(block.frames, 0);
        for (int c = 2; c < block.outputChannels; ++c) std::fill(block.output[c], block.output[c] + n, 0.0f);
        if (block.outputChannels < 1 || !block.output[0] || n == 0) return;
        ring_->read(block.output[0], block.outputChannels > 1 ? block.output[1] : nullptr, n, level_);
    }

private:
    const std::shared_ptr<MonitorRing> ring_;
    const float level_;
};

// The overdub output: silence until the scheduled start time (on the stream clock), then the
// playback voice from its first frame, starting inside the cycle where the time falls.
class AudioRecorder::OverdubCallback final : public AudioCallback {
public:
    explicit OverdubCallback(AudioData audio) : voice_(std::move(audio), false, {}, Uuid::random()) {}

    void schedule(double start, double sampleRate) {
        rate_.store(sampleRate, std::memory_order_relaxed);
        start_.store(start, std::memory_order_release);
    }

    // Dropouts the device reported once the playback had started and before it ended.
    std::int64_t gaps() const { return gaps_.load(std::memory_order_relaxed); }

    void process(const AudioBlock& block) noexcept override {
        if (started_) {
            if (block.outputGap && !voice_.finished()) gaps_.fetch_add(1, std::memory_order_relaxed);
            voice_.process(block);
            return;
        }
        const std::int64_t n = std::max<std::int64_t>(block.frames, 0);
        for (int c = 0; c < block.outputChannels; ++c)
            if (block.output[c]) std::fill(block.output[c], block.output[c] + n, 0.0f);
        const double start = start_.load(std::memory_order_acquire);
        if (!std::isfinite(start)) return;  // not scheduled yet
        const double at = validTime(block.outputTime) ? block.outputTime : block.now;
        std::int64_t offset = 0;
        if (validTime(at)) offset = std::max<std::int64_t>(roundSaturating((start - at) * rate_.load()), 0);
        if (offset >= n) return;
        std::array<float*, 8> shifted{};
        AudioBlock rest = block;
        rest.outputChannels = std::min<int>(block.outputChannels, static_cast<int>(shifted.size()));
        for (int c = 0; c < rest.outputChannels; ++c) shifted[static_cast<std::size_t>(c)] = block.output[c] + offset;
        rest.output = shifted.data();
        rest.frames = n - offset;
        voice_.process(rest);
        started_ = true;
    }

private:
    PlaybackVoice voice_;
    std::atomic<double> start_{INFINITY};
    std::atomic<double> rate_{kSampleRate};
    std::atomic<std::int64_t> gaps_{0};
    bool started_ = false;  // audio thread only

    static_assert(std::atomic<double>::is_always_lock_free);
};

// ---- main thread ----

AudioRecorder::AudioRecorder(AudioBackend& backend, const Defaults& defaults)
    : backend_(backend), defaults_(defaults) {}

AudioRecorder::~AudioRecorder() { teardown(); }

AudioRecorder::Device AudioRecorder::inputDevice(const std::string& uid) const {
    // Devices not yet known: the sound library still waits on the server.
    if (!backend_.started()) throw SoundServerSilent();
    if (backend_.awaitsDevices()) {
        // None listed: an opening of the default input tells of a sound server that is not
        // running, or finds the devices of one started since. Bounded: the window waits for it.
        AudioStreamRequest any;
        any.outputChannels = 0;
        any.inputChannels = 1;
        try {
            openAndClose(backend_, any, std::chrono::steady_clock::now() + kMainThreadOpenLimit);
        } catch (const SoundServerFault&) {
            throw;
        } catch (const PlatformError&) {
        }
    }
    const auto table = backend_.deviceTable();
    auto find = [&](std::uint32_t id) -> const BackendDevice* {
        for (const BackendDevice& d : table)
            if (d.id == id) return &d;
        return nullptr;
    };
    if (!uid.empty()) {
        const auto id = AudioDevices::deviceID(backend_, uid);
        const BackendDevice* device = id ? find(*id) : nullptr;
        if (!device || device->inputChannels < 1) chosenInputMissing();
        return Device{device->id, device->defaultSampleRate, device->inputChannels};
    }
    const auto id = backend_.defaultInputDevice();
    const BackendDevice* device = id ? find(*id) : nullptr;
    if (!device) return Device{};
    return Device{std::nullopt, device->defaultSampleRate, device->inputChannels};
}

AudioRecorder::Device AudioRecorder::usableInput(const std::string& uid) const {
    const Device device = inputDevice(uid);
    if (!(std::isfinite(device.sampleRate) && device.sampleRate > 0.0) || device.channels < 1) noInputFormat();
    return device;
}

AudioStreamRequest AudioRecorder::checkInput() const {
    const Device device = usableInput(defaults_.string(AudioDevices::kInputDeviceKey).value_or(""));
    AudioStreamRequest request;
    request.inputChannels = std::min(device.channels, 2);
    request.inputDevice = device.id;
    request.sampleRate = device.sampleRate;
    request.outputChannels = 0;
    return request;
}

void AudioRecorder::probeInput(AudioBackend& backend, const AudioStreamRequest& request) {
    try {
        openAndClose(backend, request, std::chrono::steady_clock::now() + kStreamOpenLimit);
    } catch (const SoundServerFault&) {
        throw;
    } catch (const PlatformError&) {
        inputDoesNotStart();
    }
}

std::unique_ptr<AudioStream> AudioRecorder::openOutput(const std::string& uid, const std::shared_ptr<AudioCallback>& callback,
                                                       std::chrono::steady_clock::time_point deadline) {
    AudioStreamRequest request;
    request.outputChannels = 2;
    request.sampleRate = kSampleRate;
    request.lowLatency = true;
    if (const auto id = AudioDevices::deviceID(backend_, uid)) {
        request.outputDevice = id;
        try {
            return openStreamBy(backend_, request, callback, true, deadline);
        } catch (const SoundServerFault&) {
            throw;
        } catch (const PlatformError&) {
            // The chosen output refused: the default output plays instead.
            request.outputDevice.reset();
        }
    }
    return openStreamBy(backend_, request, callback, true, deadline);
}

void AudioRecorder::start(const RecordingSetup& setup, const std::function<bool()>& cancelled) {
    if (active_ || captureStream_) return;
    if (!backend_.requestInputAccess()) accessRefused();
    if (cancelled && cancelled()) throw CancellationError();
    if (active_ || captureStream_) return;

    const std::string inputUID = defaults_.string(AudioDevices::kInputDeviceKey).value_or("");
    const std::string outputUID = defaults_.string(AudioDevices::kOutputDeviceKey).value_or("");

    // The input device and its format.
    const Device device = usableInput(inputUID);
    const int channels = std::min(device.channels, 2);
    inputRate_ = device.sampleRate;
    workerLost_.store(0);
    takeStarted_ = false;
    lostBeforeTake_ = 0;
    lostUpToTakeEnd_ = 0;
    takeStartTime_ = takeEndTime_ = NAN;
    keptAtTakeEnd_ = 0;
    gapsBeforeTake_ = gapsUpToTakeEnd_ = 0;

    try {
        gate_ = std::make_shared<CaptureGate>();
        // The spare second is added before the clamp (the buffer counts a negative limit as 0).
        const std::int64_t limit = setup.maximumFrames;
        buffer_ = std::make_shared<RecordingBuffer>(
            limit > std::numeric_limits<std::int64_t>::max() - kSpareFrames ? limit : limit + kSpareFrames);
        if (setup.monitorLevel) monitorRing_ = std::make_shared<MonitorRing>(MonitorRing::kDefaultCapacity);
        if (device.sampleRate < kLowestInputRate || device.sampleRate > kHighestInputRate) formatNotSupported();
        try {
            processor_ = std::make_unique<CaptureProcessor>(device.sampleRate, channels, gate_, buffer_, monitorRing_);
        } catch (const PlatformError&) {
            formatNotSupported();
        }
        const auto ringFrames = static_cast<std::int64_t>(std::ceil(device.sampleRate * kCaptureRingSeconds));
        ring_ = std::make_shared<CaptureRing>(channels, std::max<std::int64_t>(ringFrames, 16384));

        // Direct monitoring plays the input through the capture stream itself; it needs both
        // devices to be the defaults.
        const bool direct = setup.monitorLevel && inputUID.empty() && outputUID.empty();
        const float level = setup.monitorLevel ? clampedLevel(*setup.monitorLevel) : 0.0f;

        AudioStreamRequest request;
        request.inputChannels = channels;
        request.inputDevice = device.id;
        request.sampleRate = device.sampleRate;
        request.outputChannels = direct ? 2 : 0;
        request.lowLatency = setup.monitorLevel.has_value();
        inputCallback_ = std::make_shared<InputCallback>(ring_, direct ? std::optional<float>(level) : std::nullopt);
        // The device latencies are in the timestamps the gate and the overdub start go by:
        // counting them again here would place the take early by their sum.
        latency_ = RecordingLatency::total(0.0, 0.0, setup.manualLatencyMilliseconds);
        captureStopFrame_ = setup.plan.captureEndFrame(RecordingLatency::frames(latency_, kSampleRate), kSampleRate)
                                .value_or(std::numeric_limits<std::int64_t>::max());
        takeEnd_ = std::min(buffer_->limit(), captureStopFrame_);
        startWorker();
        // The openings on this (the main) thread wait a second at most, all together.
        const auto deadline = std::chrono::steady_clock::now() + kMainThreadOpenLimit;
        bool directRuns = direct;
        try {
            captureStream_ = openStreamBy(backend_, request, inputCallback_, false, deadline);
            captureStream_->start();
        } catch (const SoundServerFault&) {
            throw;
        } catch (const PlatformError&) {
            captureStream_.reset();
            if (!direct) inputDoesNotStart();
            // Once more without the output; the monitor then gets a stream of its own.
            const Device again = inputDevice(inputUID);
            if (again.sampleRate != device.sampleRate || again.channels != device.channels)
                inputDoesNotStart();
            inputCallback_ = std::make_shared<InputCallback>(ring_, std::nullopt);
            request.outputChannels = 0;
            try {
                captureStream_ = openStreamBy(backend_, request, inputCallback_, false, deadline);
                captureStream_->start();
            } catch (const SoundServerFault&) {
                throw;
            } catch (const PlatformError&) {
                captureStream_.reset();
                inputDoesNotStart();
            }
            directRuns = false;
        }

        if (setup.monitorLevel && !directRuns) {
            monitorCallback_ = std::make_shared<MonitorCallback>(monitorRing_, level);
            try {
                monitorStream_ = openOutput(outputUID, monitorCallback_, deadline);
            } catch (const std::exception&) {
                monitorStream_.reset();  // recording goes on without monitoring
            }
        }

        if (setup.playback && setup.playback->frames() > 0) {
            try {
                overdubCallback_ = std::make_shared<OverdubCallback>(*setup.playback);
                overdubStream_ = openOutput(outputUID, overdubCallback_, deadline);
                const double start = captureStream_->time() + kOverdubLeadSeconds;
                overdubCallback_->schedule(start, overdubStream_->sampleRate());
                gate_->arm(start);
            } catch (const SoundServerFault&) {
                throw;
            } catch (const std::exception& e) {
                overdubFailed(describe(e));
            }
            overdubbing_ = true;
        } else {
            gate_->keepEverything();
        }

        origin_ = setup.plan.origin;
        monitoring_ = directRuns || monitorStream_ != nullptr;
        active_ = true;
    } catch (const SoundServerFault&) {
        teardown(std::chrono::steady_clock::now());  // a server that does not answer is not waited for
        throw;
    } catch (...) {
        teardown();
        throw;
    }
}

AudioRecorder::Progress AudioRecorder::tick() {
    if (!active_ || !buffer_) return {};
    const std::int64_t captured = buffer_->frames();
    const auto peaks = buffer_->takePeaks(kPeakDecay);
    Progress p;
    p.position = origin_ + static_cast<double>(captured) / kSampleRate;
    p.leftLevel = peaks.left;
    p.rightLevel = peaks.right;
    p.reachedEnd = captured >= buffer_->limit() || captured >= captureStopFrame_;
    p.cycles = cycles();
    return p;
}

std::uint64_t AudioRecorder::cycles() const { return inputCallback_ ? inputCallback_->cycles() : 0; }

RecordedTake AudioRecorder::stop(std::chrono::steady_clock::time_point deadline) {
    std::shared_ptr<RecordingBuffer> buffer = active_ ? buffer_ : nullptr;
    // Every stream of the recording stops by one deadline.
    // The input stops and the capture thread finishes first, so the loss counts are final.
    stopStreamBy(captureStream_, inputCallback_, deadline);
    workerHeld_.store(false);
    stopWorker();
    // Only input dropped between the take's first kept frame and its end is missing from it: a
    // device that delivers faster than real time overruns the ring once the take is full. Nor is
    // more missing than the time the take spans on the device's clock beyond what it holds: such
    // a device also overruns it while the take fills, with frames that no clock time was lost for.
    std::int64_t lost = 0;
    if (buffer && ring_ && inputRate_ > 0.0 && takeStarted_) {
        const bool open = buffer->frames() < takeEnd_;
        const std::int64_t dropped =
            (open ? ring_->lostFrames() + workerLost_.load() : lostUpToTakeEnd_) - lostBeforeTake_;
        double seconds = static_cast<double>(dropped) / inputRate_;
        const double end = open ? (captureStream_ ? captureStream_->time() : NAN) : takeEndTime_;
        const double held = static_cast<double>(open ? buffer->frames() : keptAtTakeEnd_) / kSampleRate;
        if (validTime(takeStartTime_) && validTime(end))
            seconds = std::min(seconds, std::max(end - takeStartTime_ - held, 0.0));
        lost = roundSaturating(seconds * kSampleRate);
    }
    const bool gaps =
        (takeStarted_ && gapsUpToTakeEnd_ > gapsBeforeTake_) || (overdubCallback_ && overdubCallback_->gaps() > 0);
    teardown(deadline);
    std::optional<AudioData> audio = buffer ? buffer->makeAudio() : std::nullopt;
    if (!audio) nothingCaptured();
    return RecordedTake{std::move(*audio), lost, gaps};
}

void AudioRecorder::stopOverdub() noexcept {
    stopStreamBy(overdubStream_, overdubCallback_, std::chrono::steady_clock::now() + kStreamStopLimit);
    overdubStream_.reset();
    overdubCallback_.reset();
    overdubbing_ = false;
}

void AudioRecorder::teardown(std::chrono::steady_clock::time_point deadline) noexcept {
    // The input stops first, so the capture thread sees every buffer that was captured.
    stopStreamBy(captureStream_, inputCallback_, deadline);
    stopWorker();
    captureStream_.reset();
    stopStreamBy(monitorStream_, monitorCallback_, deadline);
    monitorStream_.reset();
    stopStreamBy(overdubStream_, overdubCallback_, deadline);
    overdubStream_.reset();
    inputCallback_.reset();
    monitorCallback_.reset();
    overdubCallback_.reset();
    processor_.reset();
    ring_.reset();
    monitorRing_.reset();
    buffer_.reset();
    gate_.reset();
    active_ = false;
    monitoring_ = false;
    overdubbing_ = false;
    latency_ = 0.0;
    captureStopFrame_ = std::numeric_limits<std::int64_t>::max();
}

// ---- capture thread ----

void AudioRecorder::startWorker() {
    {
        std::lock_guard lock(workerMutex_);
        workerQuit_ = false;
    }
    worker_ = std::thread([this] { workerLoop(); });
}

void AudioRecorder::stopWorker() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(workerMutex_);
        workerQuit_ = true;
    }
    workerWake_.notify_all();
    worker_.join();
}

void AudioRecorder::workerLoop() {
    const int channels = ring_->channels();
    std::vector<std::vector<float>> scratch(static_cast<std::size_t>(channels),
                                            std::vector<float>(static_cast<std::size_t>(ring_->capacityFrames())));
    std::array<float*, 2> out{scratch[0].data(), channels > 1 ? scratch[1].data() : nullptr};
    std::array<const float*, 2> in{out[0], out[1]};
    auto drain = [&] {
        while (!workerHeld_.load()) {
            workerBusy_.store(true);
            const auto block = ring_->pop(out.data());
            if (!block) {
                workerBusy_.store(false);
                return;
            }
            const std::int64_t lostBefore = block->lostBefore + workerLost_.load();
            const bool takeOpen = buffer_->frames() < takeEnd_;
            try {
                processor_->process(in.data(), block->frames, block->time);
            } catch (const std::exception&) {
                // A converter failure loses this buffer (counted); the capture goes on.
                workerLost_.fetch_add(block->frames);
            }
            // The clock time at this buffer's end, and so at the take's first kept frame.
            const double end = validTime(block->time) ? block->time + static_cast<double>(block->frames) / inputRate_ : NAN;
            const std::int64_t kept = buffer_->frames();
            if (!takeStarted_ && kept > 0) {
                takeStarted_ = true;
                lostBeforeTake_ = lostBefore;
                gapsBeforeTake_ = block->gapsBefore;
                takeStartTime_ = end - static_cast<double>(kept) / kSampleRate;
            }
            if (takeOpen) {
                lostUpToTakeEnd_ = block->lostBefore + workerLost_.load();
                takeEndTime_ = end;
                keptAtTakeEnd_ = kept;
                gapsUpToTakeEnd_ = block->gapsBefore;
            }
            workerBusy_.store(false);
        }
    };
    std::unique_lock lock(workerMutex_);
    while (!workerQuit_) {
        lock.unlock();
        drain();
        lock.lock();
        workerWake_.wait_for(lock, kWorkerPoll, [this] { return workerQuit_; });
    }
    lock.unlock();
    drain();
    try {
        processor_->finish();
    } catch (const std::exception&) {
    }
}

bool AudioRecorder::waitUntilIdle(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // The ring is checked first: a buffer taken from it has set the busy flag already.
        const bool empty = !ring_ || ring_->empty();
        if (empty && !workerBusy_.load()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace tessoral
