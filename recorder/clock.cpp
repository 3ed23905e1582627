#include "recorder/clock.h"

#include <ctime>

namespace plumeta {

#if defined(_WIN32)

// The runtime of every Windows from XP on has the 64-bit pair; its plain
// time() and localtime() are the 32-bit ones.
int64_t SystemClock() { return _time64(nullptr); }

LocalTime ToLocalTime(int64_t moment) {
    const __time64_t value = moment;
    // The runtime keeps this result per thread.
    const std::tm* local = _localtime64(&value);
    if (!local) return LocalTime{};
    return LocalTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                     local->tm_hour,        local->tm_min,     local->tm_sec};
}

#else

// Built with _TIME_BITS=64: time_t is 64 bits wide here too.
static_assert(sizeof(std::time_t) == 8, "build with -D_TIME_BITS=64");

int64_t SystemClock() { return std::time(nullptr); }

LocalTime ToLocalTime(int64_t moment) {
    const std::time_t value = moment;
    std::tm local{};
    if (!localtime_r(&value, &local)) return LocalTime{};
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
}

#endif

}  // namespace plumeta
