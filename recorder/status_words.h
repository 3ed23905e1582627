// Words for a presence status, by status code and gender mark, in the three
// vocabularies of the module: contacts' history entries, the user's own
// history entries, and the log file. Also the names of the known networks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace plumeta {

// Each answers a constant text, "" for a code or mark it has no word for.
// The mark is the first character of the ContactGender cell: '0' and '2'
// masculine, '1' feminine.
const char* ContactStatusWord(uint32_t status, char mark);
const char* OwnStatusWord(uint32_t status, char mark);
const char* LogStatusWord(uint32_t status, char mark);
// Whether `status` is one of the codes the vocabularies have words for.
bool HasStatusWord(uint32_t status);

// Network name ("GG", "JABBER", "LAN") by network number, or by the first two
// characters of a ContactNet text ("105" counts as 10); "" when unknown.
const char* NetworkName(uint32_t network);
const char* NetworkNameOfText(const char* netText);
// "GG: " and the like; "" for an unknown network.
const char* NetPrefix(uint32_t network);

// Reading the log back, through the same tables it is written from.
struct LogWordMeaning {
    uint32_t status;  // the first code with that word: 65 for "zaraz wracam", which 68 shares
    char form;        // 'm' or 'f' where the two forms differ; 0 where they are one word
};
// The longest log word that `text` begins with, and its `length`.
std::optional<LogWordMeaning> MatchLogWord(std::string_view text, std::size_t& length);
// The log word that `text` is, whole: what MatchLogWord finds where the
// word's end is known.
std::optional<LogWordMeaning> ExactLogWord(std::string_view text);
// The network number of a name ("GG", "JABBER", "LAN").
std::optional<uint32_t> NetworkNumberOfName(std::string_view name);

}  // namespace plumeta
