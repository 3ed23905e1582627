// The log's stamps are local times without an offset: read as moments by
// the rules of a zone (the C library's tz database on Linux, the system's
// zone on Windows), so that durations are real elapsed time across the
// clock changes. No zone table of our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "recorder/clock.h"

namespace plumeta::reader {

// Reads local times in the zone `name` (an IANA name, "Europe/Warsaw")
// from now on; the reading machine's own zone when never called. Answers ""
// or why it cannot be (an unknown name; on Windows only the system's zone).
std::string UseZone(const std::string& name);

// Days from 1970-01-01 to a date (the proleptic Gregorian calendar), and
// back (the date alone).
int64_t DaysFromCivil(int64_t year, int month, int day);
LocalTime CivilFromDays(int64_t days);
// Seconds since 1970-01-01 of a local time read as if it were UTC.
int64_t NaiveSeconds(const LocalTime& time);
// The zone's offset from UTC at `moment`, in seconds (+3600 for CET).
int64_t OffsetAt(int64_t moment);

// OffsetAt for many moments near each other, remembered a UTC day at a time
// (the last kStretches asked: days, or a day's side of its change): a zone
// changes its clock at most once a day (ZoneClock's rule too), so a day
// whose ends agree has one offset all through, and one whose ends differ has
// its change found once. Each thread its own.
class ZoneOffsets {
public:
    int64_t At(int64_t moment);

private:
    static constexpr std::size_t kStretches = 4;
    struct Stretch {
        int64_t from = 1, to = 0;  // [from, to), none at first
        int64_t offset = 0;
    };
    Stretch stretches_[kStretches];
    std::size_t next_ = 0;  // the one to be replaced
};

// Turns the stamps of one log, in its order, into moments (seconds since
// 1970 UTC). In the hour that autumn's clock change repeats, a stamp takes
// the earliest of its two moments not before the previous stamp's, so a
// step back of up to an hour there is the change; a stamp in the hour that
// spring's change skips (no writer's clock shows one) takes the offset from
// before it. A stamp costs a conversion only when its hour differs from the
// previous one's.
class ZoneClock {
public:
    int64_t MomentOf(const LocalTime& time);

private:
    int64_t previous_ = INT64_MIN;     // the previous stamp's moment
    int64_t hourFrom_ = INT64_MIN;     // NaiveSeconds of the hour whose offset is known
    int64_t hourOffset_ = 0;           // that hour's offset, when it had one moment only
    ZoneOffsets offsets_;
};

}  // namespace plumeta::reader
