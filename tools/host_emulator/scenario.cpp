#include "tools/host_emulator/scenario.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <vector>

#include "host/host_link.h"
#include "settings/columns.h"

namespace emulator {
namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr uint32_t kMaxRepeat = 100000000;

struct Token {
    std::string value;  // a word as written, or a text in Windows-1250
    bool quoted = false;
};

// Length of the UTF-8 sequence at `at`, or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3
                             : lead >> 3 == 0x1E ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// A word of the scenario as an error message may show it: control bytes and
// what is not UTF-8 as \xHH.
std::string Printable(const std::string& word) {
    std::string shown;
    for (std::size_t i = 0; i < word.size();) {
        const unsigned char byte = static_cast<unsigned char>(word[i]);
        const std::size_t length = Utf8Length(word, i);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
            ++i;
        } else {
            shown.append(word, i, length);
            i += length;
        }
    }
    return shown;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the text that starts after the quote at `i`: its UTF-8 parts are
// converted to Windows-1250, its escapes put in as the bytes they name.
// Answers an error, or "".
std::string ReadText(const std::string& line, std::size_t& i,
                     const plumeta::Cp1250Converter& codepage, Token& token) {
    std::string run;  // UTF-8 not yet converted
    auto flush = [&]() {
        const std::optional<std::string> converted = codepage.ToCp1250(run);
        run.clear();
        if (!converted) return false;
        token.value += *converted;
        return true;
    };
    const char* const kBadText = "text is not UTF-8 or has a letter Windows-1250 lacks";
    for (;;) {
        if (i >= line.size()) return "text without its closing quote";
        const char c = line[i++];
        if (c == '"') return flush() ? "" : kBadText;
        if (c != '\\') {
            run += c;
            continue;
        }
        if (i >= line.size()) return "text without its closing quote";
        const char e = line[i++];
        const char* simple = nullptr;
        switch (e) {
            case 'n': simple = "\n"; break;
            case 'r': simple = "\r"; break;
            case 't': simple = "\t"; break;
            case '"': simple = "\""; break;
            case '\\': simple = "\\"; break;
            case 'x': break;
            default: return "unknown escape \\" + Printable(std::string(1, e));
        }
        if (simple) {
            run += simple;
            continue;
        }
        const int high = i < line.size() ? HexDigit(line[i]) : -1;
        const int low = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return "\\x needs two hex digits, 01 to FF";
        }
        if (!flush()) return kBadText;
        token.value += static_cast<char>(high * 16 + low);
        i += 2;
    }
}

// Splits a line into words and texts. Answers an error, or "".
std::string Tokenize(const std::string& line, const plumeta::Cp1250Converter& codepage,
                     std::vector<Token>& tokens) {
    if (line.find('\0') != std::string::npos) return "a NUL byte in the line (write \\xHH in a text)";
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token token{"", true};
            ++i;
            const std::string bad = ReadText(line, i, codepage, token);
            if (!bad.empty()) return bad;
            tokens.push_back(token);
        } else {
            Token token;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
                token.value += line[i++];
            }
            tokens.push_back(token);
        }
    }
    return "";
}

struct Shape {
    const char* word;
    Directive::Kind kind;
    const char* usage;
};
constexpr Shape kShapes[] = {
    {"setting", Directive::Kind::Setting, "setting COLUMN VALUE"},
    {"contact", Directive::Kind::Contact, "contact ROW COLUMN VALUE"},
    {"plugin", Directive::Kind::Plugin, "plugin ID net NUMBER"},
    {"default-target", Directive::Kind::DefaultTarget, "default-target ID"},
    {"speech", Directive::Kind::Speech, "speech on|off"},
    {"may-record", Directive::Kind::MayRecord, "may-record NUMBER"},
    {"default-log-name", Directive::Kind::DefaultLogName, "default-log-name \"TEXT\""},
    {"status", Directive::Kind::Status, "status ROW CODE [\"DESCRIPTION\"]"},
    {"own", Directive::Kind::Own, "own ID CODE [\"DESCRIPTION\"]"},
    {"edit", Directive::Kind::Edit, "edit COLUMN \"TEXT\""},
    {"pages", Directive::Kind::Pages, "pages"},
    {"message", Directive::Kind::Message, "message ID"},
    {"hold", Directive::Kind::Hold, "hold \"FILE\" read|lock"},
    {"free", Directive::Kind::Free, "free \"FILE\""},
    {"show", Directive::Kind::Show, "show \"FILE\""},
    {"reload", Directive::Kind::Reload, "reload"},
};

// Reads the words of one directive, starting at `first`.
class Fields {
public:
    Fields(const std::vector<Token>& tokens, std::size_t first) : t_(tokens), at_(first) {}

    // A whole number from `min` to `max` named `what`.
    bool Number(const char* what, int64_t min, int64_t max, int64_t& out) {
        if (at_ >= t_.size()) return Missing();
        const Token& token = t_[at_];
        const char* begin = token.value.data();
        const char* end = begin + token.value.size();
        const auto [stop, error] = std::from_chars(begin, end, out);
        if (token.quoted || token.value.empty() || error != std::errc() || stop != end ||
            out < min || out > max) {
            problem_ = std::string(what) + " must be a whole number from " + std::to_string(min) +
                       " to " + std::to_string(max) + ", not " + Shown(token);
            return false;
        }
        ++at_;
        return true;
    }
    bool Unsigned(const char* what, uint32_t& out) {
        int64_t value = 0;
        if (!Number(what, 0, std::numeric_limits<uint32_t>::max(), value)) return false;
        out = static_cast<uint32_t>(value);
        return true;
    }
    bool Signed(const char* what, int32_t& out) {
        int64_t value = 0;
        if (!Number(what, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), value)) {
            return false;
        }
        out = static_cast<int32_t>(value);
        return true;
    }
    bool Column(uint32_t& out) {
        if (at_ >= t_.size() || t_[at_].quoted) return Missing();
        const std::optional<uint32_t> id = ColumnByName(t_[at_].value);
        if (!id) {
            problem_ = "unknown column " + Shown(t_[at_]);
            return false;
        }
        out = *id;
        ++at_;
        return true;
    }
    bool Text(std::optional<std::string>& out) {
        if (at_ >= t_.size() || !t_[at_].quoted) return Missing();
        out = t_[at_++].value;
        return true;
    }
    bool Word(const char* word) {
        if (at_ >= t_.size() || t_[at_].quoted || t_[at_].value != word) return Missing();
        ++at_;
        return true;
    }
    // A 32-bit integer or a text.
    bool Value(Directive& d) {
        if (at_ < t_.size() && t_[at_].quoted) return Text(d.text);
        return Signed("VALUE", d.number);
    }
    bool OptionalText(std::optional<std::string>& out) { return at_ == t_.size() || Text(out); }
    bool End() { return at_ == t_.size() || Missing(); }
    const std::string& problem() const { return problem_; }

private:
    bool Missing() {
        if (problem_.empty()) problem_ = "missing";
        return false;
    }
    static std::string Shown(const Token& token) {
        return "\"" + Printable(token.value) + "\"";
    }
    const std::vector<Token>& t_;
    std::size_t at_;
    std::string problem_;
};

bool IsTextColumn(uint32_t column) {
    for (const plumeta::ColumnSpec& known : plumeta::kColumns) {
        if (known.id == column) return known.valueType == plumeta::kValueText;
    }
    return false;
}

// Fills `d` from the words after the directive's name.
bool Fill(Directive& d, Fields& f) {
    using Kind = Directive::Kind;
    switch (d.kind) {
        case Kind::Setting: return f.Column(d.column) && f.Value(d) && f.End();
        case Kind::Contact: return f.Unsigned("ROW", d.row) && f.Column(d.column) && f.Value(d) && f.End();
        case Kind::Plugin:
            return f.Unsigned("ID", d.row) && f.Word("net") && f.Signed("NUMBER", d.number) && f.End();
        case Kind::DefaultTarget: return f.Unsigned("ID", d.row) && f.End();
        case Kind::Speech:
            if (f.Word("on")) {
                d.number = 1;
                return f.End();
            }
            return f.Word("off") && f.End();
        case Kind::MayRecord: return f.Signed("NUMBER", d.number) && f.End();
        case Kind::DefaultLogName: return f.Text(d.text) && f.End();
        case Kind::Status:
        case Kind::Own:
            return f.Unsigned(d.kind == Kind::Status ? "ROW" : "ID", d.row) &&
                   f.Unsigned("CODE", d.column) && f.OptionalText(d.text) && f.End();
        case Kind::Edit: return f.Column(d.column) && f.Text(d.text) && f.End();
        case Kind::Pages: return f.End();
        case Kind::Message: return f.Unsigned("ID", d.column) && f.End();
        case Kind::Hold:
            if (!f.Text(d.text)) return false;
            if (f.Word("lock")) {
                d.number = 1;
                return f.End();
            }
            return f.Word("read") && f.End();
        case Kind::Free:
        case Kind::Show: return f.Text(d.text) && f.End();
        case Kind::Reload: return f.End();
    }
    return false;
}

// Reads one directive from `tokens` at `first`. Answers an error, or "".
std::string Parse(const std::vector<Token>& tokens, std::size_t first, Directive& d) {
    if (!tokens[first].quoted && tokens[first].value == "background") {
        Fields count(tokens, first + 1);
        int64_t times = 0;
        constexpr const char* usage = "expected: background COUNT status ROW CODE [\"TEXT\"]";
        if (!count.Number("COUNT", 1, kMaxRepeat, times)) return count.problem() == "missing" ? usage : count.problem();
        if (first + 2 >= tokens.size() || tokens[first + 2].quoted || tokens[first + 2].value != "status") return usage;
        const std::string inner = Parse(tokens, first + 2, d);
        d.repeat = static_cast<uint32_t>(times);
        d.background = true;
        return inner;
    }
    if (!tokens[first].quoted && tokens[first].value == "repeat") {
        Fields count(tokens, first + 1);
        int64_t times = 0;
        if (!count.Number("COUNT", 1, kMaxRepeat, times)) {
            return count.problem() == "missing" ? "expected: repeat COUNT DIRECTIVE" : count.problem();
        }
        if (first + 2 >= tokens.size()) return "expected: repeat COUNT DIRECTIVE";
        if (!tokens[first + 2].quoted && tokens[first + 2].value == "repeat") {
            return "repeat cannot repeat a repeat";
        }
        const std::string inner = Parse(tokens, first + 2, d);
        d.repeat = static_cast<uint32_t>(times);
        return inner;
    }
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        if (!tokens[first].quoted && tokens[first].value == candidate.word) shape = &candidate;
    }
    if (!shape) return "unknown directive \"" + Printable(tokens[first].value) + "\"";
    d = Directive{};
    d.kind = shape->kind;
    Fields fields(tokens, first + 1);
    if (!Fill(d, fields)) {
        return fields.problem() == "missing" ? std::string("expected: ") + shape->usage : fields.problem();
    }
    if (d.kind == Directive::Kind::Edit && !IsTextColumn(d.column)) {
        return "edit needs a text column of the module, not " + ColumnName(d.column);
    }
    return "";
}

}  // namespace

ScenarioReader::ScenarioReader(const std::string& path, const plumeta::Cp1250Converter& codepage)
    : path_(path), codepage_(codepage) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error_ = path + ": is a folder, not a scenario file";
        return;
    }
    file_.open(path, std::ios::binary);
    if (!file_) error_ = path + ": cannot be read";
}

bool ScenarioReader::Next(Directive& directive) {
    if (!error_.empty()) return false;
    std::string line;
    while (std::getline(file_, line)) {
        ++lineNumber_;
        if (lineNumber_ == 1 && line.compare(0, 3, kByteOrderMark) == 0) line.erase(0, 3);
        const std::string where = path_ + ":" + std::to_string(lineNumber_) + ": ";
        std::vector<Token> tokens;
        std::string bad = Tokenize(line, codepage_, tokens);
        if (bad.empty() && tokens.empty()) continue;
        if (bad.empty()) bad = Parse(tokens, 0, directive);
        if (!bad.empty()) {
            error_ = where + bad;
            return false;
        }
        return true;
    }
    if (file_.bad() || !file_.eof()) error_ = path_ + ": read error after line " + std::to_string(lineNumber_);
    return false;
}

std::string CheckScenario(const std::string& path, const plumeta::Cp1250Converter& codepage) {
    ScenarioReader reader(path, codepage);
    Directive ignored;
    while (reader.Next(ignored)) {
    }
    return reader.error();
}

std::optional<uint32_t> ColumnByName(const std::string& word) {
    for (const plumeta::ColumnSpec& column : plumeta::kColumns) {
        if (word == column.name) return column.id;
    }
    for (const plumeta::ContactCellName& cell : plumeta::kContactCells) {
        if (word == cell.name) return cell.id;
    }
    uint32_t number = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, number);
    if (word.empty() || error != std::errc() || stop != end) return std::nullopt;
    return number;
}

std::string ColumnName(uint32_t column) {
    for (const plumeta::ColumnSpec& known : plumeta::kColumns) {
        if (known.id == column) return known.name;
    }
    for (const plumeta::ContactCellName& cell : plumeta::kContactCells) {
        if (cell.id == column) return cell.name;
    }
    return std::to_string(column);
}

}  // namespace emulator
