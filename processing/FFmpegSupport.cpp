#include "processing/FFmpegSupport.h"

#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include "model/NumberFormat.h"

namespace tessoral::ffmpeg {

void silenceLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string errorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0 || buffer[0] == '\0') {
        return "error " + num::integer(code);
    }
    return buffer;
}

}  // namespace tessoral::ffmpeg
