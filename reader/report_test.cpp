#include "reader/report.h"
#include "reader/zone_time.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace plumeta::reader {
namespace {

// The shares of the first data-heat in `html`, or none.
std::vector<int> Shares(const std::string& html, std::size_t from = 0) {
    std::vector<int> shares;
    const std::size_t at = html.find("data-heat=\"", from);
    if (at == std::string::npos) return shares;
    for (std::size_t i = at + 11; html[i] != '"'; ++i) {
        if (html[i] == ',' || shares.empty()) shares.push_back(0);
        if (html[i] != ',') shares.back() = shares.back() * 10 + (html[i] - '0');
    }
    return shares;
}

// The nonzero shares as "HOUR:PERCENT ...", or "all:P" when every hour has
// the same share P.
std::string HeatOf(const std::string& html) {
    const std::vector<int> shares = Shares(html);
    if (shares.empty()) return "none";
    std::string nonzero;
    for (std::size_t h = 0; h < shares.size(); ++h) {
        if (shares[h]) nonzero += (nonzero.empty() ? "" : " ") + std::to_string(h) + ":" + std::to_string(shares[h]);
    }
    bool same = shares.size() == kWeekHours;
    for (int share : shares) same = same && share == shares[0];
    return same ? "all:" + std::to_string(shares[0]) : nonzero;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Logs that once crashed the report, dated records wrongly or drew it
// wrongly: each read as a user would expect, its records' times, its skipped
// lines and the first contact's heat map.
TEST(Report, HostileLogs) {
    auto years = [](int count) {  // a New Year between each two records
        std::string log;
        for (int i = 0; i < count; ++i) log += i % 2 ? "01.01 10:00.00 A(1@GG) [y]\n" : "02.01 10:00.00 A(1@GG) [x]\n";
        return log;
    };
    auto online = [](const char* dayMonth, const char* time, bool on) {
        return std::string(dayMonth) + " " + time + " A(1@GG) zmienil status na " + (on ? "dostepny" : "niedost\xEApny") +
               "\n";
    };
    struct Row {
        const char* fault;
        std::string log;
        int year;
        std::string times, warnings, heat;
    };
    std::string span2000 = online("01.01", "00:00.00", true) + years(4001) + online("03.01", "00:00.00", false);
    const Row rows[] = {
        {"a record before 1970", online("01.12", "10:00.00", true) + online("01.01", "10:00.00", false), 1970,
         "1969-12-01 10:00:00 1970-01-01 10:00:00", "", "all:100"},
        {"years below 1 are skipped", years(4), 1, "0001-01-01 10:00:00",
         "1: falls in the year -1, outside 1 to 9999|2: falls in the year 0, outside 1 to 9999|"
         "3: falls in the year 0, outside 1 to 9999|",
         "all:0"},
        {"a control byte in an own line",
         std::string("Zmianiles status 31.12 10:00.00 na sieci GG na dostepny") + '\0' + "\n" +
             online("01.01", "10:00.00", true),
         2026, "2025-12-31 10:00:00 2026-01-01 10:00:00", "", ""},
        {"a clock set back counts an hour once",
         online("07.12", "10:00.00", true) + online("07.12", "11:00.00", false) + online("07.12", "10:30.00", true) +
             online("07.12", "11:30.00", false),
         2026, "2026-12-07 10:00:00 2026-12-07 11:00:00 2026-12-07 10:30:00 2026-12-07 11:30:00", "",
         "10:100 11:100"},
        {"online across 2,000 years", span2000, 4000, "", "", "all:100"},
        {"dates that cannot be",
         "31.02 10:00.00 A(1@GG) [x]\n29.02 10:00.00 A(1@GG) [y]\n01.03 10:00.00 A(1@GG) [z]\n", 2026,
         "2026-03-01 10:00:00",
         "1: a stamp of a date or time that cannot be|2: 29.02 falls in 2026, which is no leap year|", ""},
        {"29 February of a leap year", "29.02 10:00.00 A(1@GG) [y]\n", 2028, "2028-02-29 10:00:00", "", ""},
        {"a skipped 29.02 moves no year",
         "16.04 10:00.00 A(1@GG) [x]\n29.02 10:00.00 A(1@GG) [y]\n17.04 10:00.00 A(1@GG) [z]\n", 2026,
         "2026-04-16 10:00:00 2026-04-17 10:00:00", "2: 29.02 falls in 2026, which is no leap year|", ""},
        {"a skipped 29.02 at the end, and one before a New Year",
         "30.12 10:00.00 A(1@GG) [w]\n29.02 10:00.00 A(1@GG) [x]\n29.02 11:00.00 A(1@GG) [y]\n"
         "01.01 10:00.00 A(1@GG) [z]\n29.02 12:00.00 A(1@GG) [v]\n",
         2027, "2026-12-30 10:00:00 2027-01-01 10:00:00",
         "2: 29.02 falls in 2026, which is no leap year|3: 29.02 falls in 2026, which is no leap year|"
         "5: 29.02 falls in 2027, which is no leap year|",
         ""},
    };
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "plumeta-hostile.txt";
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        std::ofstream(path, std::ios::binary) << row.log;
        Report report;
        std::string times, warnings;
        std::size_t records = 0;
        const auto read = [&](const RecordSink& sink) {
            EXPECT_EQ(ReadLog(path.string(), row.year, sink,
                              [&](uint64_t line, const std::string& why) {
                                  warnings += std::to_string(line) + ": " + why + "|";
                              }),
                      "");
        };
        read([&](const LogRecord& r) {
            report.Add(r);
            if (++records <= 4) times += (times.empty() ? "" : " ") + TimeText(r.time);
        });
        EXPECT_EQ(warnings, row.warnings);
        if (!row.times.empty()) {
            EXPECT_EQ(times, row.times);
        }
        report.StartTimelines();
        read([&](const LogRecord& r) { report.AddToTimelines(r); });
        report.FinishTimelines();
        const std::string html = report.Html(format);
        if (!row.heat.empty()) {
            EXPECT_EQ(HeatOf(html), row.heat);
        }
        for (std::size_t at = html.find("data-heat=\""); at != std::string::npos; at = html.find("data-heat=", at + 1)) {
            for (int share : Shares(html, at)) EXPECT_LE(share, 100);
        }
    }
    std::filesystem::remove(path);
}

LogRecord Change(int day, int hour, uint32_t status, const char* id, std::string description = "") {
    LogRecord record;
    record.time = LocalTime{2026, 11, day, hour, 0, 0};
    ZoneClock clock;
    record.moment = clock.MomentOf(record.time);
    record.name = id;
    record.id = id;
    record.network = "GG";
    record.status = status;
    record.described = !description.empty();
    record.description = description;
    return record;
}

// The page against its own data: the period, the descriptions kept and the
// count of older ones, the days drawn, the heat maps' cells, the index.
TEST(Report, PageAgreesWithItsData) {
    std::vector<LogRecord> records;
    // A: 23 descriptions over 12 days, online 2 hours each time; B: online
    // since the 19th, never described; the log ends on the 20th.
    for (int i = 0; i < 23; ++i) {
        records.push_back(Change(1 + i / 2, 8 + 4 * (i % 2), 64, "A", "opis " + std::to_string(i)));
        records.push_back(Change(1 + i / 2, 10 + 4 * (i % 2), 0, "A"));
    }
    records.push_back(Change(19, 9, 64, "B"));
    records.push_back(Change(20, 9, 0, "A"));
    Report report;
    for (const LogRecord& r : records) report.Add(r);
    report.StartTimelines();
    for (const LogRecord& r : records) report.AddToTimelines(r);
    report.FinishTimelines();
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    const std::string html = report.Html(format);
    // A moment as the page writes it: its weekday (the script's "dziś" or
    // "wczoraj" on the day it is read), date and time.
    auto at = [](const char* time, const char* weekday, const char* shown) {
        return std::string("<time datetime=\"") + time + "\"><span>" + weekday + "</span> " + shown + "</time>";
    };

    EXPECT_NE(html.find("Okres: " + at("2026-11-01 08:00:00", "niedz.", "01.11.2026, 08:00") + " \xE2\x80\x93 " +
                        at("2026-11-20 09:00:00", "pt.", "20.11.2026, 09:00")),
              std::string::npos);
    EXPECT_EQ(Count(html, "<li><time"), kMaxDescriptions);
    EXPECT_NE(html.find("<li>" + at("2026-11-11 08:00:00", "\xC5\x9Br.", "11.11.2026, 08:00") + " opis 20</li>"),
              std::string::npos) << "the oldest of the newest 3";
    EXPECT_EQ(Count(html, "i starszych: 20</p>"), 1u);
    EXPECT_EQ(Count(html, "i starszych"), 1u);
    // Days with contacts' changes: the 20th, the 19th, the 12th to the 8th.
    EXPECT_EQ(Count(html, "<details"), 7u);
    EXPECT_NE(html.find("<details open class=\"day\"><summary><time datetime=\"2026-11-20\">"
                        "<span>pt.</span> 20.11.2026</time></summary>"),
              std::string::npos);
    EXPECT_NE(html.find("<details class=\"day\"><summary><time datetime=\"2026-11-19\">"
                        "<span>czw.</span> 19.11.2026</time></summary>"),
              std::string::npos);
    EXPECT_NE(html.find("<details class=\"day\"><summary><time datetime=\"2026-11-08\">"
                        "<span>niedz.</span> 08.11.2026</time></summary>"),
              std::string::npos);
    EXPECT_EQ(html.find("\"2026-11-07\">"), std::string::npos);
    EXPECT_EQ(html.find("\"2026-11-18\">"), std::string::npos);

    // Each card: its shares for the page's script to draw (the browser test
    // counts the cells drawn), and the link back outside its heading.
    std::size_t cards = 0;
    for (std::size_t at = html.find("<section class=\"contact\""); at != std::string::npos;
         at = html.find("<section class=\"contact\"", at + 1), ++cards) {
        const std::string card = html.substr(at, html.find("</section>", at) - at);
        SCOPED_TRACE(card.substr(0, 60));
        const std::string heat = HeatOf(card);
        std::size_t nonzero = 0;
        for (std::size_t h = 0; h < heat.size(); ++h) nonzero += heat[h] == ':';
        if (heat.compare(0, 4, "all:") == 0) nonzero = heat == "all:0" ? 0 : 168;
        EXPECT_GT(nonzero, 0u);
        EXPECT_NE(card.find("<div class=\"heat-box\"></div>"), std::string::npos);
        EXPECT_NE(card.find("</h3>\n<p class=\"up\"><a href=\"#index\">"), std::string::npos);
    }
    EXPECT_EQ(cards, 2u);
    // Time online up to the log's last record, as `online --by day` counts it.
    const std::string period = "w dniu <time datetime=\"2026-11-20\">20.11.2026</time> ";
    EXPECT_NE(html.find(period + "9\xC2\xA0godz.</span>, <span class=\"nowrap\">w jego tygodniu 24\xC2\xA0godz.</span>, "
                        "<span class=\"nowrap\">w 30 dniach do niego 24\xC2\xA0godz.</span>"),
              std::string::npos) << "B";
    EXPECT_NE(html.find(period + "0\xC2\xA0min</span>, <span class=\"nowrap\">w jego tygodniu 0\xC2\xA0min</span>, "
                        "<span class=\"nowrap\">w 30 dniach do niego 46\xC2\xA0godz.</span>"),
              std::string::npos) << "A";
    EXPECT_NE(html.find("Zwykle w sieci: 8\xE2\x80\x93" "10</p>"), std::string::npos);
    // The index: B online now first, then A; each row links to its card.
    const std::size_t index = html.find("<table class=\"index\">");
    ASSERT_NE(index, std::string::npos);
    EXPECT_NE(html.find("<tr class=\"online\" data-find=\"B B\"><td><a href=\"#c1\">B</a></td><td>GG</td><td>teraz, od " +
                            at("2026-11-19 09:00:00", "czw.", "19.11.2026, 09:00") + "</td>",
                        index),
              std::string::npos);
    EXPECT_NE(html.find("<tr data-find=\"A A\"><td><a href=\"#c2\">A</a></td><td>GG</td><td>ostatnio " +
                            at("2026-11-12 10:00:00", "czw.", "12.11.2026, 10:00") +
                            "</td><td>niedost\xC4\x99pny</td><td>47</td></tr>",
                        index),
              std::string::npos);
    EXPECT_NE(html.find("<section class=\"contact\" id=\"c2\" data-find=\"A A\""), std::string::npos);
}

// One pass keeps the newest days' records as it goes; the page it gives is
// the page of two passes: days that come back after they were left, a
// clock set back over midnight, own lines among them, contacts online since
// before the days, two changes in a second, and days too full to keep (then the second pass is
// needed, and taken).
TEST(Report, OnePassDrawsTheDaysAsTwo) {
    auto line = [](int day, int hour, const char* id, bool on, std::string description = "") {
        LogRecord r = Change(day, hour, on ? 64 : 0, id, description);
        return r;
    };
    auto own = [](int day) {
        LogRecord r = Change(day, 12, 64, "");
        r.kind = RecordKind::Own;
        r.name = r.id = "";
        return r;
    };
    std::vector<LogRecord> longDays, cameBack, full;
    for (int day = 1; day <= 12; ++day) {
        longDays.push_back(line(day, 8, day % 3 ? "A" : "B", true));
        longDays.push_back(own(day));
        longDays.push_back(line(day, 20, "A", false));
        if (day == 5) longDays.push_back(line(day, 20, "A", true));  // the latest of a day left: the later
    }
    longDays.push_back(line(2, 9, "C", true));  // online since long before the days
    cameBack = longDays;
    cameBack.push_back(line(3, 23, "B", true));  // a spilled line, days late
    cameBack.push_back(line(12, 23, "A", true));
    cameBack.push_back(line(4, 1, "A", false));  // a clock set back over days
    cameBack.push_back(line(4, 1, "A", true));   // at the same second
    const std::string longName(1 << 20, 'x');  // kept: its name and identifier
    for (int i = 0; i < 20; ++i) full.push_back(line(20, i % 24, longName.c_str(), i % 2));
    const struct {
        const char* what;
        const std::vector<LogRecord>& records;
        bool secondPass;
    } cases[] = {{"twelve days", longDays, false}, {"days that come back", cameBack, false}, {"full days", full, true}};
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Report one, two;
        for (const LogRecord& r : c.records) one.Add(r), two.Add(r);
        EXPECT_EQ(one.SecondPassNeeded(), c.secondPass);
        if (one.SecondPassNeeded()) {
            one.StartTimelines();
            for (const LogRecord& r : c.records) one.AddToTimelines(r);
        }
        one.FinishTimelines();
        two.StartTimelines();
        for (const LogRecord& r : c.records) two.AddToTimelines(r);
        two.FinishTimelines();
        const std::string page = one.Html(format);
        EXPECT_EQ(page, two.Html(format));
        EXPECT_EQ(Count(page, "<details class=\"day\"") + Count(page, "<details open class=\"day\""),
                  c.secondPass ? 1u : 7u);
    }
}

// Contacts numbered in the order they first come, found again after the
// table grew; an identifier on two networks two contacts; long identifiers
// told apart past their first eight bytes; own lines none.
TEST(ContactNumbers, EachContactOnce) {
    ContactNumbers numbers;
    const auto of = [&](std::string_view network, const std::string& id) {
        LogRecord record;
        record.network = network;
        record.id = id;
        return numbers.Of(record);
    };
    LogRecord own;
    own.kind = RecordKind::Own;
    EXPECT_EQ(numbers.Of(own), ContactNumbers::kNone);
    uint32_t wrong = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t i = 0; i < 3000; ++i) wrong += of("GG", std::to_string(i)) != i;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(of("JABBER", "0"), 3000u);
    EXPECT_EQ(of("", "0"), 3001u);
    EXPECT_EQ(of("GG", std::string(16, 'x') + "a"), 3002u);
    EXPECT_EQ(of("GG", std::string(16, 'x') + "b"), 3003u);
    EXPECT_EQ(of("GG", std::string(16, 'x') + "a"), 3002u);
}

}  // namespace
}  // namespace plumeta::reader
