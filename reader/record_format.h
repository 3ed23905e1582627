// Records as text: RFC 4180 CSV, JSON Lines and the lines of `show`, all in
// UTF-8. The CSV and JSON escaping is written here once, for every command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codepage/codepage.h"
#include "reader/log_reader.h"

namespace plumeta::reader {

// One CSV field: quoted only where it holds a comma, a quote, CR or LF, its
// quotes doubled.
void AppendCsvField(std::string& out, std::string_view utf8);
// A JSON string, quotes included: '"', '\' and every control character
// escaped; the rest (UTF-8) as it is.
void AppendJsonString(std::string& out, std::string_view utf8);
// "YYYY-MM-DD HH:MM:SS".
void AppendTime(std::string& out, const LocalTime& time);

// The fields of csv and json, in their order.
inline constexpr const char* kFields[] = {"time",   "kind",        "name", "id",  "network",
                                          "status", "gender", "description", "file", "line"};

class RecordFormatter {
public:
    explicit RecordFormatter(const Cp1250Converter& codepage) : codepage_(codepage) {}

    // Each appends one whole line: CSV rows end in CR LF, the others in LF.
    void AppendCsvHeader(std::string& out) const;
    void AppendCsv(std::string& out, const LogRecord& record, std::string_view file);
    void AppendJson(std::string& out, const LogRecord& record, std::string_view file);
    // "2026-12-08 18:31:36  Ania (123456, GG)  dostępna  [w domu]"; an own
    // change reads "Ty (własny status, GG)"; a description's line breaks
    // read " / ".
    void AppendShow(std::string& out, const LogRecord& record);

    // The status word as the history writes it, with its Polish letters,
    // lower case: "dostępna". The masculine form where the gender is not
    // known.
    std::string StatusWord(uint32_t status, char gender) const;
    // Who changed: "Ania (123456, GG)", "Ty (własny status, GG)".
    std::string Who(const LogRecord& record) const;
    std::string Utf8(std::string_view cp1250) const { return codepage_.ToUtf8(cp1250); }

private:
    void Convert(std::string_view cp1250);  // into scratch_

    const Cp1250Converter& codepage_;
    std::string scratch_;
};

}  // namespace plumeta::reader
