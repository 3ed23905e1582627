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

int TwoDigits(std::string_view text, std::size_t at) {
    const char high = text[at], low = text[at + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return -1;
    return (high - '0') * 10 + (low - '0');
}

// "DD.MM HH:MM.SS " at the start of `text`: 15 characters.
bool ReadStamp(std::string_view text, LocalTime& time) {
    if (text.size() < kStampSize || text[2] != '.' || text[5] != ' ' || text[8] != ':' ||
        text[11] != '.' || text[14] != ' ') {
        return false;
    }
    time.day = TwoDigits(text, 0);
    time.month = TwoDigits(text, 3);
    time.hour = TwoDigits(text, 6);
    time.minute = TwoDigits(text, 9);
    time.second = TwoDigits(text, 12);
    return time.day >= 1 && time.day <= 31 && time.month >= 1 && time.month <= 12 &&
           time.hour >= 0 && time.hour <= 23 && time.minute >= 0 && time.minute <= 59 &&
           time.second >= 0 && time.second <= 59;
}

// What may follow a word, a phrase or a tag: the description, or the end.
bool EndsOrDescribes(std::string_view rest) {
    return rest.empty() || StartsWith(rest, kLogDescriptionOpen);
}

// A status phrase at the start of `text`: a verb and a log word, followed
// by the description or the end.
bool MatchPhrase(std::string_view text, std::size_t& length, LogRecord& record) {
    for (const char* verb : {kLogHeVerb, kLogSheVerb}) {
        const std::size_t verbSize = std::strlen(verb);
        if (!StartsWith(text, std::string_view(verb, verbSize))) continue;
        std::size_t wordSize = 0;
        const std::optional<LogWordMeaning> word = MatchLogWord(text.substr(verbSize), wordSize);
        if (!word || !EndsOrDescribes(text.substr(verbSize + wordSize))) continue;
        length = verbSize + wordSize;
        record.status = word->status;
        record.gender = verb == kLogSheVerb ? 'f' : 'm';
        return true;
    }
    return false;
}

// Where the first status phrase after `from` starts, or npos.
std::size_t FirstPhrase(std::string_view body, std::size_t from) {
    std::size_t first = std::string_view::npos;
    for (const char* verb : {kLogHeVerb, kLogSheVerb}) {
        for (std::size_t at = body.find(verb, from); at < first; at = body.find(verb, at + 1)) {
            std::size_t length = 0;
            LogRecord probe;
            if (MatchPhrase(body.substr(at), length, probe)) first = at;
        }
    }
    return first;
}

// The description at the start of `rest` (" [" ...), or none.
bool ReadDescription(std::string_view rest, LogRecord& record, bool& open) {
    open = false;
    if (rest.empty()) return true;
    if (!StartsWith(rest, kLogDescriptionOpen)) return false;
    rest.remove_prefix(std::strlen(kLogDescriptionOpen));
    open = rest.empty() || rest.back() != kLogDescriptionClose;
    if (!open) rest.remove_suffix(1);
    record.description.emplace(rest);
    return true;
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
    for (std::size_t at = body.find('@', firstParen); at != std::string_view::npos;
         at = body.find('@', at + 1)) {
        const std::size_t end = TagEnd(body, at, network);
        if (end == std::string_view::npos) continue;
        std::size_t phrase = 0;
        LogRecord probe;
        if (EndsOrDescribes(body.substr(end)) || MatchPhrase(body.substr(end), phrase, probe)) {
            idEnd = at;
            after = end;
            break;
        }
    }
    if (idEnd == std::string_view::npos) {
        network = {};
        idEnd = after = FirstPhrase(body, firstParen);
    }
    if (idEnd == std::string_view::npos) {
        idEnd = after = std::min(body.find(kLogDescriptionOpen, firstParen), body.size());
    }
    const std::size_t idStart = body.rfind('(', idEnd);
    record.name.assign(body.substr(0, idStart));
    record.id.assign(body.substr(idStart + 1, idEnd - idStart - 1));
    record.network.assign(network);
    std::string_view rest = body.substr(after);
    std::size_t phrase = 0;
    if (MatchPhrase(rest, phrase, record)) rest.remove_prefix(phrase);
    if (!ReadDescription(rest, record, open)) {
        why = "the identifier is followed by neither a status nor a description";
        return LineKind::Unplaceable;
    }
    return LineKind::Record;
}

// `body`: an own line after "Zmianiles status " and its stamp.
LineKind ParseOwn(std::string_view body, LogRecord& record, bool& open, const char*& why) {
    why = "an own line not in the form \"na sieci NETWORK na STATUS\"";
    if (!StartsWith(body, kLogOnNetwork)) return LineKind::Unplaceable;
    body.remove_prefix(std::strlen(kLogOnNetwork));
    const std::size_t onStatus = body.find(kLogOnStatus);
    if (onStatus == std::string_view::npos) return LineKind::Unplaceable;
    const std::string_view network = body.substr(0, onStatus);
    if (!network.empty() && !NetworkNumberOfName(network)) return LineKind::Unplaceable;
    record.network.assign(network);
    std::string_view rest = body.substr(onStatus + std::strlen(kLogOnStatus));
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

// Left out of every line read: they would end the file for text-mode
// readers (0x1A) or reach a terminal as escape sequences.
bool IsControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

void StripControls(std::string_view line, std::string& out) {
    out.clear();
    const char* run = line.data();
    const char* end = run + line.size();
    for (const char* p = run; p != end; ++p) {
        if (!IsControl(static_cast<unsigned char>(*p))) continue;
        out.append(run, p);
        run = p + 1;
    }
    out.append(run, end);
}

// Joins lines into records: a record is whole once the next one starts (or
// the file ends), since continuation lines may follow it.
using Sink = std::function<void(LogRecord& record)>;

class Assembler {
public:
    Assembler(const Sink& onRecord, const WarningSink& onWarning)
        : onRecord_(onRecord), onWarning_(onWarning) {}

    void Line(std::string_view raw, uint64_t number) {
        StripControls(raw, line_);
        LogRecord& next = pending_ ? spare_ : record_;
        next.status.reset();
        next.gender = 0;
        next.description.reset();
        next.name.clear();
        next.id.clear();
        bool open = false;
        const char* why = "";
        const LineKind kind = ParseLine(line_, next, open, why);
        if (kind == LineKind::Record) {
            Finish();
            if (&next == &spare_) std::swap(record_, spare_);
            record_.line = number;
            pending_ = true;
            open_ = open;
        } else if (kind == LineKind::Continuation && pending_ && open_) {
            std::string& description = *record_.description;
            std::string_view text = line_;
            open_ = text.empty() || text.back() != kLogDescriptionClose;
            if (!open_) text.remove_suffix(1);
            if (description.size() + text.size() < kMaxDescriptionSize) {
                description += '\n';
                description.append(text);
            } else {
                onWarning_(number, "the description is longer than 4 MiB; the rest is left out");
            }
        } else {
            onWarning_(number, kind == LineKind::Unplaceable ? why
                               : pending_ ? "neither a record nor part of an open description"
                                          : "a line before the first record");
        }
    }

    void Finish() {
        if (pending_) onRecord_(record_);
        pending_ = false;
    }

private:
    const Sink& onRecord_;
    const WarningSink& onWarning_;
    std::string line_;
    LogRecord record_, spare_;  // the pending record, and the next one's room
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
    auto deliver = [&](std::string_view line) {
        ++number;
        for (int i = 0; i < 2 && !line.empty() && line.back() == '\r'; ++i) line.remove_suffix(1);
        if (cut) onWarning(number, "the line is longer than 1 MiB; the rest is left out");
        cut = false;
        onLine(line, number);
    };
    auto keep = [&](std::string_view piece) {  // into carry, up to kMaxLineSize
        const std::size_t room = kMaxLineSize - carry.size();
        cut = cut || piece.size() > room;
        carry.append(piece.substr(0, room));
    };
    while (in) {
        in.read(chunk.get(), kChunkSize);
        if (in.bad()) return false;
        std::string_view data(chunk.get(), static_cast<std::size_t>(in.gcount()));
        for (std::size_t end; (end = data.find('\n')) != std::string_view::npos;) {
            if (carry.empty() && end <= kMaxLineSize) {
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
    if (ReadStamp(line, record.time)) {
        record.kind = RecordKind::Contact;
        return ParseContact(line.substr(kStampSize), record, open, why);
    }
    const std::size_t opening = std::strlen(kLogOwnOpening);
    if (StartsWith(line, kLogOwnOpening) && ReadStamp(line.substr(opening), record.time)) {
        record.kind = RecordKind::Own;
        return ParseOwn(line.substr(opening + kStampSize), record, open, why);
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
    // The first pass counts the year changes, the second one numbers them.
    int changes = 0, previous = 0;
    const WarningSink quiet = [](uint64_t, const std::string&) {};
    const Sink count = [&](LogRecord& record) {
        changes += MonthDay(record.time) < previous;
        previous = MonthDay(record.time);
    };
    Assembler counting(count, quiet);
    if (!ForEachLine(path, quiet, [&](std::string_view line, uint64_t n) { counting.Line(line, n); })) {
        return "cannot be read";
    }
    counting.Finish();

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
