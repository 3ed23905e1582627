#include "recorder/status_words.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace plumeta {
namespace {

// Expected words as Windows-1250 bytes: e-ogonek 0xEA, a-ogonek 0xB9,
// c-acute 0xE6.
struct Row {
    uint32_t status;
    const char* contactHe;
    const char* contactShe;
    const char* ownHe;
    const char* ownShe;
    const char* logHe;
    const char* logShe;
};
const Row kRows[] = {
    {0, "Niedost\xEApny", "Niedost\xEApna", "Niedost\xEApny", "Niedost\xEApna", "niedost\xEApny", "niedost\xEApna"},
    {1, "Zablokowany", "Zablokowana", "Zablokowany", "Zablokowana", "zablokowany", "zablokowana"},
    {33, "Nie osi\xB9galny", "Nie osi\xB9galna", "Not-available", "Not-available", "not-available", "not-available"},
    {34, "Nie przeszkadza\xE6", "Nie przeszkadza\xE6", "Nie przeszkadzac", "Nie przeszkadzac", "nie przeszkadzac", "nie przeszkadzac"},
    {64, "Dost\xEApny", "Dost\xEApna", "Dostepny", "Dostepna", "dostepny", "dostepna"},
    {65, "Zaraz wracam", "Zaraz wracam", "Zaraz wracam", "Zaraz wracam", "zaraz wracam", "zaraz wracam"},
    {66, "Ukryty", "Ukryta", "Ukryty", "Ukryta", "ukryty", "ukryta"},
    {67, "Chc\xEA pogada\xE6", "Chc\xEA pogada\xE6", "FreeForChat", "FreeForChat", "freeForChat", "freeForChat"},
    {68, "Zaraz wracam", "Zaraz wracam", "Zaraz wracam", "Zaraz wracam", "zaraz wracam", "zaraz wracam"},
};

TEST(StatusWords, EveryCodeAndMark) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.status);
        EXPECT_TRUE(HasStatusWord(row.status));
        for (char he : {'0', '2'}) {
            EXPECT_STREQ(ContactStatusWord(row.status, he), row.contactHe);
            EXPECT_STREQ(OwnStatusWord(row.status, he), row.ownHe);
            EXPECT_STREQ(LogStatusWord(row.status, he), row.logHe);
        }
        EXPECT_STREQ(ContactStatusWord(row.status, '1'), row.contactShe);
        EXPECT_STREQ(OwnStatusWord(row.status, '1'), row.ownShe);
        EXPECT_STREQ(LogStatusWord(row.status, '1'), row.logShe);
        for (char unknown : {'3', 'x', 'M', '\0'}) {
            EXPECT_STREQ(ContactStatusWord(row.status, unknown), "");
            EXPECT_STREQ(OwnStatusWord(row.status, unknown), "");
            EXPECT_STREQ(LogStatusWord(row.status, unknown), "");
        }
    }
}

TEST(StatusWords, CodesWithoutWords) {
    for (uint32_t status : {2u, 32u, 69u, 241u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(status);
        EXPECT_FALSE(HasStatusWord(status));
        for (char mark : {'0', '1', '2'}) {
            EXPECT_STREQ(ContactStatusWord(status, mark), "");
            EXPECT_STREQ(OwnStatusWord(status, mark), "");
            EXPECT_STREQ(LogStatusWord(status, mark), "");
        }
    }
}

TEST(StatusWords, Networks) {
    struct Net {
        uint32_t number;
        const char* prefix;
        const char* name;
    };
    const Net nets[] = {{10, "GG: ", "GG"}, {12, "JABBER: ", "JABBER"}, {15, "LAN: ", "LAN"},
                        {0, "", ""},        {267, "", ""},              {13, "", ""}};
    for (const Net& net : nets) {
        SCOPED_TRACE(net.number);
        EXPECT_STREQ(NetPrefix(net.number), net.prefix);
        EXPECT_STREQ(NetworkName(net.number), net.name);
    }
    // By text, only the first two characters count.
    struct Text {
        const char* text;
        const char* name;
    };
    const Text texts[] = {{"10", "GG"}, {"105", "GG"}, {"12", "JABBER"}, {"15x", "LAN"}, {"13", ""},
                          {"1", ""},    {"", ""},       {nullptr, ""},     {"0", ""}};
    for (const Text& text : texts) {
        SCOPED_TRACE(text.text ? text.text : "null");
        EXPECT_STREQ(NetworkNameOfText(text.text), text.name);
    }
}

}  // namespace
}  // namespace plumeta

namespace plumeta {
namespace {

// Every log word reads back as the code it was written for (68 shares 65's
// words) and, where the two forms differ, as its form.
TEST(StatusWords, LogWordsReadBack) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.status);
        const uint32_t status = row.status == 68 ? 65 : row.status;
        const bool oneWord = std::string(row.logHe) == row.logShe;
        for (const auto& [word, form] : {std::pair{row.logHe, 'm'}, std::pair{row.logShe, 'f'}}) {
            std::size_t length = 0;
            const std::optional<LogWordMeaning> meaning = MatchLogWord(std::string(word) + " [x]", length);
            ASSERT_TRUE(meaning);
            EXPECT_EQ(meaning->status, status);
            EXPECT_EQ(meaning->form, oneWord ? '\0' : form);
            EXPECT_EQ(length, std::strlen(word));
        }
    }
    std::size_t length = 1;
    EXPECT_FALSE(MatchLogWord("dost", length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(NetworkNumberOfName("JABBER"), std::optional<uint32_t>(12));
    EXPECT_EQ(NetworkNumberOfName("GG: "), std::nullopt);
}

}  // namespace
}  // namespace plumeta
