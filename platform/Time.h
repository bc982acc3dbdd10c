// Time.h: calendar times in the local time zone, for file dates that formats store as
// local wall-clock values (the MS-DOS date and time of ZIP entries).
#pragma once

#include <cstdint>

namespace velmoran::platform {

struct LocalDateTime {
    int year = 1970; // e.g. 2024
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60 (a leap second stays 60)
};

// The local wall-clock time of a moment given in seconds since 1970-01-01 00:00:00 UTC,
// as the system's time-zone rules give it. Safe to call from several threads at once.
// A moment the system cannot convert gives 1970-01-01 00:00:00.
LocalDateTime ToLocalTime(std::int64_t unixSeconds);

} // namespace velmoran::platform
