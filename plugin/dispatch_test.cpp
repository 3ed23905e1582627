#include "plugin/dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "host/host_link.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

using testing::FakeHost;
using testing::RecordedCall;
using Op = RecordedCall::Op;

// A message in an allocation of exactly `size` bytes, so that the sanitizers
// catch any read past it.
struct Message {
    std::unique_ptr<uint8_t[]> bytes;
    const MessageRecord* get() const { return reinterpret_cast<const MessageRecord*>(bytes.get()); }
};
Message Make(uint16_t size, uint32_t id, HostWord p1 = 0, HostWord p2 = 0) {
    MessageRecord full{};
    full.header.size = size;
    full.header.id = id;
    full.p1 = p1;
    full.p2 = p2;
    Message message{std::make_unique<uint8_t[]>(size)};
    std::memcpy(message.bytes.get(), &full, std::min<std::size_t>(size, sizeof full));
    return message;
}
int32_t Handle(uint16_t size, uint32_t id, HostWord p1 = 0, HostWord p2 = 0) {
    return HandleMessage(Make(size, id, p1, p2).get());
}

TEST(Dispatch, IdentityAnswers) {
    struct Row {
        uint32_t id;
        int32_t number;
        const char* text;
    };
    const Row rows[] = {{30010, 267, nullptr}, {30011, 4, nullptr},     {30012, 0, "0.0.3.2"},
                        {30013, 0, "EX2"},     {30014, 0, "W98"},       {30015, 0, nullptr},
                        {30016, 0, "Plumeta"}, {30017, 0, nullptr}};
    FakeHost host;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        const int32_t answer = Handle(30, row.id);
        if (row.text) {
            EXPECT_STREQ(FromWord<const char>(static_cast<HostWord>(answer)), row.text);
            EXPECT_EQ(Handle(30, row.id), answer) << "the same address every time";
        } else {
            EXPECT_EQ(answer, row.number);
        }
    }
    EXPECT_TRUE(host.calls.empty()) << "identity questions call nothing, 30015/30017 included";
}

TEST(Dispatch, IdentityAnswersWithoutParameterView) {
    const int32_t answer = Handle(22, 30016);
    EXPECT_STREQ(FromWord<const char>(static_cast<HostWord>(answer)), "Plumeta");
    EXPECT_EQ(Handle(2 + 4, 30010), 267) << "only the id is read";
}

TEST(Dispatch, FixedAnswersAndHandlers) {
    struct Row {
        uint32_t id;
        int32_t answer;
        uint32_t firstSent;  // what the handler sends first; 0: nothing
    };
    const Row rows[] = {{20002, 1, 0},     {20020, 2, 0},     {22101, 1, 0},
                        {21001, 1, 1102},  {22000, 1, 10101}, {22100, 1, 10109},
                        {22200, 0, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        FakeHost host;
        EXPECT_EQ(Handle(30, row.id), row.answer);
        const std::vector<uint32_t> sent = host.SentIds();
        if (row.firstSent) {
            ASSERT_FALSE(sent.empty());
            EXPECT_EQ(sent[0], row.firstSent);
        } else {
            EXPECT_TRUE(host.calls.empty());
        }
    }
}

TEST(Dispatch, ValidationNoticeReachesTheCheck) {
    FakeHost host;
    ValidationNotice notice{};
    notice.size = 30;
    notice.elementId = 0x11000000 | 267605;
    notice.code = 100;
    notice.text = "";
    EXPECT_EQ(Handle(30, 22200, ToWord(&notice)), 0);
    EXPECT_STREQ(notice.text, "!Twoje opisy!");
    EXPECT_EQ(host.SentIds(), std::vector<uint32_t>{10201});
}

TEST(Dispatch, StatusChangeRunsHistoryThenLogFile) {
    for (uint32_t id : {24011u, 24012u}) {
        SCOPED_TRACE(id);
        FakeHost host;
        host.SetSetting(267602, 1);
        host.SetSetting(267603, 1);
        host.SetContact(7, 267600, 1);
        // A folder that does not exist: the log half runs but writes nothing.
        host.SetSettingText(267604, std::string("no-such-folder/x/statusy"));
        host.onSend = [](const MessageRecord&) { return 1; };
        StatusChangeRecord change{};
        change.header.size = 34;
        change.header.id = id;
        change.subject = 7;
        change.status = 64;
        EXPECT_EQ(HandleMessage(reinterpret_cast<const MessageRecord*>(&change)), 0);
        const std::vector<std::string> trace = host.Trace();
        const auto history = std::find(trace.begin(), trace.end(), "Send 13004");
        const auto log = std::find(trace.begin(), trace.end(), "GetCell 0/0/267603");
        ASSERT_NE(history, trace.end());
        ASSERT_NE(log, trace.end());
        EXPECT_LT(history, log);
        EXPECT_EQ(trace.front(), "GetCell 0/0/267602");
    }
}

TEST(Dispatch, UnhandledIdReportsOnlyOnceLinked) {
    FakeHost host;
    SetHostInterface(nullptr);
    EXPECT_EQ(Handle(30, 12345), 0);
    EXPECT_TRUE(host.calls.empty());

    EXPECT_EQ(Handle(30, 20001, ToWord(host.interface()), 0xDEAD), 1);
    EXPECT_EQ(Handle(30, 12345), 0);
    EXPECT_EQ(Handle(30, 20002), 1);
    EXPECT_EQ(Handle(22, 12345), 0) << "no parameter view needed";
    EXPECT_EQ(host.Trace(), (std::vector<std::string>{"ReportUnhandled 1", "ReportUnhandled 1"}));
}

TEST(Dispatch, SecondInterfaceReplacesTheFirst) {
    FakeHost first;
    FakeHost second;
    Handle(30, 20001, ToWord(first.interface()));
    Handle(30, 20001, ToWord(second.interface()));
    Handle(30, 1);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.calls.size(), 1u);
}

TEST(Dispatch, ShortInterfaceMessageStoresNothing) {
    FakeHost host;
    SetHostInterface(nullptr);
    EXPECT_EQ(Handle(29, 20001, ToWord(host.interface())), 0);
    EXPECT_FALSE(HostLinked());
}

TEST(Dispatch, NothingReachesAMissingHost) {
    FakeHost host;
    SetHostInterface(nullptr);
    for (uint32_t id : {21001u, 22000u, 22100u, 22200u, 24011u, 24012u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Handle(34, id), 0);
    }
    EXPECT_TRUE(host.calls.empty());
}

TEST(Dispatch, StatusChangeNeedsItsWholeRecord) {
    FakeHost host;
    host.SetSetting(267602, 1);  // the log file stays off: no file written here
    for (uint32_t id : {24011u, 24012u}) {
        SCOPED_TRACE(id);
        host.calls.clear();
        const Message shortMessage = Make(33, id);
        try {
            HandleMessage(shortMessage.get());
            ADD_FAILURE() << "no exception";
        } catch (const HostMessageException& error) {
            EXPECT_EQ(error.code, 0u);
            EXPECT_EQ(error.record, shortMessage.get());
        }
        EXPECT_TRUE(host.calls.empty()) << "nothing read from the host";
        EXPECT_EQ(Handle(34, id), 0);
    }
}

TEST(Dispatch, ValidationNoticeWithoutParameterView) {
    FakeHost host;
    EXPECT_EQ(Handle(29, 22200), 0);
    EXPECT_TRUE(host.calls.empty());
}

}  // namespace
}  // namespace plumeta

namespace plumeta {
namespace {

TEST(Dispatch, NullInterfaceUnlinksTheHost) {
    FakeHost host;
    EXPECT_EQ(Handle(30, 20001, 0), 1);
    for (uint32_t id : {21001u, 22000u, 22100u, 22200u, 24011u, 24012u, 12345u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Handle(34, id), 0);
    }
    EXPECT_TRUE(host.calls.empty());
}

StatusChangeRecord Status(uint32_t id, uint32_t subject, uint32_t status, const char* description) {
    StatusChangeRecord change{};
    change.header.size = 34;
    change.header.id = id;
    change.subject = subject;
    change.status = status;
    change.description = description;
    return change;
}

int32_t Deliver(const StatusChangeRecord& change) {
    return HandleMessage(reinterpret_cast<const MessageRecord*>(&change), &testing::FixedClock);
}

// A host with history and the log file on; contact 3 and the own row 0
// (its default target is plug-in 5) filled.
struct RecordingHost : FakeHost {
    explicit RecordingHost(const std::string& logName) {
        SetSetting(267602, 1);
        SetSetting(267603, 1);
        SetSettingText(267604, logName);
        SetContact(3, 267600, 1);
        for (uint32_t row : {0u, 3u}) {
            SetContactText(row, 8, std::string("Ania"));
            SetContactText(row, 0, std::string("123"));
            SetContactText(row, 1, std::string("10"));
            SetContactText(row, 20, std::string("1"));
        }
        onSend = [](const MessageRecord&) { return 1; };
        onSendTo = [](uint32_t, const MessageRecord&) { return 10; };
        defaultTarget = 5;
    }
};

// The host delivers a status change from inside one of its operations: both
// changes are handled in full, the inner one's line first.
TEST(Dispatch, StatusChangeFromInsideAHostCall) {
    const std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("plumeta-reentry-" + std::to_string(std::rand()));
    testing::fixedMoment = testing::LocalMoment(2025, 3, 7, 13, 5, 9);
    const std::string contactLine = "07.03 13:05.09 Ania(123@GG) zmienila status na ";
    const std::string ownLine = "Zmianiles status 07.03 13:05.09 na sieci GG na ";
    struct Row {
        const char* why;
        Op op;
        uint32_t what;  // the column read, or the message id sent
        uint32_t outerId, innerId;
        std::string lines;
    };
    const Row rows[] = {
        {"contact inside a contact's uid read", Op::GetCell, 0, 24011, 24011,
         contactLine + "niedost\xEApna [inner]\r\n" + contactLine + "dostepna [outer]\r\n"},
        {"own inside a contact's history entry", Op::Send, 13004, 24011, 24012,
         ownLine + "niedost\xEApna [inner]\r\n" + contactLine + "dostepna [outer]\r\n"},
        {"contact inside the network question", Op::SendTo, 30010, 24012, 24011,
         contactLine + "niedost\xEApna [inner]\r\n" + ownLine + "dostepna [outer]\r\n"},
        {"own inside the default target", Op::DefaultTarget, 0, 24012, 24012,
         ownLine + "niedost\xEApna [inner]\r\n" + ownLine + "dostepna [outer]\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::filesystem::remove(log.string() + ".txt");
        RecordingHost host(log.string());
        bool fired = false;
        host.onCall = [&](const RecordedCall& call) {
            const bool match = call.op == row.op &&
                               (call.op == Op::GetCell ? call.column == row.what
                                                       : call.op == Op::DefaultTarget || call.id() == row.what);
            if (!match || fired) return;
            fired = true;
            EXPECT_EQ(Deliver(Status(row.innerId, row.innerId == 24011 ? 3 : 0, 0, "inner")), 0);
        };
        EXPECT_EQ(Deliver(Status(row.outerId, row.outerId == 24011 ? 3 : 0, 64, "outer")), 0);
        EXPECT_TRUE(fired);
        EXPECT_EQ(host.Sent(13004).size(), 2u);
        std::ifstream in(log.string() + ".txt", std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        EXPECT_EQ(content.str(), row.lines);
    }
    std::filesystem::remove(log.string() + ".txt");
}

// The host hands over no interface, or another one, from inside each kind
// of operation: the module never calls through null, and what follows goes
// to the interface stored then. Only the wrapper that was calling finishes
// with the copy it read (SendTo after DefaultTarget).
TEST(Dispatch, InterfaceChangedFromInsideAHostCall) {
    struct Row {
        Op op;
        std::size_t finishing;  // calls the interrupted wrapper still makes
    };
    const Row rows[] = {{Op::GetCell, 0}, {Op::Send, 0}, {Op::SendTo, 0}, {Op::DefaultTarget, 1}};
    for (const Row& row : rows) {
        for (bool relink : {false, true}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(row.op)) + (relink ? " relink" : " unlink"));
            FakeHost second;
            RecordingHost host("no-such-folder/x/statusy");
            std::size_t firedAt = 0;
            host.onCall = [&](const RecordedCall& call) {
                if (call.op != row.op || firedAt) return;
                firedAt = host.calls.size();
                Handle(30, 20001, relink ? ToWord(second.interface()) : 0);
            };
            EXPECT_EQ(Deliver(Status(24012, 0, 64, "x")), 0);
            EXPECT_EQ(Deliver(Status(24011, 3, 64, "x")), 0);
            ASSERT_NE(firedAt, 0u);
            EXPECT_EQ(host.calls.size(), firedAt + row.finishing);
            EXPECT_EQ(second.calls.empty(), !relink);
        }
    }
}

}  // namespace
}  // namespace plumeta
