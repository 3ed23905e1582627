// Coverage-guided fuzzing of plumeta-log's reading: the input is a log's
// bytes (and its first byte picks the last record's year). It is read, and
// written as CSV, JSON Lines, show lines, last seen, the last day's
// timeline and the report page.
//
// Oracles, on every input:
// - nothing crashes, leaks or reads out of bounds (the sanitizers);
// - every record is dated within 1 to 9999, on a day that exists;
// - CSV and JSON Lines give the same records, one row each, every CSV row
//   with its ten fields; every output is valid UTF-8;
// - no text from the log is markup: the page holds only the elements and
//   attributes the reader writes, balanced, every "&" an entity the reader
//   writes; the SVG is well-formed XML in the same sense;
// - the page keeps its bounds: shares of 0 to 100 %, at most 20
//   descriptions a card, at most seven days drawn.
//
// Everything here is ASCII.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "codepage/codepage.h"
#include "reader/last_seen.h"
#include "reader/log_reader.h"
#include "reader/record_format.h"
#include "reader/report.h"
#include "reader/timeline.h"

namespace {

using namespace plumeta::reader;

[[noreturn]] void Fail(const char* what, std::string_view detail = "") {
    std::fprintf(stderr, "ORACLE: %s %.600s\n", what, std::string(detail).c_str());
    std::abort();
}

bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size() || (n == 2 && c < 0xC2)) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

// ---- CSV and JSON, read back -----------------------------------------------

// One RFC 4180 row at `at` (which moves past its CR LF) into `fields`.
bool ReadCsvRow(std::string_view csv, std::size_t& at, std::vector<std::string>& fields) {
    fields.assign(1, "");
    bool quoted = false;
    for (; at < csv.size(); ++at) {
        const char c = csv[at];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (at + 1 < csv.size() && csv[at + 1] == '"') {
                fields.back() += '"';
                ++at;
            } else {
                quoted = false;
            }
        } else if (c == '"' && (fields.back().empty())) {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\r' && at + 1 < csv.size() && csv[at + 1] == '\n') {
            at += 2;
            return true;
        } else if (c == '"' || c == '\r' || c == '\n') {
            return false;
        } else {
            fields.back() += c;
        }
    }
    return false;
}

// The values of one flat JSON object (strings, numbers, null) in order;
// null reads as "".
bool ReadJsonLine(std::string_view line, std::vector<std::string>& values, std::vector<std::string>& keys) {
    values.clear();
    keys.clear();
    std::size_t at = 0;
    auto string = [&](std::string& out) {
        if (at >= line.size() || line[at] != '"') return false;
        for (++at; at < line.size() && line[at] != '"'; ++at) {
            const unsigned char c = static_cast<unsigned char>(line[at]);
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (++at >= line.size()) return false;
            switch (line[at]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (at + 4 >= line.size() || line.compare(at + 1, 2, "00") != 0) return false;
                    const unsigned value = static_cast<unsigned>(std::strtoul(std::string(line.substr(at + 3, 2)).c_str(), nullptr, 16));
                    if (value >= 0x20 && value != 0x7F) return false;
                    out += static_cast<char>(value);
                    at += 4;
                    break;
                }
                default: return false;
            }
        }
        return at++ < line.size();
    };
    if (line.empty() || line[at++] != '{') return false;
    while (at < line.size()) {
        keys.emplace_back();
        values.emplace_back();
        if (!string(keys.back()) || at >= line.size() || line[at++] != ':') return false;
        if (line.compare(at, 4, "null") == 0) {
            at += 4;
        } else if (at < line.size() && line[at] == '"') {
            if (!string(values.back())) return false;
        } else {
            while (at < line.size() && line[at] >= '0' && line[at] <= '9') values.back() += line[at++];
            if (values.back().empty()) return false;
        }
        if (at < line.size() && line[at] == ',') {
            ++at;
            continue;
        }
        return line.substr(at) == "}";
    }
    return false;
}

// ---- markup ------------------------------------------------------------------

const std::set<std::string, std::less<>> kElements = {
    "html", "head", "meta", "title", "style", "body", "h1", "h2", "h3", "section", "p", "code", "pre", "strong",
    "table", "tr", "th", "td", "a", "input", "small", "div", "ul", "li", "time", "details", "summary", "script",
    "svg", "rect", "path", "text", "line", "label", "span", "b", "defs", "pattern", "header", "main", "g"};
const std::set<std::string, std::less<>> kVoid = {"meta", "input"};
const std::set<std::string, std::less<>> kAttributes = {
    "lang", "charset", "name", "content", "id", "class", "type", "placeholder", "hidden", "href", "open",
    "data-records", "data-skipped", "data-network", "data-id", "data-changes", "data-online-since",
    "data-last-seen", "data-heat", "data-time", "data-find", "xmlns", "viewBox", "width", "height", "x", "y",
    "x1", "y1", "x2", "y2", "fill", "fill-opacity", "stroke", "stroke-width", "d", "font-family", "font-size",
    "font-weight", "text-anchor", "for", "role", "aria-live", "title", "data-spilled", "patternUnits",
    "patternTransform", "datetime", "data-day", "tabindex", "aria-label", "aria-hidden", "style", "data-covered",
    "data-covered-fill", "data-shades", "data-days", "data-title", "data-none", "data-story", "data-name"};

bool IsNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'; }

// Walks `page`: every tag one of the reader's, with only its attributes,
// each element closed in order; text and attribute values hold no "<" or
// ">", and "&" only as the reader's four entities. The contents of style
// and script are the reader's own text and are passed over.
void CheckMarkup(std::string_view page, const char* what) {
    std::vector<std::string> open;
    auto entity = [&](std::size_t at) {
        for (const char* known : {"&lt;", "&gt;", "&amp;", "&quot;"}) {
            if (page.compare(at, std::strlen(known), known) == 0) return;
        }
        Fail("an & that is no entity of the reader's in the", std::string(what) + ": " + std::string(page.substr(at, 40)));
    };
    std::size_t at = 0;
    if (page.compare(0, 5, "<?xml") == 0) at = page.find("?>") + 2;
    if (page.compare(at, 15, "<!DOCTYPE html>") == 0) at += 15;
    while (at < page.size()) {
        const char c = page[at];
        if (c == '>') Fail("a > in the text of the", what);
        if (c == '&') entity(at);
        if (c != '<') {
            ++at;
            continue;
        }
        const bool closing = page.compare(at, 2, "</") == 0;
        at += closing ? 2 : 1;
        std::string name;
        while (at < page.size() && IsNameChar(page[at])) name += page[at++];
        if (!kElements.count(name)) Fail("an element the reader does not write in the", std::string(what) + ": " + name);
        if (closing) {
            if (open.empty() || open.back() != name || at >= page.size() || page[at] != '>') {
                Fail("an element closed out of order in the", std::string(what) + ": " + name);
            }
            open.pop_back();
            ++at;
            continue;
        }
        bool selfClosed = false;
        while (true) {
            while (at < page.size() && page[at] == ' ') ++at;
            if (at >= page.size()) Fail("a tag without its end in the", what);
            if (page[at] == '>') break;
            if (page.compare(at, 2, "/>") == 0) {
                selfClosed = true;
                ++at;
                break;
            }
            std::string attribute;
            while (at < page.size() && IsNameChar(page[at])) attribute += page[at++];
            if (!kAttributes.count(attribute)) {
                Fail("an attribute the reader does not write in the", std::string(what) + ": <" + name + " " + attribute);
            }
            if (at < page.size() && page[at] == '=') {
                if (++at >= page.size() || page[at] != '"') Fail("an unquoted attribute in the", what);
                for (++at; at < page.size() && page[at] != '"'; ++at) {
                    if (page[at] == '<' || page[at] == '>') Fail("a < or > in an attribute of the", what);
                    if (page[at] == '&') entity(at);
                }
                ++at;
            }
        }
        ++at;
        if (selfClosed || kVoid.count(name)) continue;
        if (name == "style" || name == "script") {
            const std::size_t end = page.find("</" + name + ">", at);
            if (end == std::string_view::npos) Fail("an unclosed style or script in the", what);
            at = end;
        }
        open.push_back(name);
    }
    if (!open.empty()) Fail("an element left open in the", std::string(what) + ": " + open.back());
}

std::size_t Count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool DayExists(const plumeta::LocalTime& t) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    return t.day <= kDays[t.month - 1] + (t.month == 2 && leap);
}

std::string g_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/plumeta-reader-fuzz-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    g_path = std::string(folder) + "/statusy.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const int kYears[] = {2026, 1970, 9999, 1};
    const int year = kYears[size ? data[0] % 4 : 0];
    std::ofstream(g_path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const plumeta::Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    // Made once: 64 KiB each would be poisoned and unpoisoned on every input.
    static OutText csv, json, show;
    csv.Clear();
    json.Clear();
    show.Clear();
    LastSeenTable seen;
    Report report;
    std::vector<LogRecord> records;
    const std::string problem = ReadLog(
        g_path, year,
        [&](const LogRecord& r) {
            if (!DayExists(r.time) || r.time.hour > 23 || r.time.minute > 59 || r.time.second > 59) {
                Fail("a record dated outside what can be:", TimeText(r.time));
            }
            records.push_back(r);
            format.AppendCsv(csv, r, g_path);
            format.AppendJson(json, r, g_path);
            format.AppendShow(show, r);
            seen.Add(r);
            report.Add(r);
        },
        [&](uint64_t, const std::string& why) {
            if (!ValidUtf8(why)) Fail("a warning that is not UTF-8");
            report.AddSkipped(g_path, 1, why);
        });
    if (!problem.empty()) Fail("the log could not be read:", problem);

    for (const auto& [what, text] : {std::pair<const char*, std::string_view>{"csv", csv.view()},
                                      {"json", json.view()}, {"show", show.view()}}) {
        if (!ValidUtf8(text)) Fail("output that is not UTF-8:", what);
    }
    // CSV and JSON Lines: the same records, field by field.
    std::size_t csvAt = 0, jsonAt = 0;
    std::vector<std::string> fields, values, keys;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!ReadCsvRow(csv.view(), csvAt, fields)) Fail("a CSV row that does not read back");
        if (fields.size() != std::size(kFields)) Fail("a CSV row without its ten fields");
        const std::size_t end = json.view().find('\n', jsonAt);
        if (end == std::string_view::npos) Fail("a JSON line missing");
        if (!ReadJsonLine(json.view().substr(jsonAt, end - jsonAt), values, keys)) {
            Fail("a JSON line that does not read back:", json.view().substr(jsonAt, end - jsonAt));
        }
        jsonAt = end + 1;
        // JSON's time is CSV's with a "T" between date and time, and the offset.
        if (values.size() > 0 && values[0].size() >= 25 && values[0][10] == 'T') {
            values[0] = values[0].substr(0, 10) + " " + values[0].substr(11, 8);
        }
        for (std::size_t f = 0; f < std::size(kFields); ++f) {
            if (f >= keys.size() || keys[f] != kFields[f] || values[f] != fields[f]) {
                Fail("CSV and JSON differ in", kFields[f]);
            }
        }
    }
    if (csvAt != csv.size() || jsonAt != json.size()) Fail("more rows than records");

    // Last seen, the last day's timeline, the report.
    for (const auto& [key, contact] : seen.contacts()) {
        if (!ValidUtf8(format.Who(contact.last))) Fail("a contact's name that is not UTF-8");
    }
    if (!records.empty()) {
        const plumeta::LocalTime& last = records.back().time;
        DayTimeline day(last.year, last.month, last.day);
        for (const LogRecord& r : records) day.Add(r);
        const std::string svg = day.Svg(format);
        if (!ValidUtf8(svg)) Fail("an SVG that is not UTF-8");
        CheckMarkup(svg, "SVG");
    }
    report.AddFile(g_path, "");
    report.StartTimelines();
    for (const LogRecord& r : records) report.AddToTimelines(r);
    report.FinishTimelines();
    const std::string page = report.Html(format);
    if (!ValidUtf8(page)) Fail("a page that is not UTF-8");
    CheckMarkup(page, "page");
    if (Count(page, "<details") > static_cast<std::size_t>(kTimelineDays)) Fail("more than seven days drawn");
    for (std::size_t at = page.find("data-heat=\""); at != std::string::npos; at = page.find("data-heat=\"", at + 1)) {
        int share = 0;
        for (std::size_t i = at + 11; page[i] != '"'; ++i) {
            share = page[i] == ',' ? 0 : share * 10 + (page[i] - '0');
            if (share > 100) Fail("a share above 100 %");
        }
        const std::size_t end = page.find("</section>", at);
        if (Count(page.substr(at, end - at), "<li data-time=") > kMaxDescriptions) Fail("more than 20 descriptions");
    }
    return 0;
}
