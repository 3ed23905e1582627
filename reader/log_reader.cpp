#include "reader/log_reader.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "recorder/status_log.h"
#include "recorder/status_words.h"

namespace plumeta::reader {
namespace {

constexpr std::size_t kChunkSize = 1 << 20;
// A longer line is cut here (and reported): a garbage file without line
// ends cannot take the reader's memory.
constexpr std::size_t kMaxLineSize = 1 << 20;
// A description joined from more continuation lines is cut here.
constexpr std::size_t kMaxDescriptionSize = 4 << 20;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Two decimal digits at `at`, or a value no field takes.
int TwoDigits(const char* at) {
    const unsigned high = static_cast<unsigned char>(at[0]) - '0';
    const unsigned low = static_cast<unsigned char>(at[1]) - '0';
    return high <= 9 && low <= 9 ? static_cast<int>(high * 10 + low) : 99;
}

// "DD.MM HH:MM.SS " at the start of `text`: 15 characters.
bool ReadStamp(std::string_view text, LocalTime& time) {
    if (text.size() < kStampSize) return false;
    const char* p = text.data();
    if (p[2] != '.' || p[5] != ' ' || p[8] != ':' || p[11] != '.' || p[14] != ' ') return false;
    time.day = TwoDigits(p);
    time.month = TwoDigits(p + 3);
    time.hour = TwoDigits(p + 6);
    time.minute = TwoDigits(p + 9);
    time.second = TwoDigits(p + 12);
    return time.day >= 1 && time.day <= 31 && time.month >= 1 && time.month <= 12 && time.hour <= 23 &&
           time.minute <= 59 && time.second <= 59;
}

constexpr std::string_view kHeVerb = kLogHeVerb;
constexpr std::string_view kSheVerb = kLogSheVerb;
constexpr std::string_view kDescriptionOpen = kLogDescriptionOpen;
constexpr std::string_view kOwnOpening = kLogOwnOpening;
constexpr std::string_view kOnNetwork = kLogOnNetwork;
constexpr std::string_view kOnStatus = kLogOnStatus;

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

Phrase MatchPhrase(std::string_view text) {
    for (const std::string_view verb : {kHeVerb, kSheVerb}) {
        if (!StartsWith(text, verb)) continue;
        std::size_t wordSize = 0;
        const std::optional<LogWordMeaning> word = MatchLogWord(text.substr(verb.size()), wordSize);
        if (!word || !EndsOrDescribes(text.substr(verb.size() + wordSize))) continue;
        return Phrase{verb.size() + wordSize, word->status, verb == kSheVerb ? 'f' : 'm'};
    }
    return Phrase{};
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
    record.description.assign(rest);
    return true;
}

// The tables' own text for a network name read from a line (which the
// record outlives), or "".
std::string_view KnownNetwork(std::string_view name) {
    const std::optional<uint32_t> number = NetworkNumberOfName(name);
    return number ? NetworkName(*number) : "";
}

// Where a network tag ("@GG)") that opens at `at` ends, or npos.
std::size_t TagEnd(std::string_view body, std::size_t at, std::string_view& network) {
    const std::size_t close = body.find(')', at);
    if (close == std::string_view::npos) return close;
    network = body.substr(at + 1, close - at - 1);
    return NetworkNumberOfName(network) ? close + 1 : std::string_view::npos;
}

// `body`: a contact line after its stamp.
LineKind ParseContact(std::string_view body, LogRecord& record, bool& open, const char*& why) {
    const std::size_t firstParen = body.find('(');
    if (firstParen == std::string_view::npos) {
        why = "a stamped line without \"(\"";
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
    record.name.assign(body.substr(0, idStart));
    record.id.assign(body.substr(idStart + 1, idEnd - idStart - 1));
    record.network = KnownNetwork(network);
    if (phrase.length) {
        record.status = phrase.status;
        record.gender = phrase.gender;
    }
    if (!ReadDescription(body.substr(after + phrase.length), record, open)) {
        why = "the identifier is followed by neither a status nor a description";
        return LineKind::Unplaceable;
    }
    return LineKind::Record;
}

// `body`: an own line after "Zmianiles status " and its stamp.
LineKind ParseOwn(std::string_view body, LogRecord& record, bool& open, const char*& why) {
    why = "an own line not in the form \"na sieci NETWORK na STATUS\"";
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

// Whether four bytes may hold a control byte: any below 0x20 (TAB too) or
// 0x7F. Looks at four at a time, since every byte of every line goes
// through here.
bool MayHoldControl(uint32_t x) {
    const uint32_t low = (x - 0x20202020u) & ~x;
    const uint32_t del = x ^ 0x7F7F7F7Fu;
    return ((low | ((del - 0x01010101u) & ~del)) & 0x80808080u) != 0;
}

// Where the first control byte of `line` is, or its size.
std::size_t FirstControl(std::string_view line) {
    std::size_t i = 0;
    for (uint32_t x[2]; i + 8 <= line.size(); i += 8) {
        std::memcpy(x, line.data() + i, 8);
        if (MayHoldControl(x[0]) || MayHoldControl(x[1])) break;
    }
    while (i < line.size() && !IsControl(static_cast<unsigned char>(line[i]))) ++i;
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

// Whether a line starts a record, and its stamp; own lines (the few) are
// read whole into `scratch` to tell, and `open` says whether their
// description goes on. Continuation lines are no records.
LineKind Classify(std::string_view line, LogRecord& scratch, bool& open) {
    if (ReadStamp(line, scratch.time)) {
        scratch.kind = RecordKind::Contact;
        return line.find('(', kStampSize) != std::string_view::npos ? LineKind::Record
                                                                    : LineKind::Unplaceable;
    }
    if (!StartsWith(line, kOwnOpening)) return LineKind::Continuation;
    const char* why = "";
    return ParseLine(line, scratch, open, why);
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
                onWarning_(number, "the description is longer than 4 MiB; the rest is left out");
            }
        } else {
            bool open = false;
            const char* why = "neither a record nor part of an open description";
            if (kind == LineKind::Unplaceable) {
                ParseLine(line, scratch_, open, why);
            } else if (!pending_) {
                why = "a line before the first record";
            }
            onWarning_(number, why);
        }
    }

    void Finish() {
        if (pending_) onRecord_(record_);
        pending_ = false;
    }

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
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return false;
    std::unique_ptr<char[]> chunk(new char[kChunkSize]);
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
        if (cut) onWarning(number, "the line is longer than 1 MiB; the rest is left out");
        cut = false;
        onLine(line, number);
    };
    auto keep = [&](std::string_view piece) {  // into carry, up to kMaxKept
        const std::size_t room = kMaxKept - carry.size();
        cut = cut || piece.size() > room;
        carry.append(piece.substr(0, room));
    };
    while (in) {
        in.read(chunk.get(), kChunkSize);
        if (in.bad()) return false;
        std::string_view data(chunk.get(), static_cast<std::size_t>(in.gcount()));
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

}  // namespace

LineKind ParseLine(std::string_view line, LogRecord& record, bool& open, const char*& why) {
    Reset(record);
    open = false;
    if (ReadStamp(line, record.time)) {
        record.kind = RecordKind::Contact;
        return ParseContact(line.substr(kStampSize), record, open, why);
    }
    if (StartsWith(line, kOwnOpening) && ReadStamp(line.substr(kOwnOpening.size()), record.time)) {
        record.kind = RecordKind::Own;
        return ParseOwn(line.substr(kOwnOpening.size() + kStampSize), record, open, why);
    }
    return LineKind::Continuation;
}

std::string ReadLog(const std::string& path, int lastYear, const RecordSink& onRecord,
                    const WarningSink& onWarning) {
    if (std::filesystem::is_directory(std::filesystem::u8path(path))) return "is a folder";
    if (lastYear == 0) {
        const std::optional<int64_t> modified = ModificationTime(path);
        if (!modified) return "cannot be read";
        lastYear = ToLocalTime(*modified).year;
    }
    // The first pass counts the year changes, telling record lines only by
    // their start; the second one reads the records and dates them.
    int changes = 0, previous = 0;
    const WarningSink quiet = [](uint64_t, const std::string&) {};
    std::string scratchLine;
    LogRecord scratch;
    const auto count = [&](std::string_view raw, uint64_t) {
        // Only a line's start tells a record, and leaving out control bytes
        // makes no "(": the rest need not be cleaned.
        constexpr std::size_t kStart = sizeof kLogOwnOpening - 1 + kStampSize;
        const std::string_view start = raw.substr(0, kStart);
        const std::string_view line = FirstControl(start) == start.size() ? raw : Clean(raw, scratchLine);
        bool open = false;
        if (Classify(line, scratch, open) != LineKind::Record) return;
        changes += MonthDay(scratch.time) < previous;
        previous = MonthDay(scratch.time);
    };
    if (!ForEachLine(path, quiet, count)) return "cannot be read";

    int seen = 0;
    previous = 0;
    const Sink dated = [&](LogRecord& record) {
        seen += MonthDay(record.time) < previous;
        previous = MonthDay(record.time);
        record.time.year = lastYear - (changes - seen);
        onRecord(record);
    };
    Assembler reading(dated, onWarning);
    if (!ForEachLine(path, onWarning, [&](std::string_view line, uint64_t n) { reading.Line(line, n); })) {
        return "cannot be read";
    }
    reading.Finish();
    return "";
}

}  // namespace plumeta::reader
