#include "reader/log_reader.h"

#include <sys/stat.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>
#include <filesystem>
#include <fstream>
#include <memory>

#include "codepage/codepage.h"
#include "reader/chunk_reader.h"
#include "reader/zone_time.h"
#include "recorder/spill_file.h"
#include "recorder/status_log.h"
#include "recorder/status_words.h"

namespace plumeta::reader {
namespace {

// A longer line is cut here (and reported): a garbage file without line
// ends cannot take the reader's memory.
constexpr std::size_t kMaxLineSize = 1 << 20;
// A description joined from more continuation lines is cut here.
constexpr std::size_t kMaxDescriptionSize = 4 << 20;

// Every prefix is a constant of a few bytes and every line asks: inlined,
// the compare is a few wide loads, not a call.
inline bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// Replaces `to` with `text`, which is no part of it: cheaper than assign,
// which allows for that.
void Assign(std::string& to, std::string_view text) {
    to.clear();
    to.append(text.data(), text.size());
}

// Two decimal digits at `at`, or -1.
int TwoDigits(const char* at) {
    const unsigned high = static_cast<unsigned char>(at[0]) - '0';
    const unsigned low = static_cast<unsigned char>(at[1]) - '0';
    return high <= 9 && low <= 9 ? static_cast<int>(high * 10 + low) : -1;
}

// What a line starts with: no stamp, the stamp of a moment that cannot be
// ("31.02", "24:00"), or a stamp that was read.
enum class Stamp : uint8_t { None, Impossible, Read };

// The most days a month can have; 29 February is weighed once the year is
// known.
constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// "DD.MM HH:MM.SS " at the start of `text`: 15 characters, ten of them
// digits, into `time` (all but the year).
Stamp ReadStamp(std::string_view text, LocalTime& time) {
    if (text.size() < kStampSize) return Stamp::None;
    const char* p = text.data();
    if (p[2] != '.' || p[5] != ' ' || p[8] != ':' || p[11] != '.' || p[14] != ' ') return Stamp::None;
    time.day = TwoDigits(p);
    time.month = TwoDigits(p + 3);
    time.hour = TwoDigits(p + 6);
    time.minute = TwoDigits(p + 9);
    time.second = TwoDigits(p + 12);
    if ((time.day | time.month | time.hour | time.minute | time.second) < 0) return Stamp::None;
    const bool can = time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= kMonthDays[time.month - 1] &&
                     time.hour <= 23 && time.minute <= 59 && time.second <= 59;
    return can ? Stamp::Read : Stamp::Impossible;
}


constexpr std::string_view kHeVerb = kLogHeVerb;
constexpr std::string_view kSheVerb = kLogSheVerb;
constexpr std::string_view kDescriptionOpen = kLogDescriptionOpen;
constexpr std::string_view kOwnOpening = kLogOwnOpening;
constexpr std::string_view kOnNetwork = kLogOnNetwork;
constexpr std::string_view kOnStatus = kLogOnStatus;

// Where " [" first stands in `text`, or npos: found by its "[", which is
// rarer than " ".
std::size_t FindDescription(std::string_view text) {
    for (std::size_t from = 1; from < text.size();) {
        const void* found = std::memchr(text.data() + from, kDescriptionOpen[1], text.size() - from);
        if (!found) break;
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        if (text[at - 1] == kDescriptionOpen[0]) return at - 1;
        from = at + 1;
    }
    return std::string_view::npos;
}

// What may follow a word, a phrase or a tag: the description, or the end.
bool EndsOrDescribes(std::string_view rest) {
    return rest.empty() || StartsWith(rest, kDescriptionOpen);
}

// A status phrase: a verb and a log word, followed by the description or
// the end.
struct Phrase {
    std::size_t length = 0;  // 0: none
    uint32_t status = 0;
    char gender = 0;
};

Phrase MatchVerbPhrase(std::string_view text, std::string_view verb, char gender) {
    if (!StartsWith(text, verb)) return Phrase{};
    // No log word holds " [": the word is all up to the description.
    const std::string_view rest = text.substr(verb.size());
    const std::string_view word = rest.substr(0, FindDescription(rest));
    const std::optional<LogWordMeaning> meaning = ExactLogWord(word);
    return meaning ? Phrase{verb.size() + word.size(), meaning->status, gender} : Phrase{};
}

Phrase MatchPhrase(std::string_view text) {
    const Phrase he = MatchVerbPhrase(text, kHeVerb, 'm');
    return he.length ? he : MatchVerbPhrase(text, kSheVerb, 'f');
}

// Where the first status phrase after `from` starts, or npos.
std::size_t FirstPhrase(std::string_view body, std::size_t from, Phrase& phrase) {
    std::size_t first = std::string_view::npos;
    for (const std::string_view verb : {kHeVerb, kSheVerb}) {
        for (std::size_t at = body.find(verb, from); at < first; at = body.find(verb, at + 1)) {
            const Phrase found = MatchPhrase(body.substr(at));
            if (found.length) {
                first = at;
                phrase = found;
            }
        }
    }
    return first;
}

// The description at the start of `rest` (" [" ...), or none.
bool ReadDescription(std::string_view rest, LogRecord& record, bool& open) {
    open = false;
    if (rest.empty()) return true;
    if (!StartsWith(rest, kDescriptionOpen)) return false;
    rest.remove_prefix(kDescriptionOpen.size());
    open = rest.empty() || rest.back() != kLogDescriptionClose;
    if (!open) rest.remove_suffix(1);
    record.described = true;
    Assign(record.description, rest);
    return true;
}

// The tables' own text for a network name read from a line (which the
// record outlives), or "".
std::string_view KnownNetwork(std::string_view name) {
    const std::optional<uint32_t> number = NetworkNumberOfName(name);
    return number ? NetworkName(*number) : "";
}

// Where a network tag ("@GG)") that opens at `at` ends, or npos; `network`
// the tables' own text for its name.
std::size_t TagEnd(std::string_view body, std::size_t at, std::string_view& network) {
    const std::size_t close = body.find(')', at);
    if (close == std::string_view::npos) return close;
    const std::optional<uint32_t> number = NetworkNumberOfName(body.substr(at + 1, close - at - 1));
    if (!number) return std::string_view::npos;
    network = NetworkName(*number);
    return close + 1;
}

// `body`: a contact line after its stamp.
LineKind ParseContact(std::string_view body, LogRecord& record, bool& open, const char*& why) {
    const std::size_t firstParen = body.find('(');
    if (firstParen == std::string_view::npos) {
        why = ReasonText(Skip::NoParenthesis);
        return LineKind::Unplaceable;
    }
    std::size_t idEnd = std::string_view::npos, after = 0;
    std::string_view network;
    Phrase phrase;
    for (std::size_t at = body.find('@', firstParen); at != std::string_view::npos;
         at = body.find('@', at + 1)) {
        const std::size_t end = TagEnd(body, at, network);
        if (end == std::string_view::npos) continue;
        const std::string_view rest = body.substr(end);
        if (EndsOrDescribes(rest) || (phrase = MatchPhrase(rest)).length) {
            idEnd = at;
            after = end;
            break;
        }
    }
    if (idEnd == std::string_view::npos) {
        network = {};
        idEnd = after = FirstPhrase(body, firstParen, phrase);
    }
    if (idEnd == std::string_view::npos) {
        idEnd = after = std::min(body.find(kDescriptionOpen, firstParen), body.size());
    }
    const std::size_t idStart = body.rfind('(', idEnd);
    Assign(record.name, body.substr(0, idStart));
    Assign(record.id, body.substr(idStart + 1, idEnd - idStart - 1));
    record.network = network;
    if (phrase.length) {
        record.status = phrase.status;
        record.gender = phrase.gender;
    }
    if (!ReadDescription(body.substr(after + phrase.length), record, open)) {
        why = ReasonText(Skip::NeitherStatusNorDescription);
        return LineKind::Unplaceable;
    }
    return LineKind::Record;
}

// `body`: an own line after "Zmianiles status " and its stamp.
LineKind ParseOwn(std::string_view body, LogRecord& record, bool& open, const char*& why) {
    why = ReasonText(Skip::OwnLineForm);
    if (!StartsWith(body, kOnNetwork)) return LineKind::Unplaceable;
    body.remove_prefix(kOnNetwork.size());
    const std::size_t onStatus = body.find(kOnStatus);
    if (onStatus == std::string_view::npos) return LineKind::Unplaceable;
    const std::string_view network = body.substr(0, onStatus);
    if (!network.empty() && !NetworkNumberOfName(network)) return LineKind::Unplaceable;
    record.network = KnownNetwork(network);
    std::string_view rest = body.substr(onStatus + kOnStatus.size());
    std::size_t wordSize = 0;
    const std::optional<LogWordMeaning> word = MatchLogWord(rest, wordSize);
    if (word && EndsOrDescribes(rest.substr(wordSize))) {
        record.status = word->status;
        record.gender = word->form;
        rest.remove_prefix(wordSize);
    }
    if (!ReadDescription(rest, record, open)) return LineKind::Unplaceable;
    return LineKind::Record;
}

// Empties the fields a line fills, keeping their room.
void Reset(LogRecord& record) {
    record.name.clear();
    record.id.clear();
    record.network = {};
    record.status.reset();
    record.gender = 0;
    record.described = false;
    record.description.clear();
}

// Left out of every line read: they would end the file for text-mode
// readers (0x1A) or reach a terminal as escape sequences.
bool IsControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

// Whether eight bytes may hold a control byte: any below 0x20 (TAB too) or
// 0x7F. Looks at eight at a time, since every byte of every line goes
// through here.
bool MayHoldControl(uint64_t x) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    const uint64_t low = (x - 0x20 * kOnes) & ~x;
    const uint64_t del = x ^ (0x7F * kOnes);
    return ((low | ((del - kOnes) & ~del)) & (0x80 * kOnes)) != 0;
}

// Where the first control byte of `line` is, or its size. Sixteen bytes at a
// time where the processor has SSE2 (those up to 0x1F, and 0x7F), else
// eight; TAB among them is looked at and passed.
std::size_t FirstControl(std::string_view line) {
    const char* bytes = line.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(0x1F), del = _mm_set1_epi8(0x7F);
    for (; i + 16 <= line.size(); i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(x, low), x), _mm_cmpeq_epi8(x, del));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask; mask &= mask - 1) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (IsControl(static_cast<unsigned char>(bytes[at]))) return at;
        }
    }
#endif
    for (; i + 8 <= line.size(); i += 8) {
        uint64_t x;
        std::memcpy(&x, bytes + i, 8);
        if (!MayHoldControl(x)) continue;
        for (std::size_t j = i; j < i + 8; ++j) {
            if (IsControl(static_cast<unsigned char>(bytes[j]))) return j;
        }
    }
    while (i < line.size() && !IsControl(static_cast<unsigned char>(bytes[i]))) ++i;
    return i;
}

// The line without its control bytes: itself when it has none (the usual
// case), else a copy in `scratch`.
std::string_view Clean(std::string_view line, std::string& scratch) {
    std::size_t i = FirstControl(line);
    if (i == line.size()) return line;
    scratch.assign(line.substr(0, i));
    for (; i < line.size(); ++i) {
        if (!IsControl(static_cast<unsigned char>(line[i]))) scratch += line[i];
    }
    return scratch;
}

// Whether a (cleaned) line starts a record, and its stamp; own lines (the
// few) are read whole into `scratch` to tell, and `open` says whether their
// description goes on. Continuation lines are no records.
LineKind Classify(std::string_view line, LogRecord& scratch, bool& open) {
    switch (ReadStamp(line, scratch.time)) {
        case Stamp::Read:
            scratch.kind = RecordKind::Contact;
            return line.find('(', kStampSize) != std::string_view::npos ? LineKind::Record : LineKind::Unplaceable;
        case Stamp::Impossible: return LineKind::Unplaceable;
        case Stamp::None: break;
    }
    if (!StartsWith(line, kOwnOpening)) return LineKind::Continuation;
    const char* why = "";
    return ParseLine(line, scratch, open, why);
}

// Classify of the line cleaned, for the first pass, which needs only where
// records start and their day and month: a line that starts with a stamp
// (which holds no control byte) is a record by whether a "(" follows, and
// leaving out control bytes makes no "(" and takes none; only the others
// are cleaned first, into `scratchLine`.
LineKind ClassifyRaw(std::string_view raw, std::string& scratchLine, LogRecord& scratch, bool& open) {
    if (ReadStamp(raw, scratch.time) == Stamp::Read) {
        scratch.kind = RecordKind::Contact;
        return std::memchr(raw.data() + kStampSize, '(', raw.size() - kStampSize) ? LineKind::Record
                                                                                   : LineKind::Unplaceable;
    }
    return Classify(Clean(raw, scratchLine), scratch, open);
}

using Sink = std::function<void(LogRecord& record)>;

// Joins lines into records: a record is whole once the next one starts (or
// the file ends), since continuation lines may follow it.
class Assembler {
public:
    Assembler(const Sink& onRecord, const WarningSink& onWarning)
        : onRecord_(onRecord), onWarning_(onWarning) {}

    void Line(std::string_view raw, uint64_t number) {
        const std::string_view line = Clean(raw, scratchLine_);
        const LineKind kind = Classify(line, scratch_, scratchOpen_);
        if (kind == LineKind::Record) {
            // The pending record is whole: the next one begins. A contact
            // line is read into its place; an own line was read whole.
            Finish();
            bool open = false;
            const char* why = "";
            if (scratch_.kind == RecordKind::Own) {
                std::swap(record_, scratch_);
                open = scratchOpen_;
            } else {
                Reset(record_);
                record_.kind = RecordKind::Contact;
                record_.time = scratch_.time;
                ParseContact(line.substr(kStampSize), record_, open, why);
            }
            record_.line = number;
            record_.spilled = spilled;
            record_.inTemporary = inTemporary;
            pending_ = true;
            open_ = open;
        } else if (kind == LineKind::Continuation && pending_ && open_) {
            std::string& description = record_.description;
            std::string_view text = line;
            open_ = text.empty() || text.back() != kLogDescriptionClose;
            if (!open_) text.remove_suffix(1);
            if (description.size() + text.size() < kMaxDescriptionSize) {
                description += '\n';
                description.append(text);
            } else {
                onWarning_(number, ReasonText(Skip::LongDescription));
            }
        } else {
            bool open = false;
            const char* why = ReasonText(Skip::NotPlaced);
            if (kind == LineKind::Unplaceable) {
                ParseLine(line, scratch_, open, why);
            } else if (!pending_) {
                why = ReasonText(Skip::BeforeFirstRecord);
            }
            onWarning_(number, why);
        }
    }

    void Finish() {
        if (pending_) onRecord_(record_);
        pending_ = false;
    }

    bool spilled = false;  // the lines now come from the log's spill
    bool inTemporary = false;  // that in the temporary folder

private:
    const Sink& onRecord_;
    const WarningSink& onWarning_;
    std::string scratchLine_;
    LogRecord record_;   // the pending record
    LogRecord scratch_;  // for telling what a line is
    bool scratchOpen_ = false;
    bool pending_ = false;
    bool open_ = false;
};

// Calls `onLine` for each line of the file, without its line end (LF, CR
// LF or CR CR LF). Answers false when it cannot be read.
template <typename OnLine>
bool ForEachLine(const std::string& path, const WarningSink& onWarning, OnLine onLine) {
    ChunkReader in(path);
    if (!in.ok()) return false;
    std::string carry;  // a line begun in an earlier chunk
    bool cut = false;
    uint64_t number = 0;
    // The line end's CRs do not count towards the limit: a line of exactly
    // 1 MiB loses nothing.
    constexpr std::size_t kMaxKept = kMaxLineSize + 2;
    auto deliver = [&](std::string_view line) {
        ++number;
        for (int i = 0; i < 2 && !line.empty() && line.back() == '\r'; ++i) line.remove_suffix(1);
        if (line.size() > kMaxLineSize) {
            line = line.substr(0, kMaxLineSize);
            cut = true;
        }
        if (cut) onWarning(number, ReasonText(Skip::LongLine));
        cut = false;
        onLine(line, number);
    };
    auto keep = [&](std::string_view piece) {  // into carry, up to kMaxKept
        const std::size_t room = kMaxKept - carry.size();
        cut = cut || piece.size() > room;
        carry.append(piece.substr(0, room));
    };
    for (std::string_view data;;) {
        if (!in.Next(data)) return false;
        if (data.empty()) break;
        for (std::size_t end; (end = data.find('\n')) != std::string_view::npos;) {
            if (carry.empty() && end <= kMaxKept) {
                deliver(data.substr(0, end));
            } else {
                keep(data.substr(0, end));
                deliver(carry);
                carry.clear();
            }
            data.remove_prefix(end + 1);
        }
        keep(data);
    }
    if (!carry.empty()) deliver(carry);
    return true;
}

std::optional<int64_t> ModificationTime(const std::string& path) {
#if defined(_WIN32)
    struct _stat64 status {};
    if (_wstat64(std::filesystem::u8path(path).wstring().c_str(), &status) != 0) return std::nullopt;
#else
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return std::nullopt;
#endif
    return static_cast<int64_t>(status.st_mtime);
}

int MonthDay(const LocalTime& time) { return time.month * 100 + time.day; }

constexpr int kLeapDay = 229;  // 29.02 as MonthDay gives it
constexpr int64_t kDaySeconds = 86400;
constexpr int64_t kYearSeconds = 366 * kDaySeconds;
constexpr int64_t kNoRecord = -1;

// Where a stamp falls in a year of 366 days, in seconds.
int64_t YearPosition(const LocalTime& time) {
    static constexpr int kBefore[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
    return (int64_t(kBefore[time.month - 1] + time.day - 1) * 24 + time.hour) * 3600 + time.minute * 60 + time.second;
}

// The years between one record and the next, `earlier` and `later` being
// their YearPosition: a step back of a day or more is a New Year (+1); one
// of less (a clock set back, a zone crossed, a spill's line from before a
// writer's midnight) stays in the year, or, across New Year's midnight,
// goes back into the one before (-1).
int YearStep(int64_t earlier, int64_t later) {
    if (earlier == kNoRecord || later == kNoRecord) return 0;
    if (later < earlier) return earlier - later >= kDaySeconds ? 1 : 0;
    return later - earlier > kYearSeconds - kDaySeconds ? -1 : 0;
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The latest year in which `last` falls no later than a day after the
// moment `modified` (as the stamp reads, whatever the zones of the writer
// and the reader, which differ by less than a day).
int64_t LastRecordYear(const LocalTime& last, int64_t modified) {
    const int64_t bound = modified + kDaySeconds;
    const int64_t clock = last.hour * 3600 + last.minute * 60 + last.second;
    int64_t year = 1970 + (bound >= 0 ? bound : bound - 31622399) / 31556952 + 1;
    for (;; --year) {
        if (last.month == 2 && last.day == 29 && !IsLeapYear(year)) continue;
        if (DaysFromCivil(year, last.month, last.day) * kDaySeconds + clock <= bound) return year;
    }
}

// A run of consecutive 29.02 records, as the first pass saw it: a year has
// at most one.
struct LeapRun {
    int64_t changes;  // year changes up to and including its first record
    int64_t before;   // the YearPosition of the record before it, kNoRecord for none
    int64_t first;    // of its first record
    int64_t last;     // of its last record
    int64_t next;     // of the record after it, kNoRecord for none
    int delta = 0;    // how leaving it out changes the year changes before it
    bool removed = false;
};

// The years a record may fall in: four digits, and no year 0.
constexpr int kFirstYear = 1, kLastYear = 9999;

// Reads bytes of a file at an offset, for FoldedAlready.
bool ReadFileAt(void* file, uint64_t offset, char* out, std::size_t size) {
    std::ifstream& in = *static_cast<std::ifstream*>(file);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    return in.read(out, static_cast<std::streamsize>(size)) && in.gcount() == static_cast<std::streamsize>(size);
}

uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto name = std::filesystem::u8path(path);
    if (!std::filesystem::is_regular_file(name, error)) return 0;
    const uintmax_t size = std::filesystem::file_size(name, error);
    return error ? 0 : uint64_t(size);
}

}  // namespace

std::string TemporarySpillOf(const std::string& path) {
    const std::optional<std::string> cp1250 = Cp1250Converter().ToCp1250(path);
    if (!cp1250) return "";
    const std::string name = SpillInTemporaryFolder(cp1250->c_str());
    return name.empty() ? "" : Cp1250Converter().ToUtf8(name);
}

namespace {

// A spill of the log, read as the module's next fold would take it.
struct SpillView {
    std::string name;         // UTF-8
    uint64_t skipLines = 0;   // its first lines: the header, and those already in the log
    uint64_t dropped = 0;     // its oldest lines that went, never written (the header's usuniete=)
    bool damaged = false;     // no header of the module's: every line is read
    bool temporary = false;   // the one in the temporary folder
};

std::optional<SpillView> LookAtSpill(const std::string& log, const std::string& spill) {
    const uint64_t size = SizeOf(spill);
    if (spill.empty() || spill == log || size == 0) return std::nullopt;
    SpillView view;
    view.name = spill;
    std::ifstream in(std::filesystem::u8path(spill), std::ios::binary);
    char head[kSpillHeaderSize];
    const std::size_t have = std::size_t(std::min<uint64_t>(size, sizeof head));
    if (!in || !ReadFileAt(&in, 0, head, have)) return std::nullopt;
    std::optional<SpillState> state = ReadSpillHeader(std::string_view(head, have));
    if (state && state->shiftFrom && *state->shiftFrom >= state->body && *state->shiftFrom <= size) {
        // Its oldest lines were going when its writer stopped: the ones
        // from shiftFrom on are kept.
        state->foldAt.reset();
        state->foldFrom = state->body;
    } else if (!state || !SpillStateFits(*state, size)) {
        view.damaged = true;
        view.skipLines = std::string_view(head, have).substr(0, 16) == "#plumeta-zalegle" ? 1 : 0;
        return view;
    }
    view.dropped = state->dropped;
    uint64_t skipTo = state->shiftFrom ? *state->shiftFrom : state->body;
    if (state->foldAt && state->foldFrom) {
        std::ifstream logFile(std::filesystem::u8path(log), std::ios::binary);
        std::string buffer;
        const Folded done = FoldedAlready({ReadFileAt, &logFile}, SizeOf(log), {ReadFileAt, &in}, size, *state, buffer);
        skipTo = *state->foldFrom + done.bytes;
    }
    // Lines up to skipTo (a line torn there is read whole from the spill).
    std::string chunk(1 << 16, '\0');
    view.skipLines = 1;  // the header
    for (uint64_t at = state->body; at < skipTo;) {
        const std::size_t take = std::size_t(std::min<uint64_t>(chunk.size(), skipTo - at));
        if (!ReadFileAt(&in, at, &chunk[0], take)) break;
        view.skipLines += uint64_t(std::count(chunk.begin(), chunk.begin() + take, '\n'));
        at += take;
    }
    return view;
}

// The log's spills: the one beside it, then the one in the temporary
// folder, by the names the module gives them.
std::vector<SpillView> SpillsOf(const std::string& log) {
    std::vector<SpillView> spills;
    if (auto beside = LookAtSpill(log, SpillBeside(log))) spills.push_back(std::move(*beside));
    if (auto inFolder = LookAtSpill(log, TemporarySpillOf(log))) {
        inFolder->temporary = true;
        spills.push_back(std::move(*inFolder));
    }
    return spills;
}

}  // namespace

std::string ReasonWithYear(Skip reason, int64_t year) {
    std::string text = ReasonText(reason);
    const std::size_t at = text.find("{}");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(year));
    return text;
}

LineKind ParseLine(std::string_view line, LogRecord& record, bool& open, const char*& why) {
    Reset(record);
    open = false;
    Stamp stamp = ReadStamp(line, record.time);
    std::size_t body = kStampSize;
    record.kind = RecordKind::Contact;
    if (stamp == Stamp::None && StartsWith(line, kOwnOpening)) {
        stamp = ReadStamp(line.substr(kOwnOpening.size()), record.time);
        body += kOwnOpening.size();
        record.kind = RecordKind::Own;
    }
    if (stamp == Stamp::None) return LineKind::Continuation;
    if (stamp == Stamp::Impossible) {
        why = ReasonText(Skip::ImpossibleStamp);
        return LineKind::Unplaceable;
    }
    return record.kind == RecordKind::Own ? ParseOwn(line.substr(body), record, open, why)
                                          : ParseContact(line.substr(body), record, open, why);
}

std::string ReadLog(const std::string& path, int lastYear, const RecordSink& onRecord,
                    const WarningSink& onWarning) {
    if (std::filesystem::is_directory(std::filesystem::u8path(path))) return "is a folder";
    std::optional<int64_t> modified = ModificationTime(path);
    if (!modified) return "cannot be read";
    const std::vector<SpillView> spills = SpillsOf(path);
    for (const SpillView& spill : spills) {
        modified = std::max(*modified, ModificationTime(spill.name).value_or(*modified));
        const std::string note = " (" + spill.name + ")";
        if (spill.damaged) onWarning(1, std::string(ReasonText(Skip::DamagedSpillHeader)) + note);
        if (spill.dropped) onWarning(1, ReasonWithYear(Skip::SpillDropped, int64_t(spill.dropped)) + note);
    }
    const SpillView* inSpill = nullptr;  // while a spill's lines are read
    const WarningSink warn = [&](uint64_t line, const std::string& why) {
        onWarning(line, inSpill ? why + " (" + inSpill->name + ")" : why);
    };
    // The files' lines, in order; false when the log cannot be read.
    const auto forEachLine = [&](const WarningSink& sink, auto onLine) {
        inSpill = nullptr;
        if (!ForEachLine(path, sink, onLine)) return false;
        for (const SpillView& spill : spills) {
            inSpill = &spill;
            ForEachLine(spill.name, sink, [&](std::string_view line, uint64_t n) {
                if (n > spill.skipLines) onLine(line, n);
            });
        }
        inSpill = nullptr;
        return true;
    };
    // The first pass counts the year changes, telling record lines only by
    // their start, and notes each run of 29.02 records and the last record;
    // the second one reads the records and dates them.
    int64_t changes = 0;
    int64_t previous = kNoRecord;
    bool previousLeap = false;
    LocalTime last;
    std::deque<LeapRun> runs;
    uint64_t runsLeftOut = 0;  // from the front of `runs`: too old to matter
    const WarningSink quiet = [](uint64_t, const std::string&) {};
    std::string scratchLine;
    LogRecord scratch;
    const auto count = [&](std::string_view raw, uint64_t) {
        bool open = false;
        if (ClassifyRaw(raw, scratchLine, scratch, open) != LineKind::Record) return;
        const int64_t position = YearPosition(scratch.time);
        const bool leap = MonthDay(scratch.time) == kLeapDay;
        changes += YearStep(previous, position);
        if (leap && !previousLeap) {
            runs.push_back(LeapRun{changes, previous, position, position, kNoRecord});
            // A run this many year changes before the end falls before the
            // year 1 whatever the last year: it is left out either way.
            while (changes - runs.front().changes > kLastYear) {
                runs.pop_front();
                ++runsLeftOut;
            }
        } else if (leap && !runs.empty()) {
            runs.back().last = position;
        } else if (previousLeap && !runs.empty()) {
            runs.back().next = position;
        }
        previous = position;
        previousLeap = leap;
        last = scratch.time;
    };
    if (!forEachLine(quiet, count)) return "cannot be read";
    if (lastYear == 0 && previous != kNoRecord) {
        lastYear = static_cast<int>(std::clamp<int64_t>(LastRecordYear(last, *modified), -99999, 99999));
    }
    // A 29.02 that falls in no leap year is skipped and moves no year, as if
    // it were not there: from the last run back, each such run's removal
    // changes the year changes before it by `delta`.
    int64_t adjust = 0;
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        const int64_t year = lastYear - (changes - run->changes + adjust);
        if (year < kFirstYear || year > kLastYear || IsLeapYear(year)) continue;
        run->removed = true;
        run->delta = YearStep(run->before, run->next) - YearStep(run->before, run->first) - YearStep(run->last, run->next);
        adjust += run->delta;
    }

    int64_t seen = 0;
    previous = kNoRecord;
    previousLeap = false;
    uint64_t runOrdinal = 0;
    const LeapRun* inRun = nullptr;  // the run the records now belong to
    ZoneClock clock;
    const Sink dated = [&](LogRecord& record) {
        const int64_t position = YearPosition(record.time);
        const bool leap = MonthDay(record.time) == kLeapDay;
        seen += YearStep(previous, position);
        if (leap && !previousLeap) {
            const uint64_t at = runOrdinal++;
            inRun = at >= runsLeftOut && at - runsLeftOut < runs.size() ? &runs[at - runsLeftOut] : nullptr;
        } else if (!leap && inRun) {
            if (inRun->removed) adjust -= inRun->delta;  // no longer after this record
            inRun = nullptr;
        }
        previous = position;
        previousLeap = leap;
        // Counted as a record either way: both passes date the others alike.
        const int64_t year = lastYear - (changes - seen + adjust - (inRun && inRun->removed ? inRun->delta : 0));
        if (year < kFirstYear || year > kLastYear) {
            onWarning(record.line, ReasonWithYear(Skip::YearOutOfRange, year));
            return;
        }
        if (leap && !IsLeapYear(year)) {
            onWarning(record.line, ReasonWithYear(Skip::NoLeapYear, year));
            return;
        }
        record.time.year = static_cast<int>(year);
        record.moment = clock.MomentOf(record.time);
        onRecord(record);
    };
    Assembler reading(dated, warn);
    const SpillView* from = nullptr;
    if (!forEachLine(warn, [&](std::string_view line, uint64_t n) {
            if (inSpill != from) {
                reading.Finish();  // a file's last record ends with the file
                from = inSpill;
                reading.spilled = inSpill != nullptr;
                reading.inTemporary = inSpill && inSpill->temporary;
            }
            reading.Line(line, n);
        })) {
        return "cannot be read";
    }
    reading.Finish();
    return "";
}

}  // namespace plumeta::reader
