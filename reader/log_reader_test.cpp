#include "reader/log_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "recorder/status_log.h"
#include "tests/fake_host.h"

namespace plumeta::reader {
namespace {

namespace fs = std::filesystem;

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

// Every line the plug-in writes for realistic names reads back as what was
// written: the plug-in's own writer, then the reader.
TEST(LogReader, ReadsBackWhatThePluginWrites) {
    const fs::path dir = fs::temp_directory_path() / ("plumeta-reader-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    testing::FakeHost host;
    host.SetSetting(267603, 1);
    host.SetSettingText(267604, (dir / "log").string());
    host.SetContact(1, 267600, 1);
    testing::fixedMoment = testing::LocalMoment(2026, 3, 7, 13, 5, 9);
    struct Contact {
        const char* name;
        const char* id;
        const char* net;
        const char* network;
    };
    const Contact contacts[] = {{"Ania", "123456", "10", "GG"},
                                {"Jan Kowalski", "jan@example.org", "12", "JABBER"},
                                {"\xAF" "aneta (praca)", "192.168.1.20", "15", "LAN"},
                                {"Bez sieci", "7", "", ""}};
    const char* descriptions[] = {nullptr, "", "w domu", "spotkanie [pilne] do 12"};
    struct Written {
        const Contact* contact;
        uint32_t status;
        char gender;
        const char* description;
    };
    std::vector<Written> written;
    for (const Contact& contact : contacts) {
        host.SetContactText(1, 8, std::string(contact.name));
        host.SetContactText(1, 0, std::string(contact.id));
        host.SetContactText(1, 1, std::string(contact.net));
        for (uint32_t status : {0u, 1u, 33u, 34u, 64u, 65u, 66u, 67u, 2u}) {
            for (const char* gender : {"0", "1"}) {
                host.SetContactText(1, 20, std::string(gender));
                for (const char* description : descriptions) {
                    AppendContactStatusLine(1, status, description, &testing::FixedClock);
                    written.push_back({&contact, status, gender[0] == '1' ? 'f' : 'm', description});
                }
            }
        }
    }
    std::vector<LogRecord> read;
    std::vector<std::string> warnings;
    EXPECT_EQ(ReadLog((dir / "log.txt").string(), 2026, [&](const LogRecord& r) { read.push_back(r); },
                      [&](uint64_t, const std::string& why) { warnings.push_back(why); }),
              "");
    fs::remove_all(dir);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        const Written& w = written[i];
        SCOPED_TRACE(std::string(w.contact->name) + " " + std::to_string(w.status));
        EXPECT_EQ(read[i].name, w.contact->name);
        EXPECT_EQ(read[i].id, w.contact->id);
        EXPECT_EQ(read[i].network, w.contact->network);
        const bool word = w.status != 2;
        EXPECT_EQ(read[i].status.has_value(), word);
        if (word) {
            EXPECT_EQ(*read[i].status, w.status);
        }
        EXPECT_EQ(read[i].gender, word ? w.gender : 0);
        EXPECT_EQ(read[i].described, w.description != nullptr);
        if (w.description) {
            EXPECT_EQ(read[i].description, w.description);
        }
        EXPECT_EQ(read[i].time.year, 2026);
        EXPECT_EQ(read[i].time.hour, 13);
        EXPECT_EQ(read[i].line, i + 1);
    }
}

}  // namespace
}  // namespace plumeta::reader
