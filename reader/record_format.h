// Records as text: RFC 4180 CSV, JSON Lines and the lines of `show`, all in
// UTF-8. The CSV and JSON escaping is written here once, for every command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codepage/codepage.h"
#include "reader/log_reader.h"
#include "recorder/text_builder.h"

namespace plumeta::reader {

// What the commands print into: built in place, written out in large pieces.
using OutText = TextBuilder<1 << 16>;

// One CSV field: quoted only where it holds a comma, a quote, CR or LF, its
// quotes doubled. With `from1250` the text is Windows-1250 and is converted
// on the way; without, it is UTF-8 already.
void AppendCsvField(OutText& out, std::string_view text, const Cp1250Converter* from1250 = nullptr);
// A JSON string, quotes included: '"', '\' and every control character
// escaped, the rest as it is (or converted, as above).
void AppendJsonString(OutText& out, std::string_view text, const Cp1250Converter* from1250 = nullptr);
// A UTF-8 text inside a script's string literal (JSON's too) that can stand
// inside a <script>: quotes, backslashes, control characters and "<" as
// escapes; JsonInScript adds the quotes.
void AppendScriptText(std::string& out, std::string_view utf8);
std::string JsonInScript(std::string_view utf8);
// A UTF-8 text for HTML or SVG: "<", ">", "&" and '"' as entities.
std::string EscapeMarkup(std::string_view utf8);
// A description for one line of a table or page: its line breaks as " / ".
std::string OneLine(std::string text);
// "YYYY-MM-DD HH:MM:SS".
void AppendTime(OutText& out, const LocalTime& time);
std::string TimeText(const LocalTime& time);
// "YYYY-MM-DDTHH:MM:SS+HH:MM": the local time and its offset from UTC, in
// seconds (":SS" more where it has them).
void AppendIsoTime(OutText& out, const LocalTime& time, int64_t offset);

// The fields of csv and json, in their order.
inline constexpr const char* kFields[] = {"time",   "kind",        "name", "id",  "network",
                                          "status", "gender", "description", "file", "line"};

class RecordFormatter {
public:
    explicit RecordFormatter(const Cp1250Converter& codepage) : codepage_(codepage) {}

    // Each appends one whole line: CSV rows end in CR LF, the others in LF.
    void AppendCsvHeader(OutText& out) const;
    void AppendCsv(OutText& out, const LogRecord& record, std::string_view file) const;
    void AppendJson(OutText& out, const LogRecord& record, std::string_view file) const;
    // "2026-12-08 18:31:36  Ania (123456, GG)  dostępna  [w domu]"; an own
    // change reads "Ty (własny status, GG)"; a description's line breaks
    // read " / ".
    void AppendShow(OutText& out, const LogRecord& record) const;

    // The status word as the history writes it, with its Polish letters,
    // lower case: "dostępna". The masculine form where the gender is not
    // known.
    std::string StatusWord(uint32_t status, char gender) const;
    // Who changed: "Ania (123456, GG)", "Ty (własny status, GG)".
    std::string Who(const LogRecord& record) const;
    std::string Utf8(std::string_view cp1250) const { return codepage_.ToUtf8(cp1250); }

private:
    // The file's field, escaped once: every row of a file repeats it.
    std::string_view EscapedFile(std::string_view file) const;

    const Cp1250Converter& codepage_;
    mutable std::string file_, fileCsv_;
};

}  // namespace plumeta::reader
