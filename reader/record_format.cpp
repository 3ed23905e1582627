#include "reader/record_format.h"

#include <cstdio>

#include "recorder/status_log.h"
#include "recorder/status_words.h"

namespace plumeta::reader {
namespace {

constexpr char kCsvEnd[] = "\r\n";
constexpr char kOwnWho[] = "Ty (własny status";

void AppendNumber(std::string& out, uint64_t value) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    out.append(digits, static_cast<std::size_t>(length));
}

const char* KindName(RecordKind kind) { return kind == RecordKind::Own ? "own" : "contact"; }

const char* GenderName(char gender) { return gender == 'f' ? "f" : gender == 'm' ? "m" : ""; }

}  // namespace

void AppendCsvField(std::string& out, std::string_view utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(utf8);
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void AppendJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    for (char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void AppendTime(std::string& out, const LocalTime& time) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.year,
                                     time.month, time.day, time.hour, time.minute, time.second);
    out.append(text, static_cast<std::size_t>(length));
}

void RecordFormatter::Convert(std::string_view cp1250) {
    scratch_.clear();
    codepage_.AppendUtf8(scratch_, cp1250);
}

void RecordFormatter::AppendCsvHeader(std::string& out) const {
    for (const char* field : kFields) {
        if (field != kFields[0]) out += ',';
        out += field;
    }
    out += kCsvEnd;
}

void RecordFormatter::AppendCsv(std::string& out, const LogRecord& r, std::string_view file) {
    AppendTime(out, r.time);
    out += ',';
    out += KindName(r.kind);
    out += ',';
    Convert(r.name);
    AppendCsvField(out, scratch_);
    out += ',';
    Convert(r.id);
    AppendCsvField(out, scratch_);
    out += ',';
    out += r.network;
    out += ',';
    if (r.status) AppendNumber(out, *r.status);
    out += ',';
    out += GenderName(r.gender);
    out += ',';
    if (r.description) {
        Convert(*r.description);
        AppendCsvField(out, scratch_);
    }
    out += ',';
    AppendCsvField(out, file);
    out += ',';
    AppendNumber(out, r.line);
    out += kCsvEnd;
}

void RecordFormatter::AppendJson(std::string& out, const LogRecord& r, std::string_view file) {
    out += "{\"time\":\"";
    AppendTime(out, r.time);
    out += "\",\"kind\":\"";
    out += KindName(r.kind);
    out += "\",\"name\":";
    Convert(r.name);
    AppendJsonString(out, scratch_);
    out += ",\"id\":";
    Convert(r.id);
    AppendJsonString(out, scratch_);
    out += ",\"network\":";
    AppendJsonString(out, r.network);
    out += ",\"status\":";
    if (r.status) {
        AppendNumber(out, *r.status);
    } else {
        out += "null";
    }
    out += ",\"gender\":";
    AppendJsonString(out, GenderName(r.gender));
    out += ",\"description\":";
    if (r.description) {
        Convert(*r.description);
        AppendJsonString(out, scratch_);
    } else {
        out += "null";
    }
    out += ",\"file\":";
    AppendJsonString(out, file);
    out += ",\"line\":";
    AppendNumber(out, r.line);
    out += "}\n";
}

std::string RecordFormatter::StatusWord(uint32_t status, char gender) const {
    std::string word = ContactStatusWord(status, gender == 'f' ? '1' : '0');
    // Every word begins with an ASCII capital.
    if (!word.empty() && word[0] >= 'A' && word[0] <= 'Z') word[0] = static_cast<char>(word[0] - 'A' + 'a');
    return codepage_.ToUtf8(word);
}

std::string RecordFormatter::Who(const LogRecord& r) const {
    std::string who;
    if (r.kind == RecordKind::Own) {
        who = codepage_.ToUtf8(kOwnWho);
        if (!r.network.empty()) who += ", " + r.network;
    } else {
        who = codepage_.ToUtf8(r.name) + " (" + codepage_.ToUtf8(r.id);
        if (!r.network.empty()) who += ", " + r.network;
    }
    return who + ")";
}

void RecordFormatter::AppendShow(std::string& out, const LogRecord& r) {
    AppendTime(out, r.time);
    out += "  ";
    out += Who(r);
    if (r.status) {
        out += "  ";
        out += StatusWord(*r.status, r.gender);
    }
    if (r.description) {
        Convert(*r.description);
        out += "  [";
        for (char c : scratch_) {
            if (c == '\n') {
                out += kLogLineBreak;
            } else {
                out += c;
            }
        }
        out += ']';
    }
    out += '\n';
}

}  // namespace plumeta::reader
