// Needs the module's writer and the fake host, so only the 32-bit builds have
// it; the reader's other tests also run natively.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/log_reader.h"
#include "recorder/status_log.h"
#include "tests/fake_host.h"

namespace plumeta::reader {
namespace {

namespace fs = std::filesystem;

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
