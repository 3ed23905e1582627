#include "recorder/status_words.h"

#include <cstring>
#include <iterator>

namespace plumeta {
namespace {

// [0] masculine (marks '0' and '2'), [1] feminine (mark '1'). The own
// vocabulary differs from the contacts' for 33, 34, 64 and 67 on purpose.
// The log's words carry their lengths: readers of the log look them up in
// every line.
struct StatusWords {
    uint32_t status;
    const char* contact[2];
    const char* own[2];
    std::string_view log[2];
};
constexpr StatusWords kStatusWords[] = {
    {0, {"Niedostępny", "Niedostępna"}, {"Niedostępny", "Niedostępna"}, {"niedostępny", "niedostępna"}},
    {1, {"Zablokowany", "Zablokowana"}, {"Zablokowany", "Zablokowana"}, {"zablokowany", "zablokowana"}},
    {33, {"Nie osiągalny", "Nie osiągalna"}, {"Not-available", "Not-available"}, {"not-available", "not-available"}},
    {34, {"Nie przeszkadzać", "Nie przeszkadzać"}, {"Nie przeszkadzac", "Nie przeszkadzac"}, {"nie przeszkadzac", "nie przeszkadzac"}},
    {64, {"Dostępny", "Dostępna"}, {"Dostepny", "Dostepna"}, {"dostepny", "dostepna"}},
    {65, {"Zaraz wracam", "Zaraz wracam"}, {"Zaraz wracam", "Zaraz wracam"}, {"zaraz wracam", "zaraz wracam"}},
    {66, {"Ukryty", "Ukryta"}, {"Ukryty", "Ukryta"}, {"ukryty", "ukryta"}},
    {67, {"Chcę pogadać", "Chcę pogadać"}, {"FreeForChat", "FreeForChat"}, {"freeForChat", "freeForChat"}},
    {68, {"Zaraz wracam", "Zaraz wracam"}, {"Zaraz wracam", "Zaraz wracam"}, {"zaraz wracam", "zaraz wracam"}},
};

// For each first letter, the entries (bits, by index) with a log word that
// begins with it: a reader compares only those.
struct LogWordsByFirstLetter {
    uint16_t entries[256] = {};
    constexpr LogWordsByFirstLetter() {
        for (std::size_t i = 0; i < std::size(kStatusWords); ++i) {
            for (const std::string_view word : kStatusWords[i].log) {
                entries[static_cast<unsigned char>(word[0])] |= static_cast<uint16_t>(1u << i);
            }
        }
    }
};
constexpr LogWordsByFirstLetter kLogWordsByFirstLetter;
static_assert(std::size(kStatusWords) <= 16);

struct Network {
    uint32_t number;
    char text[3];  // the first two characters of its ContactNet text
    std::string_view name;  // a literal, so also NUL-terminated
    const char* prefix;  // opens an own change's history entry
};
constexpr Network kNetworks[] = {
    {10, "10", "GG", "GG: "},
    {12, "12", "JABBER", "JABBER: "},
    {15, "15", "LAN", "LAN: "},
};
constexpr bool NetworkNamesDifferInLength() {
    for (const Network& a : kNetworks) {
        for (const Network& b : kNetworks) {
            if (&a != &b && a.name.size() == b.name.size()) return false;
        }
    }
    return true;
}
static_assert(NetworkNamesDifferInLength(), "NetworkNumberOfName tells the names by their length");

const Network* FindNetwork(uint32_t network) {
    for (const Network& known : kNetworks) {
        if (known.number == network) return &known;
    }
    return nullptr;
}

const StatusWords* FindStatus(uint32_t status) {
    for (const StatusWords& words : kStatusWords) {
        if (words.status == status) return &words;
    }
    return nullptr;
}

// Index into a StatusWords pair, or -1 for a mark without words.
int GenderIndex(char mark) {
    switch (mark) {
        case '0':
        case '2':
            return 0;
        case '1':
            return 1;
        default:
            return -1;
    }
}

using Vocabulary = const char* (StatusWords::*)[2];

const char* Lookup(uint32_t status, char mark, Vocabulary vocabulary) {
    const StatusWords* words = FindStatus(status);
    const int gender = GenderIndex(mark);
    return words && gender >= 0 ? (words->*vocabulary)[gender] : "";
}

}  // namespace

const char* ContactStatusWord(uint32_t status, char mark) {
    return Lookup(status, mark, &StatusWords::contact);
}

const char* OwnStatusWord(uint32_t status, char mark) {
    return Lookup(status, mark, &StatusWords::own);
}

const char* LogStatusWord(uint32_t status, char mark) {
    const StatusWords* words = FindStatus(status);
    const int gender = GenderIndex(mark);
    return words && gender >= 0 ? words->log[gender].data() : "";  // literals: NUL-terminated
}

bool HasStatusWord(uint32_t status) { return FindStatus(status) != nullptr; }

const char* NetworkName(uint32_t network) {
    const Network* known = FindNetwork(network);
    return known ? known->name.data() : "";
}

const char* NetworkNameOfText(const char* netText) {
    if (!netText || netText[0] == '\0') return "";
    for (const Network& known : kNetworks) {
        if (netText[0] == known.text[0] && netText[1] == known.text[1]) return known.name.data();
    }
    return "";
}

std::optional<LogWordMeaning> MatchLogWord(std::string_view text, std::size_t& length) {
    length = 0;
    if (text.empty()) return std::nullopt;
    std::optional<LogWordMeaning> found;
    // Only the entries whose words begin with the text's first letter, each
    // lowest bit first: this runs for every line a reader reads.
    for (unsigned candidates = kLogWordsByFirstLetter.entries[static_cast<unsigned char>(text[0])]; candidates;
         candidates &= candidates - 1) {
        const StatusWords& words = kStatusWords[__builtin_ctz(candidates)];
        std::size_t matched[2] = {0, 0};
        for (int form = 0; form < 2; ++form) {
            const std::string_view word = words.log[form];
            if (word.size() > text.size()) continue;
            std::size_t n = 1;  // compared in place: a call costs more than these few bytes
            while (n < word.size() && word[n] == text[n]) ++n;
            if (n == word.size()) matched[form] = n;
        }
        // Both forms alike: one word, which tells no gender.
        const int form = matched[1] > matched[0];
        if (matched[form] <= length) continue;
        length = matched[form];
        found = LogWordMeaning{words.status, matched[0] == matched[1] ? '\0' : "mf"[form]};
    }
    return found;
}

// For each first letter and length, the first entry with a log word of
// both, or -1: a whole word is looked up at once (no two entries share a
// first letter and a length but 65 and 68, which share their word too).
constexpr std::size_t kLongestLogWord = 24;
struct LogWordsByLetterAndLength {
    int8_t entry[256][kLongestLogWord + 1] = {};
    constexpr LogWordsByLetterAndLength() {
        for (auto& lengths : entry) {
            for (int8_t& e : lengths) e = -1;
        }
        for (std::size_t i = std::size(kStatusWords); i-- > 0;) {
            for (const std::string_view word : kStatusWords[i].log) {
                entry[static_cast<unsigned char>(word[0])][word.size()] = static_cast<int8_t>(i);
            }
        }
    }
};
constexpr LogWordsByLetterAndLength kLogWordsByLetterAndLength;
constexpr bool LogWordsTellByLetterAndLength() {
    for (const StatusWords& a : kStatusWords) {
        for (const StatusWords& b : kStatusWords) {
            for (const std::string_view x : a.log) {
                for (const std::string_view y : b.log) {
                    if (x.size() > kLongestLogWord) return false;
                    const bool alike = x[0] == y[0] && x.size() == y.size();
                    if (alike && &a != &b && x != y && a.log[0] != b.log[0]) return false;
                }
            }
        }
    }
    return true;
}
static_assert(LogWordsTellByLetterAndLength(), "ExactLogWord tells the words by first letter and length");

std::optional<LogWordMeaning> ExactLogWord(std::string_view text) {
    if (text.empty() || text.size() > kLongestLogWord) return std::nullopt;
    const int entry = kLogWordsByLetterAndLength.entry[static_cast<unsigned char>(text[0])][text.size()];
    if (entry < 0) return std::nullopt;
    const StatusWords& words = kStatusWords[entry];
    for (int form = 0; form < 2; ++form) {
        const std::string_view word = words.log[form];
        if (word.size() == text.size() && std::memcmp(word.data(), text.data(), word.size()) == 0) {
            return LogWordMeaning{words.status, words.log[0] == words.log[1] ? '\0' : "mf"[form]};
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> NetworkNumberOfName(std::string_view name) {
    // Readers ask on every line: the names differ in length, so that tells
    // which one to compare.
    for (const Network& known : kNetworks) {
        if (name.size() == known.name.size()) {
            return std::memcmp(name.data(), known.name.data(), name.size()) == 0 ? std::optional<uint32_t>(known.number)
                                                                                    : std::nullopt;
        }
    }
    return std::nullopt;
}

const char* NetPrefix(uint32_t network) {
    const Network* known = FindNetwork(network);
    return known ? known->prefix : "";
}

}  // namespace plumeta
