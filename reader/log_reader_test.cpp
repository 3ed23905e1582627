#include "reader/log_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <sys/utime.h>
#else
#include <utime.h>
#endif

#include "recorder/spill_file.h"

namespace plumeta::reader {
namespace {

void SetModified(const std::filesystem::path& path, int64_t moment) {
    utimbuf times{static_cast<time_t>(moment), static_cast<time_t>(moment)};
    ASSERT_EQ(utime(path.string().c_str(), &times), 0);
}

std::string SpillHeaderText(const SpillState& state) {
    const SpillHeader header = MakeSpillHeader(state);
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

// Reads `log` (with its spill beside, when given), its file time
// `modified`: each record as "YYYY-MM-DD HH:MM description[ spilled]".
std::vector<std::string> Dated(const std::string& log, const std::string& spill, int64_t modified,
                               std::vector<std::string>* warnings = nullptr) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "plumeta-dated";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "statusy.txt", std::ios::binary) << log;
    if (!spill.empty()) std::ofstream(dir / "statusy-zalegle.log", std::ios::binary) << spill;
    SetModified(dir / "statusy.txt", modified);
    if (!spill.empty()) SetModified(dir / "statusy-zalegle.log", modified);
    std::vector<std::string> got;
    EXPECT_EQ(ReadLog((dir / "statusy.txt").string(), 0,
                      [&](const LogRecord& r) {
                          char when[32];
                          std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d ", r.time.year, r.time.month,
                                        r.time.day, r.time.hour, r.time.minute);
                          got.push_back(when + r.description + (r.spilled ? " spilled" : ""));
                      },
                      [&](uint64_t line, const std::string& why) {
                          if (warnings) warnings->push_back(std::to_string(line) + " " + why.substr(0, why.find(" (")));
                      }),
              "");
    std::filesystem::remove_all(dir);
    return got;
}

struct Parsed {
    LineKind kind;
    const char* name = "";
    const char* id = "";
    const char* network = "";
    int status = -1;  // -1: none
    char gender = 0;
    const char* description = nullptr;  // null: none
    bool open = false;
};

// The precedence rules, on lines with "(", "@", ")", " [" and "]" where a
// name, identifier or description may hold them.
TEST(LogReader, ParsesLinesByPrecedence) {
    struct Row {
        const char* line;
        Parsed want;
    };
    const Row rows[] = {
        {"07.03 13:05.09 Ania(123@JABBER) zmienila status na dostepna [w domu]",
         {LineKind::Record, "Ania", "123", "JABBER", 64, 'f', "w domu", false}},
        {"07.03 13:05.09 \xA3ukasz(555@LAN@GG) zmienil status na ukryty",
         {LineKind::Record, "\xA3ukasz", "555@LAN", "GG", 66, 'm', nullptr, false}},
        {"07.03 13:05.09 Ewa(e@GG)@JABBER) zmienila status na freeForChat",
         {LineKind::Record, "Ewa", "e@GG)", "JABBER", 67, 'f', nullptr, false}},
        {"07.03 13:05.09 Tomek(t@x)(99 zmienil status na dostepny [(nie)obecny]",
         {LineKind::Record, "Tomek(t@x)", "99", "", 64, 'm', "(nie)obecny", false}},
        {"07.03 13:05.09 Kasia (praca)(k@GG) [spotkanie [pilne] do 12]",
         {LineKind::Record, "Kasia (praca)", "k", "GG", -1, 0, "spotkanie [pilne] do 12", false}},
        {"07.03 13:05.09 Ola [x](7 [opis",
         {LineKind::Record, "Ola [x]", "7", "", -1, 0, "opis", true}},
        {"07.03 13:05.09 (@LAN)", {LineKind::Record, "", "", "LAN", -1, 0, nullptr, false}},
        {"07.03 13:05.09 Jan(1 zmienil status na zaraz wracam []",
         {LineKind::Record, "Jan", "1", "", 65, 'm', "", false}},
        {"Zmianiles status 31.12 23:59.59 na sieci GG na niedost\xEApna",
         {LineKind::Record, "", "", "GG", 0, 'f', nullptr, false}},
        {"Zmianiles status 01.01 00:00.00 na sieci  na  [opis]",
         {LineKind::Record, "", "", "", -1, 0, "opis", false}},
        {"Zmianiles status 01.01 00:00.00 na sieci XX na dostepny", {LineKind::Unplaceable}},
        {"07.03 13:05.09 Bez nawiasu zmienil status na dostepny", {LineKind::Unplaceable}},
        {"07.03 25:05.09 Ania(1@GG)", {LineKind::Unplaceable}},
        {"31.02 13:05.09 Ania(1@GG)", {LineKind::Unplaceable}},
        {"Zmianiles status 31.04 23:59.59 na sieci GG na dostepny", {LineKind::Unplaceable}},
        {"07.03 1x:05.09 Ania(1@GG)", {LineKind::Continuation}},
        {"Druga linia]", {LineKind::Continuation}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        LogRecord record;
        bool open = false;
        const char* why = "";
        ASSERT_EQ(ParseLine(row.line, record, open, why), row.want.kind);
        if (row.want.kind != LineKind::Record) continue;
        EXPECT_EQ(record.name, row.want.name);
        EXPECT_EQ(record.id, row.want.id);
        EXPECT_EQ(record.network, row.want.network);
        EXPECT_EQ(record.status ? static_cast<int>(*record.status) : -1, row.want.status);
        EXPECT_EQ(record.gender, row.want.gender);
        EXPECT_EQ(record.described, row.want.description != nullptr);
        if (row.want.description) {
            EXPECT_EQ(record.description, row.want.description);
        }
        EXPECT_EQ(open, row.want.open);
    }
}

// A stamp is read only when all five of its separators are where they
// belong: a line with any one of them wrong starts no record.
TEST(LogReader, StampNeedsEverySeparator) {
    const char* stamps[] = {
        "07.03 13:05.09 ",  // the one right stamp
        "07x03 13:05.09 ", "07.03x13:05.09 ", "07.03 13x05.09 ", "07.03 13:05x09 ", "07.03 13:05.09x",
        "07.03x13x05x09x", "07x03 13x05x09x", "07x03x13:05x09x", "07x03x13x05.09x", "07x03x13x05x09 ",
    };
    for (const char* stamp : stamps) {
        SCOPED_TRACE(stamp);
        LogRecord record;
        bool open = false;
        const char* why = "";
        const LineKind want = stamp == stamps[0] ? LineKind::Record : LineKind::Continuation;
        EXPECT_EQ(ParseLine(std::string(stamp) + "Ania(1@GG)", record, open, why), want);
    }
}

// Control bytes are left out wherever they stand, in either half of the
// eight bytes read at a time; TAB stays.
TEST(LogReader, ControlBytesAreLeftOut) {
    const std::string text = "ABCDEFGHIJKLMNOP";
    std::string log, want;
    std::vector<std::string> wants;
    for (int byte = 0; byte < 0x80; ++byte) {
        if (byte == '\n' || (byte >= 0x20 && byte < 0x7F && byte != '\t')) continue;
        const bool kept = byte == '\t';
        for (std::size_t at = 0; at <= text.size(); ++at) {  // the description starts at the 27th byte
            std::string description = text;
            description.insert(at, 1, static_cast<char>(byte));
            log += "07.03 13:05.09 Ania(1@GG) [" + description + "]\n";
            wants.push_back(kept ? description : text);
        }
    }
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "plumeta-controls.txt";
    std::ofstream(path, std::ios::binary) << log;
    std::vector<std::string> got;
    EXPECT_EQ(ReadLog(path.string(), 2026, [&](const LogRecord& r) { got.push_back(r.description); },
                      [](uint64_t, const std::string&) {}),
              "");
    EXPECT_EQ(got, wants);
    std::filesystem::remove(path);
}

// A line is kept up to 1 MiB; the rest of it is left out, with a warning on
// its line, and the next line is read as it stands.
TEST(LogReader, LongLinesAreCutAt1MiB) {
    constexpr std::size_t kMiB = 1 << 20;
    const std::string head = "07.03 13:05.09 Ania(1@GG) [";
    struct Row {
        std::size_t size;  // of the long line, without its line end
        bool cut;
    };
    const Row rows[] = {{kMiB - 1, false}, {kMiB, false}, {kMiB + 1, true}, {3 * kMiB + 7, true}};
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "plumeta-long-line.txt";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        {
            std::ofstream out(path, std::ios::binary);
            out << head << std::string(row.size - head.size() - 1, 'x') << "]\r\n"
                << "07.03 13:05.10 Ola(2@GG) [krótko]\r\n";
        }
        std::vector<LogRecord> records;
        std::vector<std::string> warnings;
        EXPECT_EQ(ReadLog(path.string(), 2026, [&](const LogRecord& r) { records.push_back(r); },
                          [&](uint64_t line, const std::string& why) {
                              warnings.push_back(std::to_string(line) + ": " + why);
                          }),
                  "");
        ASSERT_EQ(records.size(), 2u);
        const std::size_t kept = row.cut ? kMiB - head.size() : row.size - head.size() - 1;
        EXPECT_EQ(records[0].description, std::string(kept, 'x'));
        EXPECT_EQ(records[1].name, "Ola");
        EXPECT_EQ(records[1].line, 2u);
        EXPECT_EQ(records[1].description, "kr\xF3tko");
        const std::vector<std::string> want =
            row.cut ? std::vector<std::string>{"1: the line is longer than 1 MiB; the rest is left out"}
                    : std::vector<std::string>{};
        EXPECT_EQ(warnings, want);
    }
    std::filesystem::remove(path);
}

// The log's spill comes after it: its lines dated with the log's (a New
// Year between them included), marked spilled, numbered in the spill, its
// header and a fragment left open in the log not joined to it.
TEST(LogReader, ReadsTheSpillAfterTheLog) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "plumeta-spilled";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "statusy.txt", std::ios::binary)
        << "31.12 23:59.00 Ania(1@GG) [otwarty\r\n";
    std::ofstream(dir / "statusy-zalegle.log", std::ios::binary)
        << "#plumeta-zalegle od=-------------------- usuniete=0000000000 przesuw=--------------------\r\n"
           "01.01 00:01.00 Ania(1@GG) [b]\r\nzle\r\n";
    std::vector<std::string> got;
    std::vector<std::string> warnings;
    EXPECT_EQ(ReadLog((dir / "statusy.txt").string(), 2027,
                      [&](const LogRecord& r) {
                          got.push_back(std::to_string(r.time.year) + " " + r.description + " " +
                                        std::to_string(r.line) + (r.spilled ? " spilled" : ""));
                      },
                      [&](uint64_t line, const std::string& why) { warnings.push_back(std::to_string(line) + " " + why); }),
              "");
    EXPECT_EQ(got, (std::vector<std::string>{"2026 otwarty 1", "2027 b 2 spilled"}));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "3 neither a record nor part of an open description (" +
                               (dir / "statusy-zalegle.log").string() + ")");
    std::filesystem::remove_all(dir);
}

// A step back of less than a day is no New Year, across midnight too; the
// last record takes the latest year in which it falls no later than a day
// after its file's time, whatever the zone it is read in.
TEST(LogReader, DatesRecordsByTheirSteps) {
    const auto line = [](const char* stamp, const char* what) {
        return std::string(stamp) + ".00 Ania(1@GG) [" + what + "]\r\n";
    };
    const int64_t dec10 = 1796803200;  // 2026-12-10 00:00 UTC
    const struct {
        const char* what;
        std::string log, spill;
        int64_t modified;
        std::vector<std::string> want;
    } rows[] = {
        {"a clock set back 2 minutes across midnight",
         line("09.12 22:00", "a") + line("10.12 00:01", "b") + line("09.12 23:59", "c") + line("10.12 08:00", "d"), "",
         dec10 + 8 * 3600,
         {"2026-12-09 22:00 a", "2026-12-10 00:01 b", "2026-12-09 23:59 c", "2026-12-10 08:00 d"}},
        {"a spill's line from before the log's midnight", line("09.12 23:50", "a") + line("10.12 00:02", "b"),
         SpillHeaderText({}) + line("09.12 23:58", "c"), dec10 + 180,
         {"2026-12-09 23:50 a", "2026-12-10 00:02 b", "2026-12-09 23:58 c spilled"}},
        {"and from before New Year's midnight", line("31.12 23:50", "a") + line("01.01 00:02", "b"),
         SpillHeaderText({}) + line("31.12 23:58", "c"), dec10 + 22 * 86400 + 300,
         {"2026-12-31 23:50 a", "2027-01-01 00:02 b", "2026-12-31 23:58 c spilled"}},
        {"a New Year", line("20.12 10:00", "a") + line("02.01 10:00", "b"), "", dec10 + 24 * 86400,
         {"2026-12-20 10:00 a", "2027-01-02 10:00 b"}},
        {"a copy made in January", line("30.12 10:00", "a") + line("31.12 10:00", "b"), "", dec10 + 26 * 86400,
         {"2026-12-30 10:00 a", "2026-12-31 10:00 b"}},
        {"a last line after its file's time", line("15.06 10:00", "a"), "", 1780272000 /* 2026-06-01 */,
         {"2025-06-15 10:00 a"}},
        {"a file written at 00:30 in Warsaw, 23:30 UTC", line("31.12 23:40", "a") + line("01.01 00:30", "b"), "",
         dec10 + 21 * 86400 + 23 * 3600 + 1805,
         {"2026-12-31 23:40 a", "2027-01-01 00:30 b"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Dated(row.log, row.spill, row.modified), row.want);
    }
}

// A spill is read as the module's next fold takes it: what a fold cut
// short put into the log is read once; dropped lines and a header that is
// none of the module's are told on its line 1.
TEST(LogReader, ReadsSpillsAsTheModuleFoldsThem) {
    const auto line = [](const char* what) { return "09.12 17:00.00 Ania(1@GG) [" + std::string(what) + "]\r\n"; };
    SpillState cut;
    cut.foldAt = line("a").size();
    cut.foldFrom = kSpillHeaderSize;
    SpillState dropped;
    dropped.dropped = 12345;
    std::string damaged = SpillHeaderText({});
    damaged[30] = 'x';
    const int64_t modified = 1796803200;
    const struct {
        const char* what;
        std::string log, spill;
        std::vector<std::string> want, warnings;
    } rows[] = {
        {"a fold cut short", line("a") + line("b"), SpillHeaderText(cut) + line("b") + line("c"),
         {"2026-12-09 17:00 a", "2026-12-09 17:00 b", "2026-12-09 17:00 c spilled"}, {}},
        {"a fold cut short, then the log's first line deleted", line("b"), SpillHeaderText(cut) + line("b") + line("c"),
         {"2026-12-09 17:00 b", "2026-12-09 17:00 c spilled"}, {}},
        {"lines dropped", line("a"), SpillHeaderText(dropped) + line("b"),
         {"2026-12-09 17:00 a", "2026-12-09 17:00 b spilled"},
         {"1 12345 of the spill's oldest lines were dropped to keep it within 64 MiB: they are in no file"}},
        {"a damaged header", line("a"), damaged + line("b"),
         {"2026-12-09 17:00 a", "2026-12-09 17:00 b spilled"},
         {"1 the spill's first line is no header of the module's: all its lines are read as they stand"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> warnings;
        EXPECT_EQ(Dated(row.log, row.spill, modified, &warnings), row.want);
        EXPECT_EQ(warnings, row.warnings);
    }
}

}  // namespace
}  // namespace plumeta::reader
