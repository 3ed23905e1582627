// plumeta-log: reads the status logs the plug-in writes and answers in
// UTF-8: the changes for reading, as CSV or JSON Lines, who was last seen
// when, a day's timeline as an SVG picture, and a report page. Log files
// dropped on it (given with no command) make the report beside the first,
// which it then opens.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codepage/codepage.h"
#include "reader/last_seen.h"
#include "reader/log_reader.h"
#include "reader/record_format.h"
#include "reader/report.h"
#include "reader/time_online.h"
#include "reader/timeline.h"
#include "reader/zone_time.h"
#include "recorder/spill_file.h"
#include "recorder/status_log.h"
#include "tools/plumeta_log/format_pipeline.h"
#include "recorder/status_words.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using plumeta::Cp1250Converter;
using plumeta::LocalTime;
using plumeta::reader::LogRecord;
using plumeta::reader::RecordFormatter;
using plumeta::reader::RecordKind;

constexpr char kUsage[] =
    "usage: plumeta-log COMMAND [OPTIONS] FILE...\n"
    "Reads status log files written by the Plumeta plug-in (Windows-1250) and\n"
    "prints what they hold in UTF-8.\n"
    "\n"
    "Commands:\n"
    "  show       one line per change, for reading\n"
    "  csv        RFC 4180 CSV with a header row, rows ending in CR LF; the fields\n"
    "             time,kind,name,id,network,status,gender,description,file,line\n"
    "  json       JSON Lines with the same fields; time is ISO 8601 with the UTC\n"
    "             offset (2026-10-25T02:10:00+01:00, see --tz); status and line are\n"
    "             numbers, status is null without a status word, description null\n"
    "             without one\n"
    "  last-seen  one row per contact: the last change, online now since when or\n"
    "             last seen online (the last change from online to 0 or 1), and\n"
    "             the number of changes; --csv for CSV\n"
    "  online     [--by day|week|month]: CSV of the time each contact was online,\n"
    "             a row per contact and period (day: default) it was online in:\n"
    "             day,name,id,network,online_seconds,sessions (day: the period's\n"
    "             first day); online is every status but niedostepny and\n"
    "             blokujacy, a session ends at the next change to one of them or\n"
    "             at the last record read, and one that crosses a period's end is\n"
    "             split there and counted in both\n"
    "  timeline   --day YYYY-MM-DD [--out FILE.svg]: that day as an SVG picture\n"
    "  report     [--out FILE.html]: one HTML page of the whole log: an index of\n"
    "             the contacts with a filter box; per contact a week heat map of\n"
    "             when it is online, online now or last seen, its changes, last\n"
    "             descriptions and whole story (files in FILE-historie beside\n"
    "             the page); the last 7 days with changes as timelines; the\n"
    "             user's own changes\n"
    "\n"
    "plumeta-log FILE... (log files and no command, as when they are dropped on\n"
    "it) writes their report as NAME.html and NAME-historie beside the first\n"
    "file (or in the temporary folder when the folder cannot be made there),\n"
    "prints its path and, on Windows, opens it in the browser unless\n"
    "PLUMETA_LOG_NO_OPEN is set.\n"
    "\n"
    "Options:\n"
    "  --year YYYY        the year of each file's last record (default: below)\n"
    "  --contact TEXT     show, csv, json, report: only contacts whose name or identifier\n"
    "                     holds TEXT (ASCII letters in either case)\n"
    "  --network NAME     only GG, JABBER or LAN\n"
    "  --since WHEN       from this date (YYYY-MM-DD) or date-time (YYYY-MM-DD HH:MM[:SS])\n"
    "  --until WHEN       up to this date (its whole day) or date-time\n"
    "  --own, --contacts  only the user's own changes, or only the contacts'\n"
    "  --tz ZONE          the zone the log was written in (a tz database name such\n"
    "                     as Europe/Warsaw; not on Windows, which takes its own):\n"
    "                     times are read as its local times, so that durations\n"
    "                     are real time across clock changes (default: this\n"
    "                     machine's zone)\n"
    "\n"
    "How lines are read:\n"
    "  contact line  DD.MM HH:MM.SS NAME(ID[@GG)|@JABBER)|@LAN)][ zmienil(a) status na WORD][ [DESCRIPTION]]\n"
    "  own line      Zmianiles status DD.MM HH:MM.SS na sieci [NETWORK] na [WORD][ [DESCRIPTION]]\n"
    "  - line ends CR LF, LF or CR CR LF; a last line without one is read too;\n"
    "  - the network tag is the first of the three that is followed by a status\n"
    "    phrase, by \" [\" or by the line's end; the identifier runs from the last\n"
    "    \"(\" before it; without a tag, from the last \"(\" before the phrase, or\n"
    "    before the description or the line's end; the network is then empty;\n"
    "  - the description starts at the first \" [\" after the phrase (or the tag)\n"
    "    and runs to the final \"]\";\n"
    "  - a line that starts with neither continues the previous description\n"
    "    while it is open (no line of it has ended in \"]\"), joined with LF;\n"
    "  - any other line is reported as FILE:LINE: ... and skipped, as is a stamp\n"
    "    of a date or time that cannot be (31.02, 24:00, 29.02 of a year that is\n"
    "    no leap year) and a record that would fall outside the years 1 to 9999;\n"
    "  - control characters other than TAB are left out;\n"
    "  - years: the log has none. The last record takes the latest year in which\n"
    "    it falls no later than a day after the file's last change (so a copy\n"
    "    made later, or a reader in another time zone, changes nothing). Walking\n"
    "    back from it, a record a day or more later in the year than the one\n"
    "    after it belongs to the year before; a step back of less than a day (a\n"
    "    clock set back, a spill's line from before midnight) is no New Year;\n"
    "  - the log's spills (NAME-zalegle.log beside it, then the one the plug-in\n"
    "    keeps in the temporary folder: lines the log could not take yet) are\n"
    "    read after it, as the plug-in will fold them in: lines a fold cut short\n"
    "    already put into the log are read once; their records name the spill as\n"
    "    their file, and the report counts them as not yet in the log; lines the\n"
    "    spill dropped to keep within 64 MiB, and a spill that does not begin\n"
    "    with the plug-in's header, are warnings on the spill's line 1.\n"
    "\n"
    "Exit status: 0 every file was read (skipped lines are warnings); 1 a file\n"
    "is missing or unreadable (reported as FILE: ... after the others), or the\n"
    "output cannot be written; 2 bad usage.\n";

constexpr const char* kCommands[] = {"show", "csv", "json", "last-seen", "online", "timeline", "report"};

// What a double-click without files says (Windows), in Polish like the
// plug-in; UTF-8.
constexpr char kDropHelp[] =
    "Upu\xC5\x9B\xC4\x87 plik dziennika (statusy.txt) na plumeta-log.exe: powstanie strona z "
    "raportem, kt\xC3\xB3ra otworzy si\xC4\x99 w przegl\xC4\x85" "darce.\n\n"
    "W wierszu polece\xC5\x84: plumeta-log --help";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "plumeta-log: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
}

// A date or date-time of --since, --until and --day.
std::optional<LocalTime> ParseWhen(const std::string& text, bool endOfDay) {
    LocalTime when;
    char tail = 0;
    const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &when.year, &when.month,
                                   &when.day, &tail, &when.hour, &when.minute, &when.second);
    const bool date = fields == 3 && text.size() == 10;
    const bool dateTime = (fields == 6 || fields == 7) && (tail == ' ' || tail == 'T');
    if ((!date && !dateTime) || when.month < 1 || when.month > 12 || when.day < 1 || when.day > 31 ||
        when.hour > 23 || when.minute > 59 || when.second > 59) {
        return std::nullopt;
    }
    if (date && endOfDay) {
        when.hour = 23;
        when.minute = 59;
        when.second = 59;
    }
    return when;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool Holds(const std::string& text, const std::string& lowerNeedle) {
    if (lowerNeedle.size() > text.size()) return false;
    for (std::size_t at = 0; at + lowerNeedle.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < lowerNeedle.size() && AsciiLower(text[at + i]) == lowerNeedle[i]) ++i;
        if (i == lowerNeedle.size()) return true;
    }
    return false;
}

struct Options {
    std::string command;
    std::vector<std::string> files;
    int year = 0;
    std::optional<std::string> contact;  // Windows-1250, ASCII letters in lower case
    std::optional<std::string> network;
    std::optional<LocalTime> since, until;
    bool own = false, contacts = false, csv = false;
    std::optional<LocalTime> day;
    std::string out;
    std::optional<plumeta::reader::Period> by;
    std::optional<std::string> tz;
};

bool Passes(const Options& o, const LogRecord& r) {
    if (o.own != o.contacts && (r.kind == RecordKind::Own) != o.own) return false;
    if (o.network && r.network != *o.network) return false;
    if (o.since && plumeta::reader::Earlier(r.time, *o.since)) return false;
    if (o.until && plumeta::reader::Earlier(*o.until, r.time)) return false;
    if (o.contact && (r.kind == RecordKind::Own || (!Holds(r.name, *o.contact) && !Holds(r.id, *o.contact)))) {
        return false;
    }
    return true;
}

std::vector<std::string> Arguments(int argc, char** argv) {
#if defined(_WIN32)
    // The command line in UTF-16, so that file names are what was typed.
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(std::filesystem::path(wide[i]).u8string());
    if (wide) LocalFree(wide);
    return arguments;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

// Everything printed goes through here, in large writes; a write that does
// not go through is remembered, and Close says so.
class Output {
public:
    explicit Output(std::FILE* to) : to_(to) {}
    ~Output() {
        if (to_) Flush();
    }
    plumeta::reader::OutText& text() { return *text_; }
    void MaybeFlush() {
        if (text_->size() >= kFlushAt) Flush();
    }
    void Flush() { Write(text_->data(), text_->size()); text_->Clear(); }
    // Flushes the stream too, so that what follows on standard error comes after.
    void Sync() {
        Flush();
        if (std::fflush(to_) != 0 && !error_) error_ = errno ? errno : EIO;
    }
    void Write(const char* bytes, std::size_t size) {
        if (size > 0 && std::fwrite(bytes, 1, size, to_) != size && !error_) error_ = errno ? errno : EIO;
    }
    // Flushes and closes the stream: `status`, or 1 with the reason when any
    // of the output could not be written.
    int Close(int status) {
        Sync();
        if (std::ferror(to_) && !error_) error_ = EIO;
        if (std::fclose(to_) != 0 && !error_) error_ = errno ? errno : EIO;
        to_ = nullptr;
        if (!error_) return status;
        std::fprintf(stderr, "plumeta-log: cannot write the output: %s\n", std::strerror(error_));
        return 1;
    }

private:
    static constexpr std::size_t kFlushAt = 60000;  // within OutText's own room
    std::FILE* to_;
    int error_ = 0;  // of the first write that did not go through
    // On the heap, made once: 64 KiB is too much for the stack.
    std::unique_ptr<plumeta::reader::OutText> text_{new plumeta::reader::OutText};
};

// Reads every file in order; answers 1 when one could not be read, which is
// reported once all are done.
template <typename OnRecord, typename Finish = void (*)()>
int ReadAll(const Options& o, Output& out, OnRecord onRecord, Finish finish = [] {}) {
    std::vector<std::string> unreadable;
    std::deque<std::string> spills;  // where spilled records stand; formatted until finish() is done
    for (const std::string& file : o.files) {
        const std::string& spill = spills.emplace_back(plumeta::SpillBeside(file));
        const std::string& temporary = spills.emplace_back(plumeta::reader::TemporarySpillOf(file));
        const std::string problem = plumeta::reader::ReadLog(
            file, o.year,
            [&](const LogRecord& record) {
                onRecord(record, !record.spilled ? file : record.inTemporary ? temporary : spill);
            },
            [&](uint64_t line, const std::string& why) {
                std::fprintf(stderr, "%s:%llu: %s\n", file.c_str(), static_cast<unsigned long long>(line),
                             why.c_str());
            });
        if (!problem.empty()) unreadable.push_back(file + ": " + problem);
    }
    finish();
    out.Sync();
    for (const std::string& problem : unreadable) std::fprintf(stderr, "%s\n", problem.c_str());
    return unreadable.empty() ? 0 : 1;
}

// Time online, as CSV: a row per contact and period.
int Online(const Options& o, const Cp1250Converter& codepage, Output& out) {
    plumeta::reader::OnlineTable table(o.by.value_or(plumeta::reader::Period::Day));
    const int status = ReadAll(o, out, [&](const LogRecord& record, const std::string&) { table.Add(record); });
    plumeta::reader::OutText& text = out.text();
    text.Append("day,name,id,network,online_seconds,sessions\r\n");
    for (const plumeta::reader::OnlineRow& row : table.Finish()) {
        char day[16];
        std::snprintf(day, sizeof day, "%04d-%02d-%02d,", row.first.year, row.first.month, row.first.day);
        text.Append(day);
        plumeta::reader::AppendCsvField(text, row.name, &codepage);
        text.Append(",");
        plumeta::reader::AppendCsvField(text, row.key.second, &codepage);
        text.Append(",");
        text.Append(row.key.first);
        text.Append("," + std::to_string(row.seconds) + "," + std::to_string(row.sessions) + "\r\n");
        out.MaybeFlush();
    }
    return status;
}

int LastSeen(const Options& o, RecordFormatter& format, Output& out) {
    plumeta::reader::LastSeenTable table;
    const int status = ReadAll(o, out, [&](const LogRecord& record, const std::string&) { table.Add(record); });
    struct Row {
        std::string cells[8];
    };
    const char* headings[] = {"name", "id", "network", "last_change", "status",
                              "online_now_since", "last_seen_online", "changes"};
    std::vector<Row> rows;
    std::vector<std::string> descriptions;
    for (const auto& [key, seen] : table.contacts()) {
        Row row;
        using plumeta::reader::TimeText;
        const std::string time = TimeText(seen.last.time);
        const std::string since = seen.onlineSince ? TimeText(*seen.onlineSince) : "";
        const std::string last = seen.lastSeenOnline ? TimeText(*seen.lastSeenOnline) : "";
        const std::optional<uint32_t>& code = seen.last.status;
        row.cells[0] = format.Utf8(seen.last.name);
        row.cells[1] = format.Utf8(seen.last.id);
        row.cells[2] = std::string(seen.last.network);
        row.cells[3] = time;
        row.cells[4] = code ? (o.csv ? std::to_string(*code) : format.StatusWord(*code, seen.last.gender)) : "";
        row.cells[5] = since;
        row.cells[6] = last;
        row.cells[7] = std::to_string(seen.changes);
        rows.push_back(row);
        std::string description = format.Utf8(seen.last.description);
        descriptions.push_back(o.csv ? description : plumeta::reader::OneLine(description));  // a table row: one line
    }
    // By name, as a person looks for one.
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return rows[a].cells[0] < rows[b].cells[0]; });
    if (o.csv) {
        for (const char* heading : headings) {
            out.text().Append(heading);
            out.text().Push(',');
        }
        out.text().Append("description\r\n");
        for (std::size_t r : order) {
            for (const std::string& cell : rows[r].cells) {
                plumeta::reader::AppendCsvField(out.text(), cell);
                out.text().Push(',');
            }
            plumeta::reader::AppendCsvField(out.text(), descriptions[r]);
            out.text().Append("\r\n");
            out.MaybeFlush();
        }
        return status;
    }
    // A table: columns as wide as their widest cell, in characters.
    auto width = [](const std::string& utf8) {
        std::size_t characters = 0;
        for (char c : utf8) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return characters;
    };
    std::size_t widths[8];
    for (int c = 0; c < 8; ++c) {
        widths[c] = width(headings[c]);
        for (const Row& row : rows) widths[c] = std::max(widths[c], width(row.cells[c]));
    }
    auto line = [&](const std::string* cells, const std::string& description) {
        for (int c = 0; c < 8; ++c) {
            out.text().Append(cells[c] + std::string(widths[c] - width(cells[c]) + 2, ' '));
        }
        out.text().Append(description + "\n");
        out.MaybeFlush();
    };
    std::string headingCells[8];
    for (int c = 0; c < 8; ++c) headingCells[c] = headings[c];
    line(headingCells, "description");
    for (std::size_t r : order) line(rows[r].cells, descriptions[r]);
    return status;
}

// Writes `content` to `path` (UTF-8) through a temporary file, so that a
// failed run leaves no half-written file. Answers whether it was written.
bool WriteWhole(const std::string& path, const std::string& content) {
    const std::filesystem::path target = std::filesystem::u8path(path);
    std::filesystem::path temporary = target;
    temporary += ".part";
    {
        std::ofstream file(temporary, std::ios::binary);
        file << content;
        if (!file) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) std::filesystem::remove(temporary, error);
    return !error;
}

// Prints `content`, or writes it to o.out.
int Emit(const Options& o, Output& out, const std::string& content, int status) {
    if (o.out.empty()) {
        out.Flush();
        out.Write(content.data(), content.size());
        return status;
    }
    if (!WriteWhole(o.out, content)) {
        std::fprintf(stderr, "plumeta-log: cannot write %s\n", o.out.c_str());
        return 1;
    }
    return status;
}

int Timeline(const Options& o, RecordFormatter& format, Output& out) {
    plumeta::reader::DayTimeline timeline(o.day->year, o.day->month, o.day->day);
    const int status = ReadAll(o, out, [&](const LogRecord& record, const std::string&) { timeline.Add(record); });
    return Emit(o, out, timeline.Svg(format), status);
}

// Where a page's stories go: "raport.html" has "raport-historie" beside it.
std::filesystem::path StoriesBeside(const std::filesystem::path& page) {
    std::filesystem::path folder = page;
    folder.replace_extension();
    return folder += "-historie";
}

// The report page of o.files into `html`, the contacts' stories into the
// folder beside `page` (none without a page): one pass, or two when the
// log's last days are too full to keep (Report::SecondPassNeeded). Answers
// 1 when a file could not be read or a story written.
int BuildReport(const Options& o, const RecordFormatter& format, const std::string& page, std::string& html) {
    plumeta::reader::Report report;
    report.SetToday(plumeta::ToLocalTime(plumeta::SystemClock()));  // "dziś" and "wczoraj" on the page
    std::optional<plumeta::reader::StoryFolder> stories;
    if (!page.empty()) {
        const std::filesystem::path folder = StoriesBeside(std::filesystem::u8path(page));
        stories.emplace(folder.u8string(), format);
        report.SetStories(&*stories, folder.filename().u8string());
    }
    std::vector<std::string> unreadable;
    // The records are numbered by their contacts and taken in on a thread of
    // their own while the next are read (the warnings touch none of what Add
    // does).
    plumeta::reader::ContactNumbers numbers;
    FormatPipeline taking(
        [&](const LogRecord& record, const std::string&, uint32_t contact) { report.Add(record, contact); },
        [&](const LogRecord& record) { return numbers.Of(record); },
        [&](uint32_t later, uint32_t sooner) { report.Expect(later, sooner); });
    for (const std::string& file : o.files) {
        const std::string problem = plumeta::reader::ReadLog(
            file, o.year,
            [&](const LogRecord& record) {
                if (Passes(o, record)) taking.Add(record, file);
            },
            [&](uint64_t line, const std::string& why) {
                std::fprintf(stderr, "%s:%llu: %s\n", file.c_str(), static_cast<unsigned long long>(line),
                             why.c_str());
                report.AddSkipped(file, line, why);
            });
        report.AddFile(file, problem);
        if (!problem.empty()) unreadable.push_back(file + ": " + problem);
    }
    taking.Finish();
    if (stories && !stories->Finish().empty()) unreadable.push_back("plumeta-log: " + stories->problem());
    if (report.SecondPassNeeded()) {
        report.StartTimelines();
        for (const std::string& file : o.files) {
            plumeta::reader::ReadLog(
                file, o.year,
                [&](const LogRecord& record) {
                    if (Passes(o, record)) report.AddToTimelines(record);
                },
                [](uint64_t, const std::string&) {});
        }
    }
    report.FinishTimelines();
    html = report.Html(format);
    for (const std::string& problem : unreadable) std::fprintf(stderr, "%s\n", problem.c_str());
    return unreadable.empty() ? 0 : 1;
}

int Report(const Options& o, const RecordFormatter& format, Output& out) {
    std::string html;
    const int status = BuildReport(o, format, o.out, html);
    return Emit(o, out, html, status);
}

#if defined(_WIN32)
std::wstring Wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

// Whether pages may be opened and boxes shown: not for tests.
bool MayOpen() { return std::getenv("PLUMETA_LOG_NO_OPEN") == nullptr; }
#endif

// Log files dropped on the program: their report beside the first file, or
// in the temporary folder; its path printed, and on Windows the page opened.
int Dropped(const std::vector<std::string>& files, const RecordFormatter& format) {
    Options o;
    o.command = "report";
    o.files = files;
    const std::filesystem::path first = std::filesystem::u8path(files.front());
    const std::filesystem::path name = std::filesystem::u8path(first.stem().u8string() + ".html");
    // Beside the first file where its stories' folder can be made there.
    std::filesystem::path page = first.parent_path() / name;
    std::error_code error;
    std::filesystem::create_directories(StoriesBeside(page), error);
    if (error) {
        const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
        if (!error) page = temporary / name;
    }
    std::string html;
    const int status = BuildReport(o, format, page.u8string(), html);
    std::string written;
    if (WriteWhole(page.u8string(), html)) {
        std::error_code unknown;  // then the path as written
        const std::filesystem::path full = std::filesystem::absolute(page, unknown);
        written = unknown ? page.u8string() : full.u8string();
    }
    if (written.empty()) {
        const std::string problem = "plumeta-log: cannot write " + name.u8string() + " beside " +
                                    files.front() + " nor in the temporary folder";
#if defined(_WIN32)
        if (MayOpen()) MessageBoxW(nullptr, Wide(problem).c_str(), L"plumeta-log", MB_OK | MB_ICONERROR);
#endif
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    std::printf("%s\n", written.c_str());
#if defined(_WIN32)
    if (MayOpen()) {
        ShellExecuteW(nullptr, L"open", Wide(written).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    }
#endif
    return status;
}

// Reads the command line into `o`; answers what is wrong with it, or "".
std::string ParseOptions(const std::vector<std::string>& args, const Cp1250Converter& codepage, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--own") {
            o.own = true;
        } else if (arg == "--contacts") {
            o.contacts = true;
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg == "--year" || arg == "--contact" || arg == "--network" || arg == "--since" ||
                   arg == "--until" || arg == "--day" || arg == "--out" || arg == "--by" || arg == "--tz") {
            if (i + 1 >= args.size()) return arg + " needs a value";
            const std::string& given = args[++i];
            if (arg == "--by") {
                using plumeta::reader::Period;
                if (given == "day") o.by = Period::Day;
                else if (given == "week") o.by = Period::Week;
                else if (given == "month") o.by = Period::Month;
                else return "--by is day, week or month";
            } else if (arg == "--tz") {
                o.tz = given;
            } else if (arg == "--year") {
                char* end = nullptr;
                const long year = std::strtol(given.c_str(), &end, 10);
                if (*end || year < 1970 || year > 9999) return "--year needs a year such as 2026";
                o.year = static_cast<int>(year);
            } else if (arg == "--contact") {
                std::optional<std::string> text = codepage.ToCp1250(given);
                if (!text || text->empty()) return "--contact needs a text in letters Windows-1250 has";
                for (char& c : *text) c = AsciiLower(c);
                o.contact = text;
            } else if (arg == "--network") {
                std::string name = given;
                for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
                if (!plumeta::NetworkNumberOfName(name)) return "--network is GG, JABBER or LAN";
                o.network = name;
            } else if (arg == "--out") {
                o.out = given;
            } else {
                const std::optional<LocalTime> when = ParseWhen(given, arg == "--until");
                if (!when || (arg == "--day" && given.size() != 10)) {
                    return arg + (arg == "--day" ? " needs YYYY-MM-DD" : " needs YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]") +
                           ", not " + given;
                }
                (arg == "--since" ? o.since : arg == "--until" ? o.until : o.day) = when;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else if (o.command.empty()) {
            o.command = arg;
        } else {
            o.files.push_back(arg);
        }
    }
    const bool listing = o.command == "show" || o.command == "csv" || o.command == "json";
    if (!listing && o.command != "last-seen" && o.command != "online" && o.command != "timeline" &&
        o.command != "report") {
        return o.command.empty() ? "no command" : "unknown command " + o.command;
    }
    if (o.files.empty()) return "no log file given";
    const bool filtered = o.contact || o.network || o.since || o.until || o.own || o.contacts;
    if (!listing && o.command != "report" && filtered) return "filters are for show, csv, json and report";
    if (o.csv && o.command != "last-seen") return "--csv is for last-seen";
    if (o.by && o.command != "online") return "--by is for online";
    if (o.tz) {
        const std::string zone = plumeta::reader::UseZone(*o.tz);
        if (!zone.empty()) return zone;
    }
    if ((o.command == "timeline") != o.day.has_value()) return "--day is for timeline, which needs it";
    if (!o.out.empty() && o.command != "timeline" && o.command != "report") return "--out is for timeline and report";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // UTF-8 bytes and CR LF exactly as written.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const std::vector<std::string> args = Arguments(argc, argv);
#if defined(_WIN32)
    // Started from Explorer (a double-click, or files dropped on it), the
    // console is this program's alone: a double-click gets a box saying what
    // to do, a drop loses the console at once.
    DWORD consoleProcesses[2];
    const bool fromExplorer = MayOpen() && GetConsoleProcessList(consoleProcesses, 2) == 1;
    if (fromExplorer && args.empty()) {
        FreeConsole();
        MessageBoxW(nullptr, Wide(kDropHelp).c_str(), L"plumeta-log", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
#endif
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const Cp1250Converter codepage;
    RecordFormatter format(codepage);
    std::error_code error;
    if (!args.empty() && std::find(std::begin(kCommands), std::end(kCommands), args[0]) == std::end(kCommands) &&
        args[0][0] != '-' && std::filesystem::is_regular_file(std::filesystem::u8path(args[0]), error)) {
#if defined(_WIN32)
        if (fromExplorer) FreeConsole();
#endif
        return Dropped(args, format);
    }
    Options o;
    const std::string problem = ParseOptions(args, codepage, o);
    if (!problem.empty()) return Usage(problem);

    Output out(stdout);
    if (o.command == "last-seen") return out.Close(LastSeen(o, format, out));
    if (o.command == "online") return out.Close(Online(o, codepage, out));
    if (o.command == "timeline") return out.Close(Timeline(o, format, out));
    if (o.command == "report") return out.Close(Report(o, format, out));
    const bool csv = o.command == "csv", json = o.command == "json";  // asked once, not per record
    if (csv) format.AppendCsvHeader(out.text());
    FormatPipeline pipeline([&](const LogRecord& record, const std::string& file, uint32_t) {
        if (csv) {
            format.AppendCsv(out.text(), record, file);
        } else if (json) {
            format.AppendJson(out.text(), record, file);
        } else {
            format.AppendShow(out.text(), record);
        }
        out.MaybeFlush();
    });
    return out.Close(ReadAll(
        o, out,
        [&](const LogRecord& record, const std::string& file) {
            if (Passes(o, record)) pipeline.Add(record, file);
        },
        [&] { pipeline.Finish(); }));
}
