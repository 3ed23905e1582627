#include "reader/log_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace plumeta::reader {
namespace {

struct Parsed {
    LineKind kind;
    const char* name = "";
    const char* id = "";
    const char* network = "";
    int status = -1;  // -1: none
    char gender = 0;
    const char* description = nullptr;  // null: none
    bool open = false;
};

// The precedence rules, on lines with "(", "@", ")", " [" and "]" where a
// name, identifier or description may hold them.
TEST(LogReader, ParsesLinesByPrecedence) {
    struct Row {
        const char* line;
        Parsed want;
    };
    const Row rows[] = {
        {"07.03 13:05.09 Ania(123@JABBER) zmienila status na dostepna [w domu]",
         {LineKind::Record, "Ania", "123", "JABBER", 64, 'f', "w domu", false}},
        {"07.03 13:05.09 \xA3ukasz(555@LAN@GG) zmienil status na ukryty",
         {LineKind::Record, "\xA3ukasz", "555@LAN", "GG", 66, 'm', nullptr, false}},
        {"07.03 13:05.09 Ewa(e@GG)@JABBER) zmienila status na freeForChat",
         {LineKind::Record, "Ewa", "e@GG)", "JABBER", 67, 'f', nullptr, false}},
        {"07.03 13:05.09 Tomek(t@x)(99 zmienil status na dostepny [(nie)obecny]",
         {LineKind::Record, "Tomek(t@x)", "99", "", 64, 'm', "(nie)obecny", false}},
        {"07.03 13:05.09 Kasia (praca)(k@GG) [spotkanie [pilne] do 12]",
         {LineKind::Record, "Kasia (praca)", "k", "GG", -1, 0, "spotkanie [pilne] do 12", false}},
        {"07.03 13:05.09 Ola [x](7 [opis",
         {LineKind::Record, "Ola [x]", "7", "", -1, 0, "opis", true}},
        {"07.03 13:05.09 (@LAN)", {LineKind::Record, "", "", "LAN", -1, 0, nullptr, false}},
        {"07.03 13:05.09 Jan(1 zmienil status na zaraz wracam []",
         {LineKind::Record, "Jan", "1", "", 65, 'm', "", false}},
        {"Zmianiles status 31.12 23:59.59 na sieci GG na niedost\xEApna",
         {LineKind::Record, "", "", "GG", 0, 'f', nullptr, false}},
        {"Zmianiles status 01.01 00:00.00 na sieci  na  [opis]",
         {LineKind::Record, "", "", "", -1, 0, "opis", false}},
        {"Zmianiles status 01.01 00:00.00 na sieci XX na dostepny", {LineKind::Unplaceable}},
        {"07.03 13:05.09 Bez nawiasu zmienil status na dostepny", {LineKind::Unplaceable}},
        {"07.03 25:05.09 Ania(1@GG)", {LineKind::Continuation}},
        {"Druga linia]", {LineKind::Continuation}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        LogRecord record;
        bool open = false;
        const char* why = "";
        ASSERT_EQ(ParseLine(row.line, record, open, why), row.want.kind);
        if (row.want.kind != LineKind::Record) continue;
        EXPECT_EQ(record.name, row.want.name);
        EXPECT_EQ(record.id, row.want.id);
        EXPECT_EQ(record.network, row.want.network);
        EXPECT_EQ(record.status ? static_cast<int>(*record.status) : -1, row.want.status);
        EXPECT_EQ(record.gender, row.want.gender);
        EXPECT_EQ(record.described, row.want.description != nullptr);
        if (row.want.description) {
            EXPECT_EQ(record.description, row.want.description);
        }
        EXPECT_EQ(open, row.want.open);
    }
}

}  // namespace
}  // namespace plumeta::reader
