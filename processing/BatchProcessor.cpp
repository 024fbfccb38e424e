#include "processing/BatchProcessor.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "processing/AudioEdits.h"
#include "processing/AudioIO.h"
#include "processing/RackRenderer.h"

namespace tessoral::BatchProcessor {

namespace {

bool fileExists(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(p, ec));
}

std::filesystem::path standardized(const std::filesystem::path& p) {
    std::error_code ec;
    auto absolute = std::filesystem::absolute(p, ec);
    return (ec ? p : absolute).lexically_normal();
}

// The user-facing text of an error of one file.
std::string describe(const std::exception& e) {
    if (const auto* s = dynamic_cast<const StudioError*>(&e)) return s->message();
    if (const auto* p = dynamic_cast<const PlatformError*>(&e)) return p->message();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return L("Не удалось выделить память для звука.");
    return e.what();
}

// One input as read: its audio at 48 kHz, its own rate, and whether the file ends before the
// length it states.
struct InputRead {
    AudioData audio;
    int sourceRate = 0;
    bool endedEarly = false;
};

// Reads on the calling thread, whose decoding the cut-short flag speaks of.
InputRead readInput(const std::filesystem::path& input) {
    InputRead read;
    read.audio = AudioIO::readWithSourceRate(input, read.sourceRate);
    read.endedEarly = AudioIO::lastEndedEarly();
    return read;
}

// A read on another thread, shared by the reader and the batch until one of them lets go.
struct PendingRead {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<InputRead> value;
    std::exception_ptr error;
    bool done = false;
};

// Reads `input` through `launch` and waits for it, asking `cancelled` meanwhile; none after a
// stop. A read given up runs on alone, and what it reads is dropped with its share of the state.
std::optional<InputRead> readAwaitingStop(const std::filesystem::path& input, const ReadLauncher& launch,
                                          const std::function<bool()>& cancelled) {
    auto pending = std::make_shared<PendingRead>();
    launch([pending, input] {
        std::optional<InputRead> value;
        std::exception_ptr error;
        try {
            value = readInput(input);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(pending->mutex);
            pending->value = std::move(value);
            pending->error = error;
            pending->done = true;
        }
        pending->finished.notify_all();
    });
    std::unique_lock lock(pending->mutex);
    while (!pending->finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return pending->done; }))
        if (cancelled()) return std::nullopt;
    if (pending->error) std::rethrow_exception(pending->error);
    return std::move(pending->value);
}

}  // namespace

std::filesystem::path outputURL(const std::filesystem::path& input, const std::filesystem::path& folder,
                                ExportFormat format) {
    const std::string base = L("{0} (обработано)", input.stem().string());
    const std::string extension(fileExtension(format));
    const auto self = standardized(input);
    auto candidate = folder / (base + "." + extension);
    for (long long k = 2; fileExists(candidate) || standardized(candidate) == self; ++k) {
        std::string name = base;
        name.append(" ").append(num::integer(k)).append(".").append(extension);
        candidate = folder / name;
    }
    return candidate;
}

BatchReport run(const BatchJob& job, const std::function<bool()>& isCancelled,
                const std::function<void(std::size_t, const std::string&)>& progress, const ReadLauncher& launchRead) {
    BatchReport report;
    auto cancelled = [&] { return isCancelled && isCancelled(); };
    auto tell = [&](std::size_t index, const std::string& name) {
        if (progress) progress(index, name);
    };
    for (std::size_t i = 0; i < job.inputs.size(); ++i) {
        if (cancelled()) {
            report.cancelled = true;
            break;
        }
        const auto& input = job.inputs[i];
        const std::string name = input.filename().string();
        tell(i, name);
        try {
            // The file is opened once, by the reader, which also tells its own rate. A stop while
            // it reads drops what it read.
            std::optional<InputRead> read = launchRead ? readAwaitingStop(input, launchRead, cancelled) : readInput(input);
            if (!read || cancelled()) {
                report.cancelled = true;
                break;
            }
            const int sourceRate = read->sourceRate;
            AudioData audio = std::move(read->audio);
            audio = RackRenderer::apply(job.rack, audio, isCancelled);
            if (job.normalize && audio.frames() > 0)
                audio = AudioEdits::apply(EditAction::normalize, audio, FrameRange{0, audio.frames()}, 0.0);
            const auto url = outputURL(input, job.outputFolder, job.format);
            int rate = job.sampleRate ? rawValue(*job.sampleRate) : sourceRate;
            if (isAAC(job.format) && rate > 48000) rate = 48000;
            audio = ExportPipeline::resample(audio, rate);
            if (job.dither && job.format == ExportFormat::wav16) ExportPipeline::dither16(audio, kDitherSeed);
            ExportPipeline::write(audio, rate, url, job.format);
            report.written.push_back(url);
            report.done.push_back(name);
            if (read->endedEarly) report.endedEarly.push_back(name);
        } catch (const CancellationError&) {
            report.cancelled = true;
            break;
        } catch (const std::exception& e) {
            report.failures.push_back({name, describe(e)});
        }
    }
    tell(job.inputs.size(), std::string());
    return report;
}

}  // namespace tessoral::BatchProcessor
