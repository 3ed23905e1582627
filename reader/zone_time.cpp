#include "reader/zone_time.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <utility>

namespace plumeta::reader {
namespace {

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 24 * kHour;
constexpr int64_t kFar = int64_t{1} << 50;  // seconds: far beyond the year 9999

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

LocalTime CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    LocalTime date;
    date.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = static_cast<int>(yearOfEra + era * 400 + (date.month <= 2));
    return date;
}

int64_t OffsetAt(int64_t moment) {
    const LocalTime local = ToLocalTime(moment);
    return local.year ? NaiveSeconds(local) - moment : 0;
}

int64_t ZoneOffsets::At(int64_t moment) {
    for (const Stretch& s : stretches_) {
        if (moment >= s.from && moment < s.to) return s.offset;
    }
    if (moment < -kFar || moment > kFar) return OffsetAt(moment);  // its day's ends would overflow
    const int64_t day = moment - ((moment % kDay) + kDay) % kDay;
    Stretch first{day, day + kDay, OffsetAt(day)};
    const int64_t last = OffsetAt(day + kDay - 1);
    if (last != first.offset) {
        // The change: the first moment of the day's second offset, by halves.
        int64_t same = day, other = day + kDay - 1;
        while (other - same > 1) {
            const int64_t middle = same + (other - same) / 2;
            (OffsetAt(middle) == first.offset ? same : other) = middle;
        }
        first.to = other;
        stretches_[next_++ % kStretches] = Stretch{other, day + kDay, last};
    }
    stretches_[next_++ % kStretches] = first;
    return moment < first.to ? first.offset : last;
}

int64_t NaiveSeconds(const LocalTime& time) {
    return DaysFromCivil(time.year, time.month, time.day) * kDay + time.hour * kHour + time.minute * 60 + time.second;
}

std::string UseZone(const std::string& name) {
#if defined(_WIN32)
    (void)name;
    return "--tz is not available on Windows, which reads the log in the system's own zone";
#else
    // The C library takes an unknown name for UTC without a word: it must be
    // a file of the tz database.
    const char* folder = std::getenv("TZDIR");
    const std::filesystem::path file = std::filesystem::path(folder && *folder ? folder : "/usr/share/zoneinfo") / name;
    std::error_code error;
    if (name.empty() || name.find("..") != std::string::npos || name[0] == '/' ||
        !std::filesystem::is_regular_file(file, error)) {
        return "--tz needs a zone of the tz database, such as Europe/Warsaw";
    }
    setenv("TZ", name.c_str(), 1);
    tzset();
    return "";
#endif
}

int64_t ZoneClock::MomentOf(const LocalTime& time) {
    const int64_t naive = NaiveSeconds(time);
    const int64_t hour = naive - (naive % kHour + kHour) % kHour;
    if (hour == hourFrom_) return previous_ = naive - hourOffset_;
    // The offsets a day before and a day after: a zone changes its clock at
    // most once in between. Each that reads back as the stamp is a moment
    // it may be.
    const int64_t before = offsets_.At(naive - kDay), after = offsets_.At(naive + kDay);
    int64_t candidates[2] = {naive - before, naive - after};
    if (candidates[1] < candidates[0]) std::swap(candidates[0], candidates[1]);
    bool valid[2];
    for (int i = 0; i < 2; ++i) valid[i] = offsets_.At(candidates[i]) == naive - candidates[i];
    int64_t moment;
    if (valid[0] && valid[1] && candidates[0] != candidates[1]) {
        // The repeated hour: not back before the previous stamp, if it can.
        moment = candidates[0] >= previous_ ? candidates[0] : candidates[1];
        hourFrom_ = INT64_MIN;
    } else {
        moment = valid[0] ? candidates[0] : valid[1] ? candidates[1] : naive - before;
        hourFrom_ = valid[0] || valid[1] ? hour : INT64_MIN;
        hourOffset_ = naive - moment;
    }
    return previous_ = moment;
}

}  // namespace plumeta::reader
