#include "recorder/status_words.h"

namespace plumeta {
namespace {

// [0] masculine (marks '0' and '2'), [1] feminine (mark '1'). The own
// vocabulary differs from the contacts' for 33, 34, 64 and 67 on purpose.
struct StatusWords {
    uint32_t status;
    const char* contact[2];
    const char* own[2];
    const char* log[2];
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

struct Network {
    uint32_t number;
    char text[3];  // the first two characters of its ContactNet text
    const char* name;
    const char* prefix;  // opens an own change's history entry
};
constexpr Network kNetworks[] = {
    {10, "10", "GG", "GG: "},
    {12, "12", "JABBER", "JABBER: "},
    {15, "15", "LAN", "LAN: "},
};

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
    return Lookup(status, mark, &StatusWords::log);
}

bool HasStatusWord(uint32_t status) { return FindStatus(status) != nullptr; }

const char* NetworkName(uint32_t network) {
    const Network* known = FindNetwork(network);
    return known ? known->name : "";
}

const char* NetworkNameOfText(const char* netText) {
    if (!netText || netText[0] == '\0') return "";
    for (const Network& known : kNetworks) {
        if (netText[0] == known.text[0] && netText[1] == known.text[1]) return known.name;
    }
    return "";
}

std::optional<LogWordMeaning> MatchLogWord(std::string_view text, std::size_t& length) {
    std::optional<LogWordMeaning> found;
    length = 0;
    for (const StatusWords& words : kStatusWords) {
        const bool oneWord = std::string_view(words.log[0]) == words.log[1];
        for (int form = 0; form < 2; ++form) {
            const std::string_view word = words.log[form];
            if (word.size() > length && text.substr(0, word.size()) == word) {
                length = word.size();
                found = LogWordMeaning{words.status, oneWord ? '\0' : "mf"[form]};
            }
        }
    }
    return found;
}

std::optional<uint32_t> NetworkNumberOfName(std::string_view name) {
    for (const Network& known : kNetworks) {
        if (name == known.name) return known.number;
    }
    return std::nullopt;
}

const char* NetPrefix(uint32_t network) {
    const Network* known = FindNetwork(network);
    return known ? known->prefix : "";
}

}  // namespace plumeta
