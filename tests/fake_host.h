// A recording host for unit tests: answers cell reads from its tables and
// sends from a callback, and keeps every call with a deep copy, taken at call
// time, of each record and text it was handed (they live on the module's
// stack and are gone when the call returns).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host_link.h"

namespace plumeta::testing {

struct RecordedCall {
    enum class Op { DefaultTarget, ReportUnhandled, Send, SendTo, GetCell };
    explicit RecordedCall(Op kind) : op(kind) {}
    Op op;
    int32_t code = 0;      // ReportUnhandled
    uint32_t target = 0;   // SendTo
    uint32_t table = 0, row = 0, column = 0;
    CellValue cellIn{};    // GetCell, as it came in
    std::vector<uint8_t> bytes;  // Send/SendTo: the record, `size` bytes
    MessageRecord message{};     // Send/SendTo: the first 30 bytes
    // Deep copies of what the record points to, by message id.
    std::string text;            // 10201, 78700 (p1); 1102 text default
    bool textNull = false;
    std::vector<uint8_t> itemBytes;   // 10101: the OptionItem, `size` bytes
    OptionItem item{};
    std::vector<uint8_t> requestBytes, entryBytes;  // 13004
    HistoryAddRequest request{};
    HistoryEntry entry{};
    std::string folder, historyName, body, ext;
    bool historyNameNull = false;

    uint32_t id() const { return message.header.id; }
};

class FakeHost {
public:
    FakeHost();   // links itself as the module's host
    ~FakeHost();  // unlinks
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    HostInterface* interface() { return &link_.iface; }

    // Cell contents. A text set to std::nullopt answers a null address; a
    // cell not set at all is left untouched.
    void SetSetting(uint32_t column, int32_t value) { settingInts_[column] = value; }
    void SetSettingText(uint32_t column, std::optional<std::string> text) {
        settingTexts_[column] = std::move(text);
    }
    void SetContact(uint32_t row, uint32_t column, int32_t value) {
        contactInts_[{row, column}] = value;
    }
    void SetContactText(uint32_t row, uint32_t column, std::optional<std::string> text) {
        contactTexts_[{row, column}] = std::move(text);
    }
    // When set, buffered text reads fill the whole buffer with no NUL.
    bool copyWithoutTerminator = false;

    // Runs inside every operation, once the call is recorded: a host that
    // delivers messages back into the module from there.
    std::function<void(const RecordedCall&)> onCall;
    std::function<int32_t(const MessageRecord&)> onSend;                    // default 0
    std::function<int32_t(uint32_t target, const MessageRecord&)> onSendTo;  // default 0
    uint32_t defaultTarget = 0;

    std::vector<RecordedCall> calls;
    std::vector<uint32_t> SentIds() const;  // ids of Send and SendTo, in order
    std::vector<RecordedCall> Sent(uint32_t id) const;
    // One short line per call ("GetCell 0/0/267602", "Send 13004", ...).
    std::vector<std::string> Trace() const;

private:
    struct Link {
        HostInterface iface;
        FakeHost* owner;
    };
    static FakeHost& Of(HostInterface* self);
    static uint32_t PLUMETA_HOSTCALL DefaultTargetOp(HostInterface* self);
    static int32_t PLUMETA_HOSTCALL ReportUnhandledOp(HostInterface* self, int32_t code);
    static int32_t PLUMETA_HOSTCALL SendOp(HostInterface* self, MessageRecord* message);
    static int32_t PLUMETA_HOSTCALL SendToOp(HostInterface* self, uint32_t target,
                                             MessageRecord* message);
    static int32_t PLUMETA_HOSTCALL GetCellOp(HostInterface* self, uint32_t table, uint32_t row,
                                              uint32_t column, CellValue* cell);
    RecordedCall Capture(RecordedCall::Op op, const MessageRecord* message) const;
    void Record(RecordedCall call);

    HostOperations operations_;
    Link link_;
    std::map<uint32_t, int32_t> settingInts_;
    std::map<uint32_t, std::optional<std::string>> settingTexts_;
    std::map<std::pair<uint32_t, uint32_t>, int32_t> contactInts_;
    std::map<std::pair<uint32_t, uint32_t>, std::optional<std::string>> contactTexts_;
};

// A clock fixed at `fixedMoment`, for tests that need to know the time.
inline int64_t fixedMoment = 0;
inline int64_t FixedClock() { return fixedMoment; }
// The moment that local time shows as the given date and time.
int64_t LocalMoment(int year, int month, int day, int hour, int minute, int second);

// Little-endian bytes of a value, for golden images.
std::vector<uint8_t> Bytes(const void* data, std::size_t size);
void PutU16(std::vector<uint8_t>& out, uint16_t value);
void PutU32(std::vector<uint8_t>& out, uint32_t value);
void PutU64(std::vector<uint8_t>& out, uint64_t value);
void PutAddress(std::vector<uint8_t>& out, const void* address);

}  // namespace plumeta::testing
