#include "recorder/history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_link.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

using testing::FakeHost;
using testing::PutAddress;
using testing::PutU16;
using testing::PutU32;
using testing::PutU64;
using testing::RecordedCall;

constexpr uint32_t kContact = 7;
constexpr int64_t kNow = 1741323909;  // 2025-03-07 05:05:09 UTC
int64_t Now() { return kNow; }

StatusChangeRecord Change(uint32_t subject, uint32_t status, const char* description) {
    StatusChangeRecord change{};
    change.header.size = 34;
    change.subject = subject;
    change.status = status;
    change.description = description;
    return change;
}

// The bytes of a filled history entry with network `net`, stamped kNow; the
// text addresses are those the host saw.
std::vector<uint8_t> EntryImage(const HistoryEntry& seen, uint32_t net) {
    std::vector<uint8_t> image;
    PutU16(image, 58);
    PutU32(image, 0);
    PutU32(image, net);
    PutU32(image, 1);  // type
    PutAddress(image, seen.text14);
    PutAddress(image, seen.text18);
    PutAddress(image, seen.body);
    PutAddress(image, seen.ext);
    PutU32(image, 2);  // flags
    PutU32(image, 0);
    PutU32(image, 0);
    PutU32(image, 0xFFFFFFFE);
    PutU32(image, 0);
    PutU64(image, kNow);
    return image;
}

// A contact with every switch on: the common case the tests vary.
struct ContactHost : FakeHost {
    int32_t mayRecord = 1;
    ContactHost() {
        SetSetting(267602, 1);
        SetSetting(267607, 1);
        SetContact(kContact, 1, 10);
        SetContact(kContact, 267600, 1);
        SetContact(kContact, 267608, 1);
        SetContactText(kContact, 8, std::string("D"));
        SetContactText(kContact, 20, std::string("1"));
        onSend = [this](const MessageRecord& m) { return m.header.id == 33006 ? mayRecord : 1; };
    }
    std::vector<std::string> Spoken() const {
        std::vector<std::string> texts;
        for (const RecordedCall& call : Sent(78700)) texts.push_back(call.text);
        return texts;
    }
};

TEST(ContactHistory, FemaleContactWithDescription) {
    ContactHost host;
    ContactChangeToHistory(Change(kContact, 64, "X"), &Now);

    EXPECT_EQ(host.Trace(), (std::vector<std::string>{
                                "GetCell 0/0/267602", "GetCell 1/7/1", "GetCell 1/7/78203",
                                "GetCell 1/7/8", "GetCell 1/7/20", "GetCell 1/7/8", "Send 33006",
                                "GetCell 1/7/267600", "Send 13004", "GetCell 0/0/267607",
                                "GetCell 1/7/267608", "Send 78700"}));
    // The spoken-name reads go into one 256-byte buffer; the others get the
    // host's own copy (the gender read with size -1).
    EXPECT_EQ(+host.calls[2].cellIn.bufferSize, 256u);
    EXPECT_EQ(+host.calls[3].cellIn.value, +host.calls[2].cellIn.value);
    EXPECT_EQ(+host.calls[4].cellIn.value, 0u);
    EXPECT_EQ(+host.calls[4].cellIn.bufferSize, 0xFFFFFFFFu);
    EXPECT_EQ(+host.calls[5].cellIn.value, 0u);
    EXPECT_EQ(+host.calls[5].cellIn.bufferSize, 0u);

    const RecordedCall question = host.Sent(33006)[0];
    EXPECT_EQ(+question.message.header.net, 10u);
    EXPECT_EQ(+question.message.header.type, 2u);

    const RecordedCall added = host.Sent(13004)[0];
    EXPECT_EQ(added.body, "Dost\xEApna [X]");
    EXPECT_EQ(added.ext, "\x1A" "Display=D");
    EXPECT_EQ(added.folder, "opisy");

    // Golden images of both records as the host saw them.
    EXPECT_EQ(added.entryBytes, EntryImage(added.entry, 10));
    EXPECT_EQ(added.entry.text14, added.entry.text18);

    std::vector<uint8_t> request;
    PutU16(request, 22);
    PutAddress(request, added.request.entry);
    PutAddress(request, added.request.folder);
    PutU32(request, kContact);
    PutU32(request, 0);  // no history name for a contact
    PutU32(request, 0);
    EXPECT_EQ(added.requestBytes, request);

    const RecordedCall speech = host.Sent(78700)[0];
    EXPECT_EQ(speech.text, "D jest Dost\xEApna X");
    EXPECT_EQ(+speech.message.header.net, 78u);
    EXPECT_EQ(+speech.message.header.type, 0xFFFFFFFFu);
    EXPECT_EQ(+speech.message.p2, 0u);
}

TEST(ContactHistory, TextsByNamesGenderAndDescription) {
    struct Row {
        const char* why;
        std::optional<std::string> spokenName, display, gender;
        uint32_t status;
        const char* description;
        const char* body;
        const char* ext;
        const char* spoken;
    };
    const Row rows[] = {
        {"spoken name first", std::string("S"), std::string("D"), std::string("1"), 64, "X",
         "Dost\xEApna [X]", "\x1A" "Display=D", "S jest Dost\xEApna X"},
        {"no description", std::nullopt, std::string("D"), std::string("0"), 0, nullptr,
         "Niedost\xEApny", "\x1A" "Display=D", "D jest Niedost\xEApny"},
        {"empty description", std::nullopt, std::string("D"), std::string("2"), 67, "",
         "Chc\xEA pogada\xE6", "\x1A" "Display=D", "D jest Chc\xEA pogada\xE6"},
        {"unknown mark", std::nullopt, std::string("D"), std::string("x"), 64, "X", " [X]",
         "\x1A" "Display=D", "D jest  X"},
        {"empty gender, no description", std::nullopt, std::string("D"), std::string(""), 64,
         nullptr, "", "\x1A" "Display=D", "D jest "},
        {"null gender read", std::nullopt, std::string("D"), std::nullopt, 64, "X", " [X]",
         "\x1A" "Display=D", "D jest  X"},
        {"status outside the table", std::nullopt, std::string("D"), std::string("1"), 241, "X",
         " [X]", "\x1A" "Display=D", "D jest  X"},
        {"both names empty", std::string(""), std::string(""), std::string("1"), 66, nullptr,
         "Ukryta", "", " jest Ukryta"},
        {"null display read", std::nullopt, std::nullopt, std::string("1"), 66, nullptr, "Ukryta",
         "", " jest Ukryta"},
        {"multi-line description", std::nullopt, std::string("D"), std::string("0"), 65,
         "a\nb", "Zaraz wracam [a\nb]", "\x1A" "Display=D", "D jest Zaraz wracam a\nb"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ContactHost host;
        if (row.spokenName) host.SetContactText(kContact, 78203, row.spokenName);
        host.SetContactText(kContact, 8, row.display);
        host.SetContactText(kContact, 20, row.gender);
        ContactChangeToHistory(Change(kContact, row.status, row.description), &Now);
        ASSERT_EQ(host.Sent(13004).size(), 1u);
        EXPECT_EQ(host.Sent(13004)[0].body, row.body);
        EXPECT_EQ(host.Sent(13004)[0].ext, row.ext);
        EXPECT_EQ(host.Spoken(), std::vector<std::string>{row.spoken});
    }
}

TEST(History, EntryTimePast2038) {
    // 2038-01-19 12:00:00, 2040-03-07 13:05:09 and 2100-01-01 00:00:00 UTC.
    for (int64_t moment : {int64_t{2147515200}, int64_t{2214738309}, int64_t{4102444800}}) {
        SCOPED_TRACE(moment);
        testing::fixedMoment = moment;
        ContactHost host;
        host.SetContact(5, 1, 10);
        host.onSendTo = [](uint32_t, const MessageRecord&) { return 10; };
        ContactChangeToHistory(Change(kContact, 64, nullptr), &testing::FixedClock);
        OwnChangeToHistory(Change(5, 64, nullptr), &testing::FixedClock);
        const std::vector<RecordedCall> added = host.Sent(13004);
        ASSERT_EQ(added.size(), 2u);
        for (const RecordedCall& call : added) {
            std::vector<uint8_t> time(call.entryBytes.begin() + 50, call.entryBytes.end());
            std::vector<uint8_t> expected;
            PutU64(expected, static_cast<uint64_t>(moment));
            EXPECT_EQ(time, expected);
        }
    }
}

TEST(ContactHistory, Statuses65And68AreTheSame) {
    ContactHost first;
    ContactChangeToHistory(Change(kContact, 65, "X"), &Now);
    const RecordedCall a = first.Sent(13004)[0];
    first.calls.clear();
    ContactChangeToHistory(Change(kContact, 68, "X"), &Now);
    const RecordedCall b = first.Sent(13004)[0];
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(a.ext, b.ext);
}

TEST(ContactHistory, Switches) {
    struct Row {
        const char* why;
        int32_t saveToHistory, mayRecord, recordChanges, readAloud, contactReadAloud;
        bool entry, speech;
    };
    const Row rows[] = {
        {"all on", 1, 1, 1, 1, 1, true, true},
        {"history off", 0, 1, 1, 1, 1, false, false},
        {"history 2 is off", 2, 1, 1, 1, 1, false, false},
        {"host refuses", 1, 0, 1, 1, 1, false, false},
        {"host answers other non-zero", 1, -1, 1, 1, 1, true, true},
        {"contact not recorded, still spoken", 1, 1, 0, 1, 1, false, true},
        {"recording 2 is on", 1, 1, 2, 0, 1, true, false},
        {"read aloud 2 is off", 1, 1, 1, 2, 1, true, false},
        {"contact read aloud 2 is off", 1, 1, 1, 1, 2, true, false},
        {"contact read aloud 0", 1, 1, 1, 1, 0, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ContactHost host;
        host.SetSetting(267602, row.saveToHistory);
        host.mayRecord = row.mayRecord;
        host.SetContact(kContact, 267600, row.recordChanges);
        host.SetSetting(267607, row.readAloud);
        host.SetContact(kContact, 267608, row.contactReadAloud);
        ContactChangeToHistory(Change(kContact, 64, "X"), &Now);
        EXPECT_EQ(host.Sent(13004).size(), row.entry ? 1u : 0u);
        EXPECT_EQ(host.Sent(78700).size(), row.speech ? 1u : 0u);
        if (row.saveToHistory != 1) {
            EXPECT_EQ(host.calls.size(), 1u) << "only the switch is read";
        }
    }
}

TEST(ContactHistory, SpokenNameBufferIsAlwaysTerminated) {
    ContactHost host;
    host.copyWithoutTerminator = true;
    host.SetContactText(kContact, 78203, std::string(300, 'S'));
    ContactChangeToHistory(Change(kContact, 64, nullptr), &Now);
    EXPECT_EQ(host.Spoken(), std::vector<std::string>{std::string(255, 'S') + " jest Dost\xEApna"});
}

// The user's own change: plug-in 5 answers for network 10.
struct OwnHost : FakeHost {
    OwnHost() {
        SetSetting(267602, 1);
        SetSettingText(267605, std::string("!Twoje opisy!"));
        SetContact(5, 1, 10);
        SetContactText(5, 20, std::string("0"));
        onSendTo = [this](uint32_t, const MessageRecord&) { return network; };
    }
    int32_t network = 10;
};

TEST(OwnHistory, GGExampleWithRecords) {
    OwnHost host;
    OwnChangeToHistory(Change(5, 64, "X"), &Now);
    EXPECT_EQ(host.Trace(),
              (std::vector<std::string>{"GetCell 0/0/267602", "SendTo 5 30010", "GetCell 1/5/1",
                                        "GetCell 1/5/20", "GetCell 0/0/267605", "Send 13004"}));
    EXPECT_EQ(+host.calls[3].cellIn.bufferSize, 0xFFFFFFFFu);
    EXPECT_EQ(+host.calls[4].cellIn.value, 0u);
    EXPECT_EQ(+host.calls[4].cellIn.bufferSize, 0u);

    const RecordedCall added = host.Sent(13004)[0];
    EXPECT_EQ(added.body, "GG: Dostepny [X]");
    EXPECT_EQ(added.ext, "\x1A" "Display=Ty");
    EXPECT_EQ(added.folder, "opisy");
    EXPECT_EQ(added.historyName, "!Twoje opisy!");

    std::vector<uint8_t> request;
    PutU16(request, 22);
    PutAddress(request, added.request.entry);
    PutAddress(request, added.request.folder);
    PutU32(request, 0);  // contact
    PutAddress(request, added.request.historyName);
    PutU32(request, 0);
    EXPECT_EQ(added.requestBytes, request);

    EXPECT_EQ(added.entryBytes, EntryImage(added.entry, 10));  // net: ContactNet of row 5
    EXPECT_TRUE(host.Sent(78700).empty());
}

TEST(OwnHistory, Texts) {
    struct Row {
        int32_t network;
        uint32_t status;
        const char* gender;
        const char* description;
        const char* body;
    };
    const Row rows[] = {
        {12, 34, "0", nullptr, "JABBER: Nie przeszkadzac"},
        {12, 34, "1", "", "JABBER: Nie przeszkadzac"},
        {15, 67, "1", nullptr, "LAN: FreeForChat"},
        {267, 64, "1", nullptr, "Dostepna"},
        {0, 0, "2", nullptr, "Niedost\xEApny"},
        {10, 2, "0", "X", "GG:  [X]"},
        {10, 33, "1", nullptr, "GG: Not-available"},
        {10, 64, "", nullptr, "GG: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body);
        OwnHost host;
        host.network = row.network;
        host.SetContactText(5, 20, std::string(row.gender));
        OwnChangeToHistory(Change(5, row.status, row.description), &Now);
        ASSERT_EQ(host.Sent(13004).size(), 1u);
        EXPECT_EQ(host.Sent(13004)[0].body, row.body);
    }
}

TEST(OwnHistory, NothingSentFor241OrWithHistoryOff) {
    {
        OwnHost host;
        OwnChangeToHistory(Change(5, 241, "X"), &Now);
        EXPECT_TRUE(host.Sent(13004).empty());
    }
    for (int32_t off : {0, 2, -1}) {
        OwnHost host;
        host.SetSetting(267602, off);
        OwnChangeToHistory(Change(5, 64, "X"), &Now);
        EXPECT_EQ(host.Trace(), std::vector<std::string>{"GetCell 0/0/267602"});
    }
}

TEST(OwnHistory, TargetZeroGoesToTheDefaultTarget) {
    OwnHost host;
    host.defaultTarget = 9;
    OwnChangeToHistory(Change(0, 64, nullptr), &Now);
    const std::vector<std::string> trace = host.Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[1], "DefaultTarget");
    EXPECT_EQ(trace[2], "SendTo 9 30010");
    EXPECT_EQ(+host.Sent(13004)[0].request.contact, 0u);
}

TEST(OwnHistory, MissingDisplayNameIsEmptyNotNull) {
    OwnHost host;
    host.SetSettingText(267605, std::nullopt);
    OwnChangeToHistory(Change(5, 64, nullptr), &Now);
    ASSERT_EQ(host.Sent(13004).size(), 1u);
    EXPECT_FALSE(host.Sent(13004)[0].historyNameNull);
    EXPECT_EQ(host.Sent(13004)[0].historyName, "");
}

}  // namespace
}  // namespace plumeta
