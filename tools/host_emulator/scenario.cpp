#include "tools/host_emulator/scenario.h"

#include <cstdlib>
#include <fstream>

#include "settings/columns.h"

namespace emulator {
namespace {

struct Token {
    std::string value;
    bool quoted = false;
};

// Splits a line into words and quoted texts (still UTF-8). Answers an error
// text, or "" when the line was read.
std::string Tokenize(const std::string& line, std::vector<Token>& tokens) {
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
            for (;;) {
                if (i >= line.size()) return "text without its closing quote";
                char d = line[i++];
                if (d == '"') break;
                if (d != '\\') {
                    token.value += d;
                    continue;
                }
                if (i >= line.size()) return "text without its closing quote";
                d = line[i++];
                switch (d) {
                    case 'n': token.value += '\n'; break;
                    case 'r': token.value += '\r'; break;
                    case 't': token.value += '\t'; break;
                    case '"': token.value += '"'; break;
                    case '\\': token.value += '\\'; break;
                    case 'x': {
                        const std::string hex = line.substr(i, 2);
                        char* end = nullptr;
                        const long byte = std::strtol(hex.c_str(), &end, 16);
                        if (hex.size() != 2 || *end != '\0' || byte == 0) {
                            return "\\x needs two hex digits, not 00";
                        }
                        token.value += static_cast<char>(byte);
                        i += 2;
                        break;
                    }
                    default:
                        return std::string("unknown escape \\") + d;
                }
            }
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

std::optional<int64_t> Integer(const Token& token) {
    if (token.quoted || token.value.empty()) return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(token.value.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return value;
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
};

// Fills `d` from the words after the directive's name; answers false when
// they do not fit its usage.
bool Fill(Directive& d, const std::vector<Token>& t, std::string& problem) {
    using Kind = Directive::Kind;
    const std::size_t n = t.size();
    auto number = [&](std::size_t i, auto& into) {
        if (i >= n) return false;
        const std::optional<int64_t> value = Integer(t[i]);
        if (!value) return false;
        into = static_cast<std::remove_reference_t<decltype(into)>>(*value);
        return true;
    };
    auto column = [&](std::size_t i) {
        if (i >= n || t[i].quoted) return false;
        const std::optional<uint32_t> id = ColumnByName(t[i].value);
        if (!id) {
            problem = "unknown column \"" + t[i].value + "\"";
            return false;
        }
        d.column = *id;
        return true;
    };
    auto value = [&](std::size_t i) {
        if (i >= n) return false;
        if (t[i].quoted) {
            d.text = t[i].value;
            return true;
        }
        return number(i, d.number);
    };
    auto optionalText = [&](std::size_t i) {
        if (i == n) return true;
        if (i + 1 != n || !t[i].quoted) return false;
        d.text = t[i].value;
        return true;
    };
    switch (d.kind) {
        case Kind::Setting: return column(1) && value(2) && n == 3;
        case Kind::Contact: return number(1, d.row) && column(2) && value(3) && n == 4;
        case Kind::Plugin:
            return number(1, d.row) && n == 4 && t[2].value == "net" && number(3, d.number);
        case Kind::DefaultTarget: return number(1, d.row) && n == 2;
        case Kind::Speech:
            d.number = n == 2 && t[1].value == "on";
            return n == 2 && (t[1].value == "on" || t[1].value == "off");
        case Kind::MayRecord: return number(1, d.number) && n == 2;
        case Kind::DefaultLogName: return n == 2 && t[1].quoted && value(1);
        case Kind::Status:
        case Kind::Own: return number(1, d.row) && number(2, d.column) && optionalText(3);
        case Kind::Edit: return column(1) && n == 3 && t[2].quoted && value(2);
        case Kind::Pages: return n == 1;
        case Kind::Message: return number(1, d.column) && n == 2;
    }
    return false;
}

}  // namespace

std::optional<uint32_t> ColumnByName(const std::string& word) {
    for (const plumeta::ColumnSpec& column : plumeta::kColumns) {
        if (word == column.name) return column.id;
    }
    for (const plumeta::ContactCellName& cell : plumeta::kContactCells) {
        if (word == cell.name) return cell.id;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0') return std::nullopt;
    return static_cast<uint32_t>(number);
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

bool ReadScenario(const std::string& path, const plumeta::Cp1250Converter& codepage,
                  std::vector<Directive>& out, ScenarioError& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error.message = path + ": cannot be read";
        return false;
    }
    std::vector<Directive> directives;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        std::vector<Token> tokens;
        const std::string bad = Tokenize(line, tokens);
        if (!bad.empty()) {
            error.message = where + bad;
            return false;
        }
        if (tokens.empty()) continue;
        const Shape* shape = nullptr;
        for (const Shape& candidate : kShapes) {
            if (!tokens[0].quoted && tokens[0].value == candidate.word) shape = &candidate;
        }
        if (!shape) {
            error.message = where + "unknown directive \"" + tokens[0].value + "\"";
            return false;
        }
        Directive directive(shape->kind);
        std::string problem;
        if (!Fill(directive, tokens, problem)) {
            error.message = where + (problem.empty() ? std::string("expected: ") + shape->usage : problem);
            return false;
        }
        if (directive.text) {
            const std::optional<std::string> converted = codepage.ToCp1250(*directive.text);
            if (!converted) {
                error.message = where + "text is not UTF-8 or has a letter Windows-1250 lacks";
                return false;
            }
            directive.text = converted;
        }
        directives.push_back(directive);
    }
    out = std::move(directives);
    return true;
}

}  // namespace emulator
