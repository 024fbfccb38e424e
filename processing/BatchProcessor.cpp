#include "processing/BatchProcessor.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <memory>
#include <new>
#include <system_error>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "model/StudioError.h"
#include "processing/AudioEdits.h"
#include "processing/AudioIO.h"
#include "processing/FFmpegSupport.h"
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

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

// The user-facing text of an error of one file.
std::string describe(const std::exception& e) {
    if (const auto* s = dynamic_cast<const StudioError*>(&e)) return s->message();
    if (const auto* p = dynamic_cast<const PlatformError*>(&e)) return p->message();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return L("Не удалось выделить память для звука.");
    return e.what();
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

int inputSampleRate(const std::filesystem::path& path) {
    ffmpeg::setUp();
    AVFormatContext* raw = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + path.string();
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", ffmpeg::errorText(rc)));
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    rc = avformat_find_stream_info(format.get(), nullptr);
    if (rc < 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", ffmpeg::errorText(rc)));
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", ffmpeg::errorText(index)));
    const int rate = format->streams[index]->codecpar->sample_rate;
    if (rate <= 0) throw PlatformError(L("Не удалось открыть аудиофайл: {0}", ffmpeg::errorText(AVERROR_INVALIDDATA)));
    return rate;
}

BatchReport run(const BatchJob& job, const std::function<bool()>& isCancelled,
                const std::function<void(std::size_t, const std::string&)>& progress) {
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
            AudioData audio = AudioIO::read(input);
            audio = RackRenderer::apply(job.rack, audio, isCancelled);
            if (job.normalize && audio.frames() > 0)
                audio = AudioEdits::apply(EditAction::normalize, audio, FrameRange{0, audio.frames()}, 0.0);
            const auto url = outputURL(input, job.outputFolder, job.format);
            int rate = job.sampleRate ? rawValue(*job.sampleRate) : inputSampleRate(input);
            if (isAAC(job.format) && rate > 48000) rate = 48000;
            audio = ExportPipeline::resample(audio, rate);
            if (job.dither && job.format == ExportFormat::wav16) ExportPipeline::dither16(audio, kDitherSeed);
            ExportPipeline::write(audio, rate, url, job.format);
            report.written.push_back(url);
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
