#include "host/host_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/fake_host.h"

namespace plumeta {
namespace {

using testing::FakeHost;
using testing::PutAddress;
using testing::PutU16;
using testing::PutU32;
using testing::PutU64;
using testing::RecordedCall;

TEST(HostRecords, MessageRecordGoldenImage) {
    FakeHost host;
    SendToNet(30010, 78, kAnyType, 0x11223344, 0x55667788);
    ASSERT_EQ(host.calls.size(), 1u);
    const std::vector<uint8_t> expected = {
        30, 0,                     // size
        0x3A, 0x75, 0, 0,          // id 30010
        0, 0, 0, 0,                // aux1
        78, 0, 0, 0,               // net
        0xFF, 0xFF, 0xFF, 0xFF,    // type: any
        0, 0, 0, 0,                // aux2
        0x44, 0x33, 0x22, 0x11,    // p1
        0x88, 0x77, 0x66, 0x55};   // p2
    EXPECT_EQ(host.calls[0].bytes, expected);
}

TEST(HostRecords, ColumnRecordGoldenImage) {
    FakeHost host;
    RegisterColumn(1, 267600, 0, 1, 0);
    ASSERT_EQ(host.calls.size(), 1u);
    std::vector<uint8_t> expected;
    PutU16(expected, 39);
    PutU32(expected, 1102);
    for (int i = 0; i < 4; ++i) PutU32(expected, 0);  // aux1, net, type, aux2
    expected.push_back(1);                            // contacts table
    PutU32(expected, 267600);
    PutU32(expected, 0);  // integer
    PutU32(expected, 1);  // default
    PutU32(expected, 0);  // extra
    EXPECT_EQ(host.calls[0].bytes, expected);
}

std::vector<uint8_t> OptionItemImage(uint16_t size, const char* text) {
    std::vector<uint8_t> image;
    PutU16(image, size);
    PutU32(image, 0x11000000);  // id
    PutU32(image, 267000);      // parent
    PutU32(image, 0xFFFFFFFE);
    PutU32(image, 0xFFFFFFFF);
    for (int i = 0; i < 3; ++i) PutU32(image, 0);
    PutU32(image, 863);
    PutU32(image, 0x60000);  // kind
    PutU32(image, 0xFFFFFFFF);
    PutU32(image, 0);
    PutU32(image, 0);
    PutAddress(image, text);
    PutU32(image, 0);
    PutU32(image, 7);       // param3
    PutU32(image, 267602);  // param
    PutU32(image, 9);       // param2
    PutU16(image, 50);      // w1
    PutU16(image, 25);      // w2
    if (size == 78) {
        PutU16(image, 10);  // x1
        PutU16(image, 3);   // x2
    }
    return image;
}

TEST(HostRecords, OptionItemShortAndLongGoldenImages) {
    FakeHost host;
    static const char text[] = "caption\x01hint";
    AddOptionItem(267000, 0x11000000, 0x60000, text, 267602, 50, 25, 9, 7);
    AddOptionItemEx(267000, 0x11000000, 0x60000, text, 267602, 10, 3, 50, 25, 9, 7);
    ASSERT_EQ(host.Sent(10101).size(), 2u);
    EXPECT_EQ(host.Sent(10101)[0].itemBytes, OptionItemImage(74, text));
    EXPECT_EQ(host.Sent(10101)[1].itemBytes, OptionItemImage(78, text));
    EXPECT_EQ(host.Sent(10101)[1].text, "caption\x01hint");
    // The item travels by address in p1 of a message to the host.
    EXPECT_EQ(+host.calls[0].message.header.net, 0u);
    EXPECT_EQ(+host.calls[0].message.header.type, 0u);
    EXPECT_EQ(+host.calls[0].message.p2, 0u);
}

TEST(HostRecords, HistoryEntryDefaultsGoldenImage) {
    HistoryEntry entry;
    std::memset(&entry, 0xAB, sizeof entry);
    InitHistoryEntry(entry);
    ASSERT_STREQ(entry.body, "");
    std::vector<uint8_t> expected;
    PutU16(expected, 58);
    PutU32(expected, 0);
    PutU32(expected, 0);  // net
    PutU32(expected, 0);  // type
    for (int i = 0; i < 4; ++i) PutAddress(expected, entry.body);  // the module's ""
    PutU32(expected, 0);  // flags
    PutU32(expected, 0);
    PutU32(expected, 0);
    PutU32(expected, 0xFFFFFFFE);
    PutU32(expected, 0);
    PutU64(expected, 0);  // time
    EXPECT_EQ(testing::Bytes(&entry, sizeof entry), expected);
}

TEST(HostRecords, CellValueGoldenImage) {
    FakeHost host;
    char buffer[16];
    GetContactText(5, 8, buffer, sizeof buffer);
    ASSERT_EQ(host.calls.size(), 1u);
    std::vector<uint8_t> expected;
    PutU16(expected, 1);  // text
    PutAddress(expected, buffer);
    PutU32(expected, 16);
    EXPECT_EQ(testing::Bytes(&host.calls[0].cellIn, sizeof(CellValue)), expected);
    EXPECT_EQ(host.Trace(), std::vector<std::string>{"GetCell 1/5/8"});
}

TEST(HostLink, CellReads) {
    FakeHost host;
    host.SetSetting(267602, 1);
    host.SetSettingText(267604, std::string("statusy"));
    host.SetContact(7, 1, 12);
    host.SetContactText(7, 8, std::string("Ania"));

    EXPECT_EQ(GetSettingInt(267602), 1);
    EXPECT_EQ(GetSettingInt(267603), 0) << "a cell the host leaves untouched reads 0";
    EXPECT_STREQ(GetSettingText(267604, nullptr, 0), "statusy");
    EXPECT_EQ(GetContactInt(7, 1), 12);
    EXPECT_STREQ(GetContactText(7, 8, nullptr, 0), "Ania");

    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(GetContactText(7, 8, buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, "Ania");

    EXPECT_EQ(host.Trace(), (std::vector<std::string>{"GetCell 0/0/267602", "GetCell 0/0/267603",
                                                      "GetCell 0/0/267604", "GetCell 1/7/1",
                                                      "GetCell 1/7/8", "GetCell 1/7/8"}));
    // Integer reads go in as 0 / 0 / 0, unbuffered text reads as 1 / 0 / 0.
    EXPECT_EQ(+host.calls[0].cellIn.valueType, 0);
    EXPECT_EQ(+host.calls[0].cellIn.value, 0u);
    EXPECT_EQ(+host.calls[2].cellIn.valueType, 1);
    EXPECT_EQ(+host.calls[2].cellIn.value, 0u);
    EXPECT_EQ(+host.calls[2].cellIn.bufferSize, 0u);
}

TEST(HostLink, SendToHostAndSendToNetHeaders) {
    FakeHost host;
    host.onSend = [](const MessageRecord& m) { return static_cast<int32_t>(m.header.id + 1); };
    EXPECT_EQ(SendToHost(777, 5, 6), 778);
    EXPECT_EQ(SendToNet(33006, 10, 2, 0, 0), 33007);
    const MessageRecord& toHost = host.calls[0].message;
    EXPECT_EQ(+toHost.header.net, 0u);
    EXPECT_EQ(+toHost.header.type, 0u);
    EXPECT_EQ(+toHost.header.aux1, 0u);
    EXPECT_EQ(+toHost.header.aux2, 0u);
    EXPECT_EQ(+toHost.p1, 5u);
    EXPECT_EQ(+toHost.p2, 6u);
    const MessageRecord& toNet = host.calls[1].message;
    EXPECT_EQ(+toNet.header.net, 10u);
    EXPECT_EQ(+toNet.header.type, 2u);
    EXPECT_EQ(+toNet.header.aux1, 0u);
    EXPECT_EQ(+toNet.header.aux2, 0u);
}

TEST(HostLink, SendToPluginAsksDefaultTargetOnlyForZero) {
    FakeHost host;
    host.defaultTarget = 44;
    host.onSendTo = [](uint32_t target, const MessageRecord&) { return static_cast<int32_t>(target); };
    EXPECT_EQ(SendToPlugin(30010, 0, 0, 0), 44);
    EXPECT_EQ(SendToPlugin(30010, 9, 0, 0), 9);
    EXPECT_EQ(host.Trace(),
              (std::vector<std::string>{"DefaultTarget", "SendTo 44 30010", "SendTo 9 30010"}));
    EXPECT_EQ(+host.calls[1].message.header.size, 30);
}

TEST(HostLink, AddOptionGroupSetsTheGroupBitOnce) {
    FakeHost host;
    AddOptionGroup(46, 267000, 0, "Plumeta", 267100, 0, 0, 0, 0);
    AddOptionGroup(46, 267000, 0x10, "Plumeta", 267100, 0, 0, 0, 0);
    AddOptionGroup(46, 267000, 0x60000, "Plumeta", 267100, 0, 0, 0, 0);
    ASSERT_EQ(host.Sent(10101).size(), 3u);
    EXPECT_EQ(+host.Sent(10101)[0].item.kind, 0x10u);
    EXPECT_EQ(+host.Sent(10101)[1].item.kind, 0x10u);
    EXPECT_EQ(+host.Sent(10101)[2].item.kind, 0x60010u);
    EXPECT_EQ(+host.Sent(10101)[0].item.size, 74);
}

TEST(HostLink, NoHostNoCall) {
    SetHostInterface(nullptr);
    EXPECT_FALSE(HostLinked());
    EXPECT_EQ(GetSettingInt(267602), 0);
    char buffer[4] = "abc";
    EXPECT_EQ(GetContactText(1, 8, buffer, sizeof buffer), buffer);
    EXPECT_EQ(GetSettingText(267604, nullptr, 0), nullptr);
    EXPECT_EQ(SendToHost(13004, 0, 0), 0);
    EXPECT_EQ(SendToPlugin(30010, 0, 0, 0), 0);
    EXPECT_EQ(RegisterColumn(0, 267602, 0, 1, 0), 0);
    ReportUnhandled(1);
}

TEST(HostLink, StatusChangeViewCopiesExactly34Bytes) {
    // Exactly-sized allocations: the sanitizers catch any read past them.
    auto record = std::make_unique<uint8_t[]>(34);
    std::vector<uint8_t> image;
    PutU16(image, 34);
    PutU32(image, 24011);
    for (int i = 0; i < 4; ++i) PutU32(image, 0x01010101u * (i + 1));
    PutU32(image, 7);
    PutU32(image, 64);
    PutU32(image, 0xCAFEBABE);
    std::memcpy(record.get(), image.data(), 34);
    const StatusChangeRecord view =
        TakeStatusChangeView(reinterpret_cast<const MessageRecord*>(record.get()));
    EXPECT_EQ(testing::Bytes(&view, sizeof view), image);

    // A longer record is cut to our 34 bytes.
    auto longer = std::make_unique<uint8_t[]>(40);
    std::memcpy(longer.get(), image.data(), 34);
    longer[0] = 40;
    EXPECT_EQ(+TakeStatusChangeView(reinterpret_cast<const MessageRecord*>(longer.get())).header.size,
              34);
}

TEST(HostLink, StatusChangeViewRefusesShortRecord) {
    auto record = std::make_unique<uint8_t[]>(33);
    std::memset(record.get(), 0, 33);
    record[0] = 33;
    const auto* message = reinterpret_cast<const MessageRecord*>(record.get());
    try {
        TakeStatusChangeView(message);
        FAIL() << "no exception";
    } catch (const HostMessageException& error) {
        EXPECT_EQ(error.code, 0u);
        EXPECT_EQ(error.record, message);
    }
}

}  // namespace
}  // namespace plumeta
