// The clock of a status change: seconds since 1970-01-01 00:00 UTC in 64 bits
// on every target (the Windows runtime's own time_t is 32 bits wide and ends
// in January 2038), and their local broken-down form.
#pragma once

#include <cstdint>

namespace plumeta {

// Where a half of a status change reads the current time. The dispatcher
// passes SystemClock; tests pass a fixed one.
using Clock = int64_t (*)();
int64_t SystemClock();

struct LocalTime {
    int year = 0;    // e.g. 2038
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

// `moment` by the process's time-zone and daylight-saving rules. All fields
// 0 when the runtime cannot convert it.
LocalTime ToLocalTime(int64_t moment);

}  // namespace plumeta
