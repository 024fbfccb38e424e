#include "processing/FFmpegSupport.h"

#include <cerrno>
#include <mutex>

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

std::string errorText(int code) {
    // The reasons a person meets, in the interface language; the library's own text otherwise.
    switch (code) {
        case AVERROR_INVALIDDATA:
        case AVERROR_STREAM_NOT_FOUND:  // a container the prober guessed from noise, with no sound in it
            return L("файл повреждён или не является аудиофайлом");
        case AVERROR_EOF: return L("файл обрывается раньше времени");
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND: return L("формат не поддерживается");
        case AVERROR(ENOENT): return L("файл не найден");
        case AVERROR(EACCES):
        case AVERROR(EPERM): return L("нет прав на чтение");
        case AVERROR(EISDIR): return L("это папка");
        case AVERROR(EIO): return L("ошибка ввода-вывода");
        case AVERROR(ENOMEM): return L("недостаточно памяти");
        default: break;
    }
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0 || buffer[0] == '\0') {
        return "error " + num::integer(code);
    }
    return buffer;
}

}  // namespace tessoral::ffmpeg
