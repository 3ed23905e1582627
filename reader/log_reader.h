// Reading a status log back: the lines the plug-in writes, and the
// multi-line descriptions of files written before every change was one line,
// turned into records, with the year the stamps leave out inferred.
//
// What is read:
// - contact line: "DD.MM HH:MM.SS ", name, "(", identifier, an optional
//   network tag ("@GG)", "@JABBER)", "@LAN)"), an optional status phrase
//   (" zmienil status na " or " zmienila status na " and a log word), and an
//   optional description (" [" ... "]" at the end);
// - own line: "Zmianiles status ", stamp, "na sieci ", a network word or
//   nothing, " na ", a log word or nothing, and the optional description;
// - line ends CR LF, LF alone or CR CR LF; a last line without one;
// - a line that starts with neither continues the previous record's
//   description while it is open (it has its " [" but no line of it has yet
//   ended in "]"), joined to it with LF;
// - any other line cannot be placed: it is reported and skipped, as is a
//   stamp of a date or time that cannot be ("31.02", "24:00");
// - a record that, dated, falls outside the years 1 to 9999 or on 29
//   February of a year that is no leap year is reported and skipped too (it
//   still counts in the dating of the others).
// Control bytes (0x00-0x1F but TAB, and 0x7F) are left out of every line.
//
// Precedence, for names and identifiers holding "(", "@" or ")" and
// descriptions holding " [" or "]":
// - the network tag is the first of the three tags that is followed by a
//   status phrase, by " [", or by the line's end;
// - the identifier runs from the last "(" before that tag; on a line without
//   a tag, from the last "(" before the status phrase, or before the
//   description (the first " [" after the first "(") or the line's end where
//   there is no phrase; the network is then empty;
// - the description starts at the first " [" after the phrase, or after the
//   tag when there is no phrase, and runs to the final "]".
//
// Years: the last record takes the given year (by default that of the file's
// modification time); walking backwards, a record whose (month, day) is
// later than that of the record after it belongs to the year before. A step
// back within one day (a clock set back) is no year change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "recorder/clock.h"

namespace plumeta::reader {

enum class RecordKind : uint8_t { Contact, Own };

struct LogRecord {
    RecordKind kind = RecordKind::Contact;
    LocalTime time;        // the year inferred
    std::string name, id;  // Windows-1250; empty on own lines
    std::string_view network;  // "GG", "JABBER", "LAN" or "": the tables' own text
    std::optional<uint32_t> status;  // the code its word stands for
    char gender = 0;       // 'f' or 'm' where the line tells, else 0
    bool described = false;   // whether it has a description, maybe an empty "[]"
    std::string description;  // Windows-1250; lines joined with LF
    uint64_t line = 0;     // where the record starts, 1-based
    bool spilled = false;  // from the log's spill: made, not yet in the log
    bool inTemporary = false;  // that spill is the one in the temporary folder (TemporarySpillOf)
    int64_t moment = 0;        // `time` as seconds since 1970 UTC, by the zone's rules (zone_time.h)
};

enum class LineKind : uint8_t { Record, Continuation, Unplaceable };

// Why a line is skipped or cut: the warning's English, and its Polish for
// the report's page (Windows-1250 once built, like every text of the
// sources). "{}" stands for a year.
struct SkipReason {
    const char* english;
    const char* polish;
};
enum class Skip : uint8_t {
    NoParenthesis, NeitherStatusNorDescription, OwnLineForm, ImpossibleStamp, LongDescription, NotPlaced,
    BeforeFirstRecord, LongLine, YearOutOfRange, NoLeapYear, DamagedSpillHeader, SpillDropped,
};
inline constexpr SkipReason kSkipReasons[] = {
    {"a stamped line without \"(\"", "wiersz z datą, ale bez \u201e(\u201d"},
    {"the identifier is followed by neither a status nor a description",
     "po identyfikatorze nie ma ani statusu, ani opisu"},
    {"an own line not in the form \"na sieci NETWORK na STATUS\"",
     "własny wiersz nie w postaci \u201ena sieci SIEĆ na STATUS\u201d"},
    {"a stamp of a date or time that cannot be", "data lub godzina, której nie ma"},
    {"the description is longer than 4 MiB; the rest is left out", "opis dłuższy niż 4 MiB; reszta pominięta"},
    {"neither a record nor part of an open description", "ani zmiana, ani dalszy ciąg otwartego opisu"},
    {"a line before the first record", "wiersz przed pierwszą zmianą"},
    {"the line is longer than 1 MiB; the rest is left out", "wiersz dłuższy niż 1 MiB; reszta pominięta"},
    {"falls in the year {}, outside 1 to 9999", "wypada w roku {}, poza latami 1\u20139999"},
    {"29.02 falls in {}, which is no leap year", "29.02 wypada w roku {}, który nie jest przestępny"},
    {"the spill's first line is no header of the module's: all its lines are read as they stand",
     "pierwszy wiersz pliku zaległych nie jest nagłówkiem modułu: wszystkie jego wiersze czytane są takie, jakie są"},
    {"{} of the spill's oldest lines were dropped to keep it within 64 MiB: they are in no file",
     "{} najstarszych wierszy pliku zaległych usunięto, by zmieścił się w 64 MiB: nie ma ich w żadnym pliku"},
};
inline constexpr const char* ReasonText(Skip reason) { return kSkipReasons[static_cast<int>(reason)].english; }
// A warning's text with a year in place of "{}".
std::string ReasonWithYear(Skip reason, int64_t year);

// Reads one line (control bytes already left out, without its line end).
// For a record line fills `record` (but its year and line number) and
// `open`, whether its description goes on; for an unplaceable one, `why`.
LineKind ParseLine(std::string_view line, LogRecord& record, bool& open, const char*& why);

// Reads the log at `path` (a UTF-8 name) in two streaming passes (the first
// reads only where records start, and their day and month), calling
// `onRecord` for each record in order and `onWarning` for each line that
// cannot be placed. The log's spills (the one beside it, then the one in
// the temporary folder, by the names the module gives them) come after the
// log's lines, as records marked `spilled`, numbered by their line in the
// spill, and read as the module's next fold takes them: the lines a fold
// cut short already put into the log are left out (FoldedAlready), and the
// header's count of dropped lines, or a header that is none of the
// module's, is a warning on the spill's line 1; a warning about a spill's
// line names the spill.
//
// Years: the log has none. A step back of a day or more from one record to
// the next is a New Year; a shorter one (a clock set back, a zone crossed,
// a spill's line from before the writer's midnight) is not, and across New
// Year's midnight it goes back into the year before. `lastYear` is the last
// record's year; 0 takes the latest year in which the last record falls no
// later than a day after the latest modification time of the files (the
// writer's zone and the reader's differ by less than a day). Answers "" when
// the log was read, or why it could not be.
using RecordSink = std::function<void(const LogRecord& record)>;
// The name (UTF-8) the module gives the spill of the log `path` (UTF-8) in
// the temporary folder; "" when there is none.
std::string TemporarySpillOf(const std::string& path);
using WarningSink = std::function<void(uint64_t line, const std::string& why)>;
std::string ReadLog(const std::string& path, int lastYear, const RecordSink& onRecord,
                    const WarningSink& onWarning);

}  // namespace plumeta::reader
