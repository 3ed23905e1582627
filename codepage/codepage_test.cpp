#include "codepage/codepage.h"

#include <gtest/gtest.h>

namespace plumeta {
namespace {

// Every Polish letter, both ways; the bytes are Windows-1250.
TEST(Codepage, PolishLettersBothWays) {
    struct Row {
        const char* cp1250;
        const char* utf8;
    };
    const Row rows[] = {
        {"\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF", "\xC4\x85\xC4\x87\xC4\x99\xC5\x82\xC5\x84\xC3\xB3\xC5\x9B\xC5\xBA\xC5\xBC"},
        {"\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF", "\xC4\x84\xC4\x86\xC4\x98\xC5\x81\xC5\x83\xC3\x93\xC5\x9A\xC5\xB9\xC5\xBB"},
        {"plain ASCII\t\x1A", "plain ASCII\t\x1A"},
        {"\x80 \x84", "\xE2\x82\xAC \xE2\x80\x9E"},  // euro sign, low quotation mark
        {"", ""},
    };
    const Cp1250Converter codepage;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.utf8);
        EXPECT_EQ(codepage.ToUtf8(row.cp1250), row.utf8);
        EXPECT_EQ(codepage.ToCp1250(row.utf8), std::optional<std::string>(row.cp1250));
    }
}

TEST(Codepage, WhatCannotBeConverted) {
    const Cp1250Converter codepage;
    // Bytes that Windows-1250 leaves unassigned read as U+FFFD.
    EXPECT_EQ(codepage.ToUtf8("a\x81" "b\x98"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(codepage.ToCp1250("\xC3\xA0"), std::nullopt) << "a-grave has no byte";
    EXPECT_EQ(codepage.ToCp1250("\xD0\xB6"), std::nullopt) << "Cyrillic zhe has no byte";
    EXPECT_EQ(codepage.ToCp1250("bad \xC5"), std::nullopt) << "cut UTF-8";
    EXPECT_EQ(codepage.ToCp1250("\xFF"), std::nullopt) << "not UTF-8";
}

}  // namespace
}  // namespace plumeta
