#include "reader/record_format.h"

#include <gtest/gtest.h>

#include <tuple>

#include "reader/last_seen.h"
#include "reader/timeline.h"
#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

TEST(RecordFormat, CsvAndJsonEscaping) {
    struct Row {
        const char* text;
        const char* csv;
        const char* json;
    };
    const Row rows[] = {
        {"plain", "plain", "\"plain\""},
        {"a,b", "\"a,b\"", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\"", "\"say \\\"hi\\\"\""},
        {"one\ntwo", "\"one\ntwo\"", "\"one\\ntwo\""},
        {"cr\rlf", "\"cr\rlf\"", "\"cr\\rlf\""},
        {"tab\there", "tab\there", "\"tab\\there\""},
        {"back\\slash", "back\\slash", "\"back\\\\slash\""},
        {"bell\x07" "del\x7F", "bell\x07" "del\x7F", "\"bell\\u0007del\\u007f\""},
        {"\xC5\x82\xC3\xB3" "d\xC5\xBA", "\xC5\x82\xC3\xB3" "d\xC5\xBA", "\"\xC5\x82\xC3\xB3" "d\xC5\xBA\""},
        {"", "", "\"\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        OutText csv, json;
        AppendCsvField(csv, row.text);
        AppendJsonString(json, row.text);
        EXPECT_EQ(csv.view(), row.csv);
        EXPECT_EQ(json.view(), row.json);
    }
    // Every control character's escape, each digit of it (a file name may
    // hold them; lines have them left out).
    std::string controls(1, '\0');
    for (char c = 1; c < 0x20; ++c) controls += c;
    controls += '\x7F';
    OutText json;
    AppendJsonString(json, controls);
    EXPECT_EQ(json.view(),
              "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\u0008\\t\\n\\u000b\\u000c\\r\\u000e\\u000f"
              "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e"
              "\\u001f\\u007f\"");
}

LogRecord Change(int hour, int minute, uint32_t status, const char* id = "1", int day = 8) {
    LogRecord record;
    record.time = LocalTime{2026, 12, day, hour, minute, 0};
    record.moment = ZoneClock().MomentOf(record.time);
    record.name = "Ania";
    record.id = id;
    record.network = "GG";
    record.status = status;
    record.gender = 'f';
    return record;
}

// show: the time, who, the status word and the description, a line break
// in it written as " / ".
TEST(RecordFormat, ShowLines) {
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    struct Row {
        std::optional<uint32_t> status;
        bool described;
        const char* description;
        const char* line;
    };
    const Row rows[] = {
        {64, true, "w domu", "2026-12-08 18:00:00  Ania (1, GG)  dost\xC4\x99pna  [w domu]\n"},
        {0, true, "", "2026-12-08 18:00:00  Ania (1, GG)  niedost\xC4\x99pna  []\n"},
        {std::nullopt, true, "pierwsza\ndruga \xB9", "2026-12-08 18:00:00  Ania (1, GG)  [pierwsza / druga \xC4\x85]\n"},
        {66, false, "", "2026-12-08 18:00:00  Ania (1, GG)  ukryta\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        LogRecord record = Change(18, 0, 0);
        record.status = row.status;
        record.described = row.described;
        record.description = row.description;
        OutText out;
        format.AppendShow(out, record);
        EXPECT_EQ(out.view(), row.line);
    }
}

TEST(LastSeen, OnlineSinceAndLastSeenOnline) {
    LastSeenTable table;
    table.Add(Change(8, 0, 64));
    table.Add(Change(9, 0, 65));  // still online: since 8:00
    table.Add(Change(10, 0, 0));  // last seen online at 10:00
    table.Add(Change(11, 0, 1));
    LogRecord unknown = Change(12, 0, 0);
    unknown.status.reset();       // a code without a word changes nothing
    table.Add(unknown);
    table.Add(Change(13, 0, 34, "2"));
    ASSERT_EQ(table.contacts().size(), 2u);
    const ContactSeen& ania = table.contacts().at({"GG", "1"});
    EXPECT_EQ(ania.changes, 5u);
    EXPECT_FALSE(ania.online);
    EXPECT_FALSE(ania.onlineSince);
    ASSERT_TRUE(ania.lastSeenOnline);
    EXPECT_EQ(ania.lastSeenOnline->hour, 10);
    const ContactSeen& other = table.contacts().at({"GG", "2"});
    EXPECT_TRUE(other.online);
    ASSERT_TRUE(other.onlineSince);
    EXPECT_EQ(other.onlineSince->hour, 13);
}

// The last change is the latest record whole, whatever of it changed (the
// texts are copied only where they differ).
TEST(LastSeen, LastIsTheLatestRecordWhole) {
    const auto fields = [](const LogRecord& r) {
        return std::make_tuple(r.kind, r.time.year, r.time.month, r.time.day, r.time.hour, r.time.minute,
                               r.time.second, r.name, r.id, r.network, r.status, r.gender, r.described,
                               r.description, r.line, r.spilled, r.inTemporary, r.moment);
    };
    LogRecord next = Change(9, 30, 64);
    next.time = LocalTime{2027, 2, 3, 4, 5, 6};
    next.name = "Ania Nowak, long enough for the heap";
    next.network = "JABBER";
    next.gender = 'f';
    next.described = true;
    next.description = "w pracy, wracam o 18";
    next.line = 77;
    next.spilled = next.inTemporary = true;
    next.moment = 1234567;
    for (const LogRecord& first : {Change(8, 0, 2), next}) {
        ContactSeen seen;
        AddToSeen(seen, first);
        AddToSeen(seen, next);
        EXPECT_EQ(fields(seen.last), fields(next));
        AddToSeen(seen, Change(10, 0, 0));
        EXPECT_EQ(fields(seen.last), fields(Change(10, 0, 0)));
    }
}

// The day's bars start from the status the contact had when it began, and
// end with the log.
TEST(Timeline, BarsFromTheDayStartToTheLastRecord) {
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    DayTimeline day(2026, 12, 8);
    LogRecord yesterday = Change(22, 0, 64, "1", 7);
    day.Add(yesterday);
    day.Add(Change(6, 0, 34));
    day.Add(Change(12, 0, 0));   // unavailable: no bar
    day.Add(Change(18, 0, 66, "2"));
    EXPECT_EQ(day.rows(), 2u);
    const std::string svg = day.Svg(format);
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
        return n;
    };
    // 00:00-06:00 available, 06:00-12:00 do not disturb, hidden from 18:00
    // to 18:00 (the last record) is no bar; then the legend's six boxes.
    EXPECT_EQ(count("<rect x="), 2u + 6u);
    EXPECT_NE(svg.find("<rect x=\"230\""), std::string::npos) << "from midnight";
    EXPECT_NE(svg.find("dost\xC4\x99pna 00:00\xE2\x80\x93" "06:00"), std::string::npos);
    EXPECT_NE(svg.find("nie przeszkadza\xC4\x87 06:00\xE2\x80\x93" "12:00"), std::string::npos);
    EXPECT_NE(svg.find("2026-12-08"), std::string::npos);
}

// A row's name is the one of its latest change that day, even when a record
// from before the day comes after it (logs given newest first).
TEST(Timeline, NameOfTheDayOverTheOneBefore) {
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    for (bool dayFirst : {true, false}) {
        SCOPED_TRACE(dayFirst);
        DayTimeline day(2026, 12, 8);
        LogRecord before = Change(22, 0, 64, "1", 7);
        before.name = "Stara";
        LogRecord that = Change(6, 0, 34);
        that.name = "Nowa";
        day.Add(dayFirst ? that : before);
        day.Add(dayFirst ? before : that);
        const std::string svg = day.Svg(format);
        EXPECT_NE(svg.find(">Nowa<"), std::string::npos);
        EXPECT_EQ(svg.find("Stara"), std::string::npos);
    }
}

// Whoever began the day online has its row, a bar across the day, though
// they did not change that day; whoever began it unavailable has none.
TEST(Timeline, OnlineSinceTheDayBefore) {
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    DayTimeline day(2026, 12, 8);
    LogRecord online = Change(10, 0, 64, "1", 7);
    online.name = "Ola";
    online.id = "1";
    LogRecord away = Change(11, 0, 0, "1", 7);
    away.name = "Ewa";
    away.id = "2";
    day.Add(online);
    day.Add(away);
    LogRecord later = Change(23, 0, 34);  // someone else's change ends the log's day
    later.id = "3";
    day.Add(later);
    EXPECT_EQ(day.rows(), 2u);
    const std::string svg = day.Svg(format);
    EXPECT_NE(svg.find("Ola: dost\xC4\x99pna 00:00\xE2\x80\x93" "23:00"), std::string::npos);
    EXPECT_EQ(svg.find(">Ewa<"), std::string::npos);
}

}  // namespace
}  // namespace plumeta::reader
