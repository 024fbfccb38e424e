#include "processing/FFmpegSupport.h"

#include <cerrno>
#include <mutex>
#include <optional>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "model/Localization.h"
#include "model/NumberFormat.h"

namespace tessoral::ffmpeg {

void setUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(kMaxAllocation);
    });
}

namespace {

// The reasons a person meets, in the interface language; nothing for any other code.
std::optional<std::string> ownText(int code) {
    switch (code) {
        case AVERROR_INVALIDDATA:
        case AVERROR_STREAM_NOT_FOUND:  // a container the prober guessed from noise, with no sound in it
            return L("файл повреждён или не является аудиофайлом");
        case AVERROR_EOF: return L("файл обрывается раньше времени");
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_PATCHWELCOME:  // a feature of the format the library does not implement
        case AVERROR(ENOSYS): return L("формат не поддерживается");
        case AVERROR(ENOENT): return L("файл не найден");
        case AVERROR(EACCES):
        case AVERROR(EPERM): return L("нет прав на чтение");
        case AVERROR(EISDIR): return L("это папка");
        case AVERROR(EIO): return L("ошибка ввода-вывода");
        case AVERROR(ENOMEM): return L("недостаточно памяти");
        default: return std::nullopt;
    }
}

}  // namespace

std::string errorText(int code, const std::string& otherwise) { return ownText(code).value_or(otherwise); }

std::string errorText(int code) {
    if (auto text = ownText(code)) return *text;
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0 || buffer[0] == '\0') {
        return "error " + num::integer(code);
    }
    return buffer;
}

}  // namespace tessoral::ffmpeg
