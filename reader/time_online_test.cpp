#include "reader/time_online.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "reader/record_format.h"
#include "reader/timeline.h"
#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

// The log written in Warsaw, for as long as it lives.
class InWarsaw {
public:
    InWarsaw() {
        const char* zone = std::getenv("TZ");
        had_ = zone != nullptr;
        if (had_) old_ = zone;
        ok_ = UseZone("Europe/Warsaw").empty();
    }
    ~InWarsaw() {
#if !defined(_WIN32)
        had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
#endif
    }
    bool ok() const { return ok_; }

private:
    bool had_ = false, ok_ = false;
    std::string old_;
};

// Real time across the clock changes, sessions split at a period's end and
// counted in each, a session still open at the last record read.
TEST(TimeOnline, RealTimeBySession) {
    InWarsaw zone;
    if (!zone.ok()) GTEST_SKIP() << "no tz database here (Windows reads its own zone only)";
    struct Change {
        const char* who;
        LocalTime time;
        uint32_t status;
    };
    const Change log[] = {
        {"Ola", {2026, 3, 29, 1, 30, 0}, 64},  {"Ola", {2026, 3, 29, 3, 30, 0}, 0},  // 02:00 -> 03:00
        {"Ania", {2026, 10, 25, 1, 30, 0}, 64}, {"Ania", {2026, 10, 25, 2, 40, 0}, 0},  // 03:00 -> 02:00
        {"Ania", {2026, 10, 25, 2, 10, 0}, 65}, {"Ania", {2026, 10, 25, 2, 50, 0}, 1},
        {"Jan", {2026, 12, 10, 20, 0, 0}, 64},  {"Ela", {2026, 12, 10, 23, 0, 0}, 66},
        {"Ela", {2026, 12, 11, 1, 0, 0}, 0},
    };
    const struct {
        Period by;
        std::vector<std::string> want;  // day name seconds sessions
    } rows[] = {
        {Period::Day,
         {"2026-03-29 Ola 3600 1", "2026-10-25 Ania 6600 2", "2026-12-10 Ela 3600 1", "2026-12-10 Jan 14400 1",
          "2026-12-11 Ela 3600 1", "2026-12-11 Jan 3600 1"}},
        {Period::Week, {"2026-03-23 Ola 3600 1", "2026-10-19 Ania 6600 2", "2026-12-07 Ela 7200 1", "2026-12-07 Jan 18000 1"}},
        {Period::Month, {"2026-03-01 Ola 3600 1", "2026-10-01 Ania 6600 2", "2026-12-01 Ela 7200 1", "2026-12-01 Jan 18000 1"}},
    };
    for (const auto& row : rows) {
        OnlineTable table(row.by);
        ZoneClock clock;
        OutText iso;  // JSON's times, with their offsets
        for (const Change& change : log) {
            LogRecord record;
            record.time = change.time;
            record.moment = clock.MomentOf(change.time);
            AppendIsoTime(iso, record.time, NaiveSeconds(record.time) - record.moment);
            iso.Append(" ");
            record.name = record.id = change.who;
            record.network = "GG";
            record.status = change.status;
            table.Add(record);
        }
        std::vector<std::string> got;
        for (const OnlineRow& r : table.Finish()) {
            char day[16];
            std::snprintf(day, sizeof day, "%04d-%02d-%02d ", r.first.year, r.first.month, r.first.day);
            got.push_back(day + r.name + " " + std::to_string(r.seconds) + " " + std::to_string(r.sessions));
        }
        EXPECT_EQ(got, row.want);
        EXPECT_EQ(std::string(iso.view()).substr(52, 103),
                  "2026-10-25T01:30:00+02:00 2026-10-25T02:40:00+02:00 2026-10-25T02:10:00+01:00 "
                  "2026-10-25T02:50:00+01:00");
    }
}

// Offsets remembered a day at a time are the zone's, second for second
// around both of the year's changes, asked forwards and backwards.
TEST(TimeOnline, RememberedOffsetsAreTheZones) {
    InWarsaw zone;
    if (!zone.ok()) GTEST_SKIP() << "no tz database here (Windows reads its own zone only)";
    ZoneOffsets offsets;
    int wrong = 0;
    for (const LocalTime change : {LocalTime{2026, 3, 29, 1, 0, 0}, LocalTime{2026, 10, 25, 1, 0, 0}}) {  // UTC
        const int64_t at = NaiveSeconds(change);
        for (int64_t m = at - 2 * 86400; m < at + 2 * 86400; m += 59) wrong += offsets.At(m) != OffsetAt(m);
        for (int64_t m = at + 86400; m > at - 86400; m -= 61) wrong += offsets.At(m) != OffsetAt(m);
        wrong += offsets.At(at - 1) != 3600 * (change.month == 3 ? 1 : 2) || offsets.At(at) != 3600 * (change.month == 3 ? 2 : 1);
    }
    EXPECT_EQ(wrong, 0);
}

// A day's timeline in real time: autumn's day has 25 hour lines (02 twice)
// and the two sessions of the repeated hour are two bars; spring's has 23
// (no 02), and 01:30-03:30 is one bar of one real hour.
TEST(TimeOnline, TimelineOfTheClockChanges) {
    InWarsaw zone;
    if (!zone.ok()) GTEST_SKIP() << "no tz database here (Windows reads its own zone only)";
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    const struct {
        LocalTime day;
        std::vector<std::pair<LocalTime, uint32_t>> changes;
        std::size_t hourLines;
        std::vector<std::string> bars;  // each bar's x and width
    } rows[] = {
        {{2026, 10, 25}, {{{2026, 10, 25, 1, 30, 0}, 64}, {{2026, 10, 25, 2, 40, 0}, 0}, {{2026, 10, 25, 2, 10, 0}, 65},
                          {{2026, 10, 25, 2, 50, 0}, 0}, {{2026, 10, 25, 12, 0, 0}, 0}},
         26, {"x=\"287.6\" y=\"72\" width=\"44.8\"", "x=\"351.6\" y=\"72\" width=\"25.6\""}},
        {{2026, 3, 29}, {{{2026, 3, 29, 1, 30, 0}, 64}, {{2026, 3, 29, 3, 30, 0}, 0}, {{2026, 3, 29, 12, 0, 0}, 0}},
         24, {"x=\"292.61\" y=\"72\" width=\"41.74\""}},
    };
    for (const auto& row : rows) {
        DayTimeline day(row.day.year, row.day.month, row.day.day);
        ZoneClock clock;
        for (const auto& [time, status] : row.changes) {
            LogRecord record;
            record.time = time;
            record.moment = clock.MomentOf(time);
            record.name = record.id = "Ania";
            record.network = "GG";
            record.status = status;
            day.Add(record);
        }
        const std::string svg = day.Svg(format);
        std::size_t lines = 0;
        for (std::size_t at = svg.find("<line "); at != std::string::npos; at = svg.find("<line ", at + 1)) ++lines;
        EXPECT_EQ(lines, row.hourLines);
        for (const std::string& bar : row.bars) EXPECT_NE(svg.find("<rect " + bar), std::string::npos) << bar;
    }
}

}  // namespace
}  // namespace plumeta::reader
