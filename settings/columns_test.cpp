#include "settings/columns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "host/host_link.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

using testing::FakeHost;
using testing::PutAddress;
using testing::PutU16;
using testing::PutU32;
using testing::RecordedCall;

const char kHostDefaultName[] = "C:\\host\\profile\\statusy";

TEST(Columns, RegistersInOrderWithTheirDefaults) {
    FakeHost host;
    host.onSend = [](const MessageRecord& m) {
        return m.header.id == 2 ? static_cast<int32_t>(ToWord(kHostDefaultName)) : 0;
    };
    EXPECT_EQ(RegisterColumns(), 1);
    EXPECT_EQ(host.SentIds(), (std::vector<uint32_t>{1102, 1102, 1102, 1102, 1102, 2, 1102, 1102}));

    struct Expected {
        uint8_t table;
        uint32_t column;
        uint32_t valueType;
        uint32_t defaultValue;  // for text columns checked below
    };
    const Expected expected[] = {{1, 267600, 0, 1}, {0, 267602, 0, 1}, {0, 267603, 0, 0},
                                 {0, 267607, 0, 0}, {1, 267608, 0, 1}, {0, 267604, 1, 0},
                                 {0, 267605, 1, 0}};
    const std::vector<RecordedCall> columns = host.Sent(1102);
    ASSERT_EQ(columns.size(), 7u);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(i);
        ColumnRecord record;
        std::memcpy(&record, columns[i].bytes.data(), sizeof record);
        EXPECT_EQ(+record.header.size, 39);
        EXPECT_EQ(+record.table, expected[i].table);
        EXPECT_EQ(+record.column, expected[i].column);
        EXPECT_EQ(+record.valueType, expected[i].valueType);
        EXPECT_EQ(+record.extra, 0u);
        if (record.valueType == 0) {
            EXPECT_EQ(+record.defaultValue, expected[i].defaultValue);
        }
    }

    // Request 2 goes to net 0, any type, without parameters; its answer is
    // passed on as it stands, not copied.
    const RecordedCall request2 = host.Sent(2)[0];
    EXPECT_EQ(+request2.message.header.net, 0u);
    EXPECT_EQ(+request2.message.header.type, 0xFFFFFFFFu);
    EXPECT_EQ(+request2.message.p1, 0u);
    ColumnRecord logName;
    std::memcpy(&logName, columns[5].bytes.data(), sizeof logName);
    EXPECT_EQ(+logName.defaultValue, ToWord(kHostDefaultName));
    EXPECT_EQ(columns[6].text, "!Twoje opisy!");
}

struct Notice {
    std::unique_ptr<uint8_t[]> bytes;
    ValidationNotice* get() { return reinterpret_cast<ValidationNotice*>(bytes.get()); }
    const char* text() {
        const char* text;
        std::memcpy(&text, bytes.get() + 22, sizeof text);
        return text;
    }
};
// The notice as the host lays it out, byte by byte, in an allocation of
// exactly `size` bytes.
Notice MakeNotice(uint32_t elementId, uint32_t code, const char* text, uint16_t size = 30) {
    std::vector<uint8_t> image;
    PutU16(image, size);
    PutU32(image, elementId);
    PutU32(image, 0xAAAAAAAA);
    PutU32(image, 0xBBBBBBBB);
    PutU32(image, code);
    PutU32(image, 0xCCCCCCCC);
    PutAddress(image, text);
    PutU32(image, 0xDDDDDDDD);
    Notice notice{std::make_unique<uint8_t[]>(size)};
    std::memcpy(notice.bytes.get(), image.data(), size);
    return notice;
}

TEST(Columns, EmptiedTextSettingsAreResetWithTheirOwnWarning) {
    struct Row {
        uint32_t column;
        const char* reset;
        const char* warning;
    };
    const Row rows[] = {
        {267604, "statusy", "Ta kom\xF3rka nie mo\xBF" "e by\xE6 pusta !!"},
        {267605, "!Twoje opisy!", "Ta kom\xF3rka nie mo\x9F" "e by\xE6 pusta !!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.column);
        FakeHost host;
        Notice notice = MakeNotice(0x11000000 | row.column, 100, "");
        ValidateTextSetting(notice.get());
        EXPECT_STREQ(notice.text(), row.reset);
        ASSERT_EQ(host.Sent(10201).size(), 1u);
        EXPECT_EQ(host.Sent(10201)[0].text, row.warning);
        EXPECT_EQ(+host.Sent(10201)[0].message.p2, 0u);
        EXPECT_EQ(+host.Sent(10201)[0].message.header.net, 0u);
    }
}

TEST(Columns, NoticesThatChangeNothing) {
    static const char kSpace[] = " ";
    static const char kEmpty[] = "";
    struct Row {
        const char* why;
        uint32_t elementId;
        uint32_t code;
        const char* text;
        uint16_t size;
    };
    const Row rows[] = {
        {"a space is a text", 0x11000000 | 267604, 100, kSpace, 30},
        {"history check box", 0x11000000 | 267602, 100, kEmpty, 30},
        {"file check box", 0x11000000 | 267603, 100, kEmpty, 30},
        {"contact page control", 0x13000000 | 267604, 100, kEmpty, 30},
        {"contact page control", 0x13000000 | 267605, 100, kEmpty, 30},
        {"other code", 0x11000000 | 267605, 101, kEmpty, 30},
        {"no text pointer in a short notice", 0x11000000 | 267604, 100, kEmpty, 22},
        {"other top byte", 0x12000000 | 267604, 100, kEmpty, 30},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        FakeHost host;
        Notice notice = MakeNotice(row.elementId, row.code, row.text, row.size);
        ValidateTextSetting(notice.get());
        if (row.size >= 30) {
            EXPECT_EQ(notice.text(), row.text);
        }
        EXPECT_TRUE(host.calls.empty());
    }
}

TEST(Columns, RegistersTheIconGroup) {
    FakeHost host;
    EXPECT_EQ(RegisterIcon(), 1);
    ASSERT_EQ(host.Sent(10109).size(), 1u);
    EXPECT_EQ(+host.Sent(10109)[0].message.p1, 267100u);
    EXPECT_EQ(+host.Sent(10109)[0].message.p2, 101u);
    EXPECT_EQ(+host.Sent(10109)[0].message.header.net, 0u);
}

}  // namespace
}  // namespace plumeta
