#include "reader/record_format.h"

#include "reader/zone_time.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "reader/zone_time.h"
#include "recorder/status_log.h"
#include "recorder/status_words.h"

namespace plumeta::reader {
namespace {

constexpr char kCsvEnd[] = "\r\n";
constexpr char kOwnWho[] = "Ty (własny status";

void AppendNumber(OutText& out, uint64_t value) {
    char digits[24];
    // 32-bit division where it will do: this runs twice a line.
    const auto result = value <= UINT32_MAX
                            ? std::to_chars(digits, digits + sizeof digits, static_cast<uint32_t>(value))
                            : std::to_chars(digits, digits + sizeof digits, value);
    out.Append(digits, static_cast<std::size_t>(result.ptr - digits));
}

const char* KindName(RecordKind kind) { return kind == RecordKind::Own ? "own" : "contact"; }

const char* GenderName(char gender) { return gender == 'f' ? "f" : gender == 'm' ? "m" : ""; }

bool IsHigh(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// What a byte asks of a CSV field: to be converted, or to quote the field.
enum : uint8_t { kPlain = 0, kHigh = 1, kQuoting = 2 };
struct CsvClasses {
    uint8_t of[256] = {};
    constexpr CsvClasses() {
        for (int byte = 0x80; byte < 0x100; ++byte) of[byte] = kHigh;
        for (unsigned char byte : {',', '"', '\r', '\n'}) of[byte] = kQuoting;
    }
};
constexpr CsvClasses kCsv;

// Copies `text` as it is, or converted from Windows-1250.
void AppendText(OutText& out, std::string_view text, const Cp1250Converter* from1250) {
    if (!from1250) {
        out.Append(text);
        return;
    }
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 8 <= text.size()) {  // eight bytes at a time past ASCII
            uint64_t x;
            std::memcpy(&x, text.data() + i, 8);
            if (!(x & 0x8080808080808080u)) {
                i += 7;
                continue;
            }
        }
        if (!IsHigh(text[i])) continue;
        out.Append(text.substr(run, i - run));
        out.Append(from1250->HighByteUtf8(static_cast<unsigned char>(text[i])));
        run = i + 1;
    }
    out.Append(text.substr(run));
}

// "00" to "99", so that a time is written without dividing.
struct DigitPairs {
    char of[100][2] = {};
    constexpr DigitPairs() {
        for (int i = 0; i < 100; ++i) {
            of[i][0] = static_cast<char>('0' + i / 10);
            of[i][1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kDigits;

// Every field of a time read is 0 to 99; anything else still stays within
// the table.
void AppendTwoDigits(char* at, int value) { std::memcpy(at, kDigits.of[static_cast<unsigned>(value) % 100], 2); }

// What the bytes of `text` ask of a CSV field, together: eight bytes at a
// time, since every field of every row goes through here.
uint8_t CsvClassesOf(std::string_view text) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x80 * kOnes;
    auto holds = [](uint64_t x, unsigned char byte) {  // whether a byte of x is `byte`
        const uint64_t y = x ^ (byte * kOnes);
        return ((y - kOnes) & ~y & kHighs) != 0;
    };
    uint8_t classes = kPlain;
    if (text.size() < 8) {
        for (char c : text) classes |= kCsv.of[static_cast<unsigned char>(c)];
        return classes;
    }
    // The last eight bytes are read where the others leave off: some twice.
    for (std::size_t i = 0;; i += 8) {
        uint64_t x;
        std::memcpy(&x, text.data() + std::min(i, text.size() - 8), 8);
        if (x & kHighs) classes |= kHigh;
        if (holds(x, ',') || holds(x, '"') || holds(x, '\r') || holds(x, '\n')) classes |= kQuoting;
        if (i + 8 >= text.size()) return classes;
    }
}

}  // namespace

void AppendCsvField(OutText& out, std::string_view text, const Cp1250Converter* from1250) {
    const uint8_t classes = CsvClassesOf(text);
    if (classes == kPlain) {
        out.Append(text);
        return;
    }
    if (!(classes & kQuoting)) {
        AppendText(out, text, from1250);
        return;
    }
    out.Push('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '"') continue;
        AppendText(out, text.substr(run, i - run), from1250);
        if (i < text.size()) out.Append("\"\"", 2);
        run = i + 1;
    }
    out.Push('"');
}

void AppendScriptText(std::string& out, std::string_view utf8) {
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || c == '<') {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
}

std::string JsonInScript(std::string_view utf8) {
    std::string json = "\"";
    AppendScriptText(json, utf8);
    return json + "\"";
}

void AppendJsonString(OutText& out, std::string_view text, const Cp1250Converter* from1250) {
    out.Push('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        const bool plain = byte >= 0x20 && byte != '"' && byte != '\\' && byte != 0x7F;
        if (plain) continue;
        AppendText(out, text.substr(run, i - run), from1250);
        run = i + 1;
        switch (byte) {
            case '"': out.Append("\\\"", 2); break;
            case '\\': out.Append("\\\\", 2); break;
            case '\n': out.Append("\\n", 2); break;
            case '\r': out.Append("\\r", 2); break;
            case '\t': out.Append("\\t", 2); break;
            default: {
                char escaped[] = "\\u00XX";
                const char* hex = "0123456789abcdef";
                escaped[4] = hex[byte >> 4];
                escaped[5] = hex[byte & 15];
                out.Append(escaped, 6);
            }
        }
    }
    AppendText(out, text.substr(run), from1250);
    out.Push('"');
}

namespace {

// "YYYY-MM-DD?HH:MM:SS" into the 19 bytes at `at`, `between` at '?'.
void WriteTime(char* at, const LocalTime& time, char between) {
    std::memcpy(at, "0000-00-00 00:00:00", 19);
    at[10] = between;
    const unsigned year = static_cast<unsigned>(time.year) % 10000;
    AppendTwoDigits(at, static_cast<int>(year / 100));
    AppendTwoDigits(at + 2, static_cast<int>(year % 100));
    AppendTwoDigits(at + 5, time.month);
    AppendTwoDigits(at + 8, time.day);
    AppendTwoDigits(at + 11, time.hour);
    AppendTwoDigits(at + 14, time.minute);
    AppendTwoDigits(at + 17, time.second);
}

}  // namespace

void AppendTime(OutText& out, const LocalTime& time) { WriteTime(out.Extend(19), time, ' '); }

void AppendIsoTime(OutText& out, const LocalTime& time, int64_t offset) {
    WriteTime(out.Extend(19), time, 'T');
    const int64_t magnitude = offset < 0 ? -offset : offset;
    char* sign = out.Extend(6);
    sign[0] = offset < 0 ? '-' : '+';
    AppendTwoDigits(sign + 1, static_cast<int>(magnitude / 3600 % 100));
    sign[3] = ':';
    AppendTwoDigits(sign + 4, static_cast<int>(magnitude / 60 % 60));
    if (magnitude % 60) {  // a zone's old local mean time
        char* seconds = out.Extend(3);
        seconds[0] = ':';
        AppendTwoDigits(seconds + 1, static_cast<int>(magnitude % 60));
    }
}

std::string TimeText(const LocalTime& time) {
    OutText text;
    AppendTime(text, time);
    return std::string(text.view());
}

std::string OneLine(std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += sizeof kLogLineBreak - 1) {
        text.replace(at, 1, kLogLineBreak);
    }
    return text;
}

std::string EscapeMarkup(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string_view RecordFormatter::EscapedFile(std::string_view file) const {
    if (file != file_ || fileCsv_.empty()) {
        OutText field;
        AppendCsvField(field, file);
        file_ = file;
        fileCsv_ = field.view();
    }
    return fileCsv_;
}

void RecordFormatter::AppendCsvHeader(OutText& out) const {
    for (const char* field : kFields) {
        if (field != kFields[0]) out.Push(',');
        out.Append(field);
    }
    out.Append(kCsvEnd);
}

void RecordFormatter::AppendCsv(OutText& out, const LogRecord& r, std::string_view file) const {
    AppendTime(out, r.time);
    out.Push(',');
    out.Append(KindName(r.kind));
    out.Push(',');
    AppendCsvField(out, r.name, &codepage_);
    out.Push(',');
    AppendCsvField(out, r.id, &codepage_);
    out.Push(',');
    out.Append(r.network);
    out.Push(',');
    if (r.status) AppendNumber(out, *r.status);
    out.Push(',');
    out.Append(GenderName(r.gender));
    out.Push(',');
    if (r.described) AppendCsvField(out, r.description, &codepage_);
    out.Push(',');
    out.Append(EscapedFile(file));
    out.Push(',');
    AppendNumber(out, r.line);
    out.Append(kCsvEnd);
}

void RecordFormatter::AppendJson(OutText& out, const LogRecord& r, std::string_view file) const {
    out.Append("{\"time\":\"");
    AppendIsoTime(out, r.time, NaiveSeconds(r.time) - r.moment);
    out.Append("\",\"kind\":\"");
    out.Append(KindName(r.kind));
    out.Append("\",\"name\":");
    AppendJsonString(out, r.name, &codepage_);
    out.Append(",\"id\":");
    AppendJsonString(out, r.id, &codepage_);
    out.Append(",\"network\":");
    AppendJsonString(out, r.network);
    out.Append(",\"status\":");
    if (r.status) {
        AppendNumber(out, *r.status);
    } else {
        out.Append("null");
    }
    out.Append(",\"gender\":");
    AppendJsonString(out, GenderName(r.gender));
    out.Append(",\"description\":");
    if (r.described) {
        AppendJsonString(out, r.description, &codepage_);
    } else {
        out.Append("null");
    }
    out.Append(",\"file\":");
    AppendJsonString(out, file);
    out.Append(",\"line\":");
    AppendNumber(out, r.line);
    out.Append("}\n");
}

std::string RecordFormatter::StatusWord(uint32_t status, char gender) const {
    std::string word = ContactStatusWord(status, gender == 'f' ? '1' : '0');
    // Every word begins with an ASCII capital.
    if (!word.empty() && word[0] >= 'A' && word[0] <= 'Z') word[0] = static_cast<char>(word[0] - 'A' + 'a');
    // The history's "Nie osiągalny" is one word in Polish, as the reader
    // writes it: "nie" goes together with an adjective.
    if (word.compare(0, 7, "nie osi") == 0) word.erase(3, 1);
    return codepage_.ToUtf8(word);
}

std::string RecordFormatter::Who(const LogRecord& r) const {
    std::string who;
    if (r.kind == RecordKind::Own) {
        who = codepage_.ToUtf8(kOwnWho);
    } else {
        who = codepage_.ToUtf8(r.name) + " (" + codepage_.ToUtf8(r.id);
    }
    if (!r.network.empty()) {
        who += ", ";
        who += r.network;
    }
    return who + ")";
}

void RecordFormatter::AppendShow(OutText& out, const LogRecord& r) const {
    AppendTime(out, r.time);
    out.Append("  ");
    out.Append(Who(r));
    if (r.status) {
        out.Append("  ");
        out.Append(StatusWord(*r.status, r.gender));
    }
    if (r.described) {
        out.Append("  [");
        const std::string& text = r.description;
        std::size_t run = 0;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != '\n') continue;
            AppendText(out, std::string_view(text).substr(run, i - run), &codepage_);
            if (i < text.size()) out.Append(kLogLineBreak);
            run = i + 1;
        }
        out.Push(']');
    }
    out.Push('\n');
}

}  // namespace plumeta::reader
