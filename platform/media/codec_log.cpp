#include "platform/media/codec_log.h"

#include "platform/core/log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace qv::platform::media {

void quietCodecLogs() {
    if (Logger::isEnabled(LogLevel::info))
        av_log_set_level(AV_LOG_INFO);
    else if (Logger::isEnabled(LogLevel::notice))
        av_log_set_level(AV_LOG_FATAL);
    else
        av_log_set_level(AV_LOG_QUIET);
}

} // namespace qv::platform::media
