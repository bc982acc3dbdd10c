// Time.cpp: local-time conversion over the C library's reentrant call.
#include "platform/Time.h"

#include <time.h>

namespace velmoran::platform {

LocalDateTime ToLocalTime(std::int64_t unixSeconds) {
    const auto moment = static_cast<time_t>(unixSeconds);
    struct tm parts {};
    LocalDateTime result;
    if (static_cast<std::int64_t>(moment) != unixSeconds ||
        ::localtime_r(&moment, &parts) == nullptr) {
        return result;
    }
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    return result;
}

} // namespace velmoran::platform
