#include "recorder/status_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/host_link.h"
#include "plugin/dispatch.h"
#include "recorder/append_file.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

namespace fs = std::filesystem;
using testing::FakeHost;

constexpr uint32_t kContact = 3;
constexpr uint32_t kOwnPlugin = 5;

// The moment that local time shows as day.month hour:minute:second (2025).
std::time_t LocalMoment(int day, int month, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = 125;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class StatusLog : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("plumeta-log-" + std::string(info->name()) + "-" + std::to_string(std::rand()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        host_.SetSetting(267603, 1);
        host_.SetSettingText(267604, Name("statusy"));
        host_.SetContact(kContact, 267600, 1);
        host_.SetContactText(kContact, 8, std::string("Ania"));
        host_.SetContactText(kContact, 0, std::string("123"));
        host_.SetContactText(kContact, 1, std::string("12"));
        host_.SetContactText(kContact, 20, std::string("1"));
        host_.SetContactText(kOwnPlugin, 1, std::string("10"));
        host_.SetContactText(kOwnPlugin, 20, std::string("1"));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Name(const std::string& base) const { return (dir_ / base).string(); }
    std::string Read(const std::string& base = "statusy.txt") const {
        std::ifstream in(dir_ / base, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    bool Exists(const std::string& base = "statusy.txt") const { return fs::exists(dir_ / base); }

    fs::path dir_;
    FakeHost host_;
};

TEST_F(StatusLog, AniaExample) {
    AppendContactStatusLine(kContact, 64, "w domu", LocalMoment(7, 3, 13, 5, 9));
    EXPECT_EQ(Read(), "07.03 13:05.09 Ania(123@JABBER) zmienila status na dostepna [w domu]\r\n");
    EXPECT_EQ(host_.Trace(),
              (std::vector<std::string>{"GetCell 0/0/267603", "GetCell 1/3/267600",
                                        "GetCell 0/0/267604", "GetCell 1/3/8", "GetCell 1/3/0",
                                        "GetCell 1/3/1", "GetCell 1/3/20"}));
    // Text cells are read as the host's own copy.
    EXPECT_EQ(+host_.calls[3].cellIn.value, 0u);
    EXPECT_EQ(+host_.calls[3].cellIn.bufferSize, 0xFFFFFFFFu);
    EXPECT_EQ(+host_.calls[2].cellIn.bufferSize, 0u);
}

TEST_F(StatusLog, ContactLines) {
    struct Row {
        const char* why;
        const char* display;
        const char* net;
        const char* gender;
        uint32_t status;
        const char* description;
        const char* line;  // after the stamp
    };
    const Row rows[] = {
        {"masculine 2", "Ania", "12", "2", 64, nullptr, "Ania(123@JABBER) zmienil status na dostepny\r\n"},
        {"masculine 0, status 0", "Jan", "10", "0", 0, nullptr, "Jan(123@GG) zmienil status na niedost\xEApny\r\n"},
        {"feminine, status 0", "Ania", "15", "1", 0, "", "Ania(123@LAN) zmienila status na niedost\xEApna []\r\n"},
        {"empty gender", "Ania", "12", "", 64, "X", "Ania(123@JABBER) [X]\r\n"},
        {"gender 3", "Ania", "12", "3", 64, nullptr, "Ania(123@JABBER)\r\n"},
        {"68 as 65", "Ania", "12", "1", 68, nullptr, "Ania(123@JABBER) zmienila status na zaraz wracam\r\n"},
        {"status outside the table", "Ania", "12", "1", 2, "X", "Ania(123@JABBER) [X]\r\n"},
        {"network 13", "Ania", "13", "1", 34, nullptr, "Ania(123 zmienila status na nie przeszkadzac\r\n"},
        {"network 1", "Ania", "1", "0", 33, nullptr, "Ania(123 zmienil status na not-available\r\n"},
        {"network empty", "Ania", "", "0", 67, nullptr, "Ania(123 zmienil status na freeForChat\r\n"},
        {"network 105 is GG", "Ania", "105", "1", 66, nullptr, "Ania(123@GG) zmienila status na ukryta\r\n"},
        {"empty display name", "", "10", "1", 1, nullptr, "(123@GG) zmienila status na zablokowana\r\n"},
        {"line feeds in a description", "Ania", "10", "1", 65, "a\nb\r\nc", "Ania(123@GG) zmienila status na zaraz wracam [a\r\nb\r\r\nc]\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        fs::remove(dir_ / "statusy.txt");
        host_.SetContactText(kContact, 8, std::string(row.display));
        host_.SetContactText(kContact, 1, std::string(row.net));
        host_.SetContactText(kContact, 20, std::string(row.gender));
        AppendContactStatusLine(kContact, row.status, row.description, LocalMoment(1, 1, 0, 0, 0));
        EXPECT_EQ(Read(), std::string("01.01 00:00.00 ") + row.line);
    }
}

TEST_F(StatusLog, GenderReadOnlyForStatusesWithWords) {
    AppendContactStatusLine(kContact, 2, nullptr, LocalMoment(1, 1, 0, 0, 0));
    for (const std::string& call : host_.Trace()) EXPECT_NE(call, "GetCell 1/3/20");
}

TEST_F(StatusLog, OwnLines) {
    AppendOwnStatusLine(kOwnPlugin, 0, nullptr, LocalMoment(31, 12, 23, 59, 59));
    host_.SetContactText(kOwnPlugin, 1, std::string("99"));
    host_.SetContactText(kOwnPlugin, 20, std::string("0"));
    AppendOwnStatusLine(kOwnPlugin, 64, "X", LocalMoment(2, 2, 9, 8, 7));
    EXPECT_EQ(Read(),
              "Zmianiles status 31.12 23:59.59 na sieci GG na niedost\xEApna\r\n"
              "Zmianiles status 02.02 09:08.07 na sieci  na dostepny [X]\r\n");
    const std::vector<std::string> trace = host_.Trace();
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 4),
              (std::vector<std::string>{"GetCell 0/0/267603", "GetCell 0/0/267604",
                                        "GetCell 1/5/1", "GetCell 1/5/20"}));
}

TEST_F(StatusLog, Switches) {
    for (int32_t off : {0, 2, -1}) {
        SCOPED_TRACE(off);
        host_.SetSetting(267603, off);
        AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
        AppendOwnStatusLine(kOwnPlugin, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
        EXPECT_FALSE(Exists());
    }
    host_.SetSetting(267603, 1);
    host_.SetContact(kContact, 267600, 0);
    AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_FALSE(Exists()) << "contact not recorded";
    AppendOwnStatusLine(kOwnPlugin, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_EQ(Read(), "Zmianiles status 01.01 00:00.00 na sieci GG na dostepna\r\n");
    host_.SetContact(kContact, 267600, 2);
    AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_NE(Read().find("Ania(123@JABBER)"), std::string::npos) << "2 counts as on";
}

TEST_F(StatusLog, NewNameTakesEffectWithTheNextLine) {
    AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    host_.SetSettingText(267604, Name("inne"));
    AppendContactStatusLine(kContact, 0, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_EQ(Read("statusy.txt"), "01.01 00:00.00 Ania(123@JABBER) zmienila status na dostepna\r\n");
    EXPECT_EQ(Read("inne.txt"), "01.01 00:00.00 Ania(123@JABBER) zmienila status na niedost\xEApna\r\n");
}

TEST_F(StatusLog, UnopenableFileLosesOnlyTheLine) {
    host_.SetSettingText(267604, Name("missing/folder/statusy"));
    AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    AppendOwnStatusLine(kOwnPlugin, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(StatusLog, NullTextsCountAsEmpty) {
    host_.SetContactText(kContact, 8, std::nullopt);
    host_.SetContactText(kContact, 0, std::nullopt);
    host_.SetContactText(kContact, 1, std::nullopt);
    host_.SetContactText(kContact, 20, std::nullopt);
    AppendContactStatusLine(kContact, 64, nullptr, LocalMoment(1, 1, 0, 0, 0));
    EXPECT_EQ(Read(), "01.01 00:00.00 (\r\n");
}

TEST(StatusStamp, Form) {
    struct Row {
        int day, month, hour, minute, second;
        const char* stamp;
    };
    const Row rows[] = {{1, 1, 0, 0, 0, "01.01 00:00.00 "},
                        {7, 3, 13, 5, 9, "07.03 13:05.09 "},
                        {31, 12, 23, 59, 59, "31.12 23:59.59 "},
                        {9, 10, 10, 10, 10, "09.10 10:10.10 "}};
    for (const Row& row : rows) {
        std::tm local{};
        local.tm_mday = row.day;
        local.tm_mon = row.month - 1;
        local.tm_hour = row.hour;
        local.tm_min = row.minute;
        local.tm_sec = row.second;
        EXPECT_EQ(FormatStamp(local), row.stamp);
    }
}

TEST_F(StatusLog, RealClockThroughTheDispatcher) {
    host_.SetSetting(267602, 0);
    StatusChangeRecord change{};
    change.header.size = 34;
    change.header.id = 24011;
    change.subject = kContact;
    change.status = 64;
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(HandleMessage(reinterpret_cast<const MessageRecord*>(&change)), 0);
    const std::time_t after = std::time(nullptr);
    const std::string line = Read();
    ASSERT_GE(line.size(), 15u);
    std::string expected[2];
    int i = 0;
    for (std::time_t moment : {before, after}) {
        std::tm local{};
#if defined(_WIN32)
        local = *std::localtime(&moment);
#else
        localtime_r(&moment, &local);
#endif
        expected[i++] = FormatStamp(local);
    }
    const std::string stamp = line.substr(0, 15);
    EXPECT_TRUE(stamp == expected[0] || stamp == expected[1]) << stamp << " vs " << expected[0];
}

TEST_F(StatusLog, ConcurrentAppendsNeverInterleave) {
    const std::string path = Name("shared.txt");
    auto writer = [&path](char tag) {
        const std::string line = std::string(3000, tag) + "\r\n";
        for (int i = 0; i < 200; ++i) AppendToFile(path, line);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::istringstream lines(Read("shared.txt"));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_EQ(line.size(), 3001u);
        ASSERT_EQ(line.find_first_not_of(line[0]), 3000u) << "line " << count;
    }
    EXPECT_EQ(count, 400);
}

}  // namespace
}  // namespace plumeta
