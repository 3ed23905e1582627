#include "recorder/status_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/host_link.h"
#include "plugin/dispatch.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

namespace fs = std::filesystem;
using testing::FakeHost;

constexpr uint32_t kContact = 3;
constexpr uint32_t kOwnPlugin = 5;

// A clock reading the moment that local time shows as day.month
// hour:minute:second in 2025.
Clock At(int day, int month, int hour, int minute, int second) {
    testing::fixedMoment = testing::LocalMoment(2025, month, day, hour, minute, second);
    return &testing::FixedClock;
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
    AppendContactStatusLine(kContact, 64, "w domu", At(7, 3, 13, 5, 9));
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
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        fs::remove(dir_ / "statusy.txt");
        host_.SetContactText(kContact, 8, std::string(row.display));
        host_.SetContactText(kContact, 1, std::string(row.net));
        host_.SetContactText(kContact, 20, std::string(row.gender));
        AppendContactStatusLine(kContact, row.status, row.description, At(1, 1, 0, 0, 0));
        EXPECT_EQ(Read(), std::string("01.01 00:00.00 ") + row.line);
    }
}

// What a contact sets (name, identifier, description) can neither end the
// line nor carry control bytes into the file.
TEST_F(StatusLog, OutsideTextsStayOnTheirLine) {
    struct Row {
        const char* text;
        const char* written;
    };
    const Row rows[] = {
        {"Pierwsza linia\nDruga linia", "Pierwsza linia / Druga linia"},
        {"a\n\nb\r", "a / b / "},
        {"\x01\x02\x1A", ""},
        {"x\n08.12 10:00.00 Szef(1@GG) zmienil status na dostepny",
         "x / 08.12 10:00.00 Szef(1@GG) zmienil status na dostepny"},
        {"\r\n\x01\r\nz", " / z"},
        {"esc\x1B[31mred\x7F\tend", "esc[31mred\tend"},
        {"\xB3\xF3" "d\x9F \xA5\x8C", "\xB3\xF3" "d\x9F \xA5\x8C"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.written);
        fs::remove(dir_ / "statusy.txt");
        host_.SetContactText(kContact, 8, std::string(row.text));
        host_.SetContactText(kContact, 0, std::string(row.text));
        AppendContactStatusLine(kContact, 64, row.text, At(1, 1, 0, 0, 0));
        AppendOwnStatusLine(kOwnPlugin, 64, row.text, At(1, 1, 0, 0, 0));
        const std::string w = row.written;
        EXPECT_EQ(Read(), "01.01 00:00.00 " + w + "(" + w + "@JABBER) zmienila status na dostepna [" +
                              w + "]\r\nZmianiles status 01.01 00:00.00 na sieci GG na dostepna [" +
                              w + "]\r\n");
    }
}

TEST_F(StatusLog, StampsPast2038) {
    struct Row {
        int year, month, day, hour, minute, second;
        const char* stamp;
    };
    const Row rows[] = {{2038, 1, 19, 12, 0, 0, "19.01 12:00.00 "},
                        {2040, 3, 7, 13, 5, 9, "07.03 13:05.09 "},
                        {2100, 1, 1, 0, 0, 0, "01.01 00:00.00 "}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.year);
        fs::remove(dir_ / "statusy.txt");
        testing::fixedMoment =
            testing::LocalMoment(row.year, row.month, row.day, row.hour, row.minute, row.second);
        ASSERT_GT(testing::fixedMoment, int64_t{0x7FFFFFFF});
        AppendContactStatusLine(kContact, 64, nullptr, &testing::FixedClock);
        EXPECT_EQ(Read(), std::string(row.stamp) + "Ania(123@JABBER) zmienila status na dostepna\r\n");
    }
}

TEST_F(StatusLog, GenderReadOnlyForStatusesWithWords) {
    AppendContactStatusLine(kContact, 2, nullptr, At(1, 1, 0, 0, 0));
    for (const std::string& call : host_.Trace()) EXPECT_NE(call, "GetCell 1/3/20");
}

TEST_F(StatusLog, OwnLines) {
    AppendOwnStatusLine(kOwnPlugin, 0, nullptr, At(31, 12, 23, 59, 59));
    host_.SetContactText(kOwnPlugin, 1, std::string("99"));
    host_.SetContactText(kOwnPlugin, 20, std::string("0"));
    AppendOwnStatusLine(kOwnPlugin, 64, "X", At(2, 2, 9, 8, 7));
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
        AppendContactStatusLine(kContact, 64, nullptr, At(1, 1, 0, 0, 0));
        AppendOwnStatusLine(kOwnPlugin, 64, nullptr, At(1, 1, 0, 0, 0));
        EXPECT_FALSE(Exists());
    }
    host_.SetSetting(267603, 1);
    host_.SetContact(kContact, 267600, 0);
    AppendContactStatusLine(kContact, 64, nullptr, At(1, 1, 0, 0, 0));
    EXPECT_FALSE(Exists()) << "contact not recorded";
    AppendOwnStatusLine(kOwnPlugin, 64, nullptr, At(1, 1, 0, 0, 0));
    EXPECT_EQ(Read(), "Zmianiles status 01.01 00:00.00 na sieci GG na dostepna\r\n");
    host_.SetContact(kContact, 267600, 2);
    AppendContactStatusLine(kContact, 64, nullptr, At(1, 1, 0, 0, 0));
    EXPECT_NE(Read().find("Ania(123@JABBER)"), std::string::npos) << "2 counts as on";
}

TEST_F(StatusLog, NewNameTakesEffectWithTheNextLine) {
    AppendContactStatusLine(kContact, 64, nullptr, At(1, 1, 0, 0, 0));
    host_.SetSettingText(267604, Name("inne"));
    AppendContactStatusLine(kContact, 0, nullptr, At(1, 1, 0, 0, 0));
    EXPECT_EQ(Read("statusy.txt"), "01.01 00:00.00 Ania(123@JABBER) zmienila status na dostepna\r\n");
    EXPECT_EQ(Read("inne.txt"), "01.01 00:00.00 Ania(123@JABBER) zmienila status na niedost\xEApna\r\n");
}

// The log half never touches the history half or the answer, and makes the
// folders its file's name names.
TEST_F(StatusLog, MissingFoldersAreMade) {
    host_.SetSetting(267602, 1);
    host_.onSend = [](const MessageRecord&) { return 1; };
    host_.SetSettingText(267604, Name("missing/folder/statusy"));
    for (uint32_t id : {24011u, 24012u}) {
        SCOPED_TRACE(id);
        host_.calls.clear();
        StatusChangeRecord change{};
        change.header.size = 34;
        change.header.id = id;
        change.subject = id == 24011 ? kContact : kOwnPlugin;
        change.status = 64;
        EXPECT_EQ(HandleMessage(reinterpret_cast<const MessageRecord*>(&change)), 0);
        EXPECT_EQ(host_.Sent(13004).size(), 1u) << "the history half is untouched";
    }
    const std::string lines = Read("missing/folder/statusy.txt");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

TEST_F(StatusLog, EmptyNameWritesDotTxt) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    host_.SetSettingText(267604, std::string(""));
    AppendOwnStatusLine(kOwnPlugin, 64, nullptr, At(1, 1, 0, 0, 0));
    fs::current_path(before);
    EXPECT_EQ(Read(".txt"), "Zmianiles status 01.01 00:00.00 na sieci GG na dostepna\r\n");
}

TEST_F(StatusLog, NullTextsCountAsEmpty) {
    host_.SetContactText(kContact, 8, std::nullopt);
    host_.SetContactText(kContact, 0, std::nullopt);
    host_.SetContactText(kContact, 1, std::nullopt);
    host_.SetContactText(kContact, 20, std::nullopt);
    AppendContactStatusLine(kContact, 64, nullptr, At(1, 1, 0, 0, 0));
    EXPECT_EQ(Read(), "01.01 00:00.00 (\r\n");
}

TEST(StatusStamp, Form) {
    struct Row {
        LocalTime local;
        const char* stamp;
    };
    const Row rows[] = {{{2025, 1, 1, 0, 0, 0}, "01.01 00:00.00 "},
                        {{2025, 3, 7, 13, 5, 9}, "07.03 13:05.09 "},
                        {{2025, 12, 31, 23, 59, 59}, "31.12 23:59.59 "},
                        {{2025, 10, 9, 10, 10, 10}, "09.10 10:10.10 "}};
    for (const Row& row : rows) {
        char stamp[kStampSize];
        WriteStamp(row.local, stamp);
        EXPECT_EQ(std::string(stamp, kStampSize), row.stamp);
    }
}

TEST_F(StatusLog, RealClockThroughTheDispatcher) {
    host_.SetSetting(267602, 0);
    StatusChangeRecord change{};
    change.header.size = 34;
    change.header.id = 24011;
    change.subject = kContact;
    change.status = 64;
    const int64_t before = SystemClock();
    EXPECT_EQ(HandleMessage(reinterpret_cast<const MessageRecord*>(&change)), 0);
    const int64_t after = SystemClock();
    const std::string line = Read();
    ASSERT_GE(line.size(), 15u);
    char expected[2][kStampSize];
    WriteStamp(ToLocalTime(before), expected[0]);
    WriteStamp(ToLocalTime(after), expected[1]);
    const std::string stamp = line.substr(0, kStampSize);
    EXPECT_TRUE(stamp == std::string(expected[0], kStampSize) ||
                stamp == std::string(expected[1], kStampSize))
        << stamp;
}

}  // namespace
}  // namespace plumeta
