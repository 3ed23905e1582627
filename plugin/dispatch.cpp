#include "plugin/dispatch.h"

#include <cstring>

#include "host/host_link.h"
#include "recorder/history.h"
#include "recorder/status_log.h"
#include "settings/columns.h"
#include "settings/option_pages.h"

namespace plumeta {
namespace {

// Identity questions: answered from constants, the texts by the same address
// every time.
struct Identity {
    uint32_t id;
    int32_t number;
    const char* text;  // when set, the answer is its address
};
constexpr Identity kIdentity[] = {
    {kMsgNetNumber, kOwnNetwork, nullptr},
    {30011, 4, nullptr},        //
    {30012, 0, "0.0.3.2"},      // version text; the version record says 0.0.3.4
    {30013, 0, "EX2"},          //
    {30014, 0, "W98"},          //
    {30015, 0, nullptr},        //
    {30016, 0, kPluginName},    //
    {30017, 0, nullptr},        //
};

// A status change runs its history half, then its log-file half; each reads
// the clock when it needs the time.
struct StatusRoute {
    uint32_t id;
    void (*history)(const StatusChangeRecord& change, Clock clock);
    void (*log)(uint32_t subject, uint32_t status, const char* description, Clock clock);
};
constexpr StatusRoute kStatusRoutes[] = {
    {kMsgContactStatus, &ContactChangeToHistory, &AppendContactStatusLine},
    {kMsgOwnStatus, &OwnChangeToHistory, &AppendOwnStatusLine},
};

template <typename T>
T ReadAt(const MessageRecord* message, std::size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(message) + offset, sizeof value);
    return value;
}

}  // namespace

int32_t HandleMessage(const MessageRecord* message, Clock clock) {
    const uint32_t id = ReadAt<uint32_t>(message, offsetof(RecordHeader, id));
    const bool hasParameters =
        ReadAt<uint16_t>(message, offsetof(RecordHeader, size)) >= kMessageRecordSize;
    const HostWord p1 = hasParameters ? ReadAt<HostWord>(message, offsetof(MessageRecord, p1)) : 0;

    for (const Identity& identity : kIdentity) {
        if (identity.id == id) {
            return identity.text ? static_cast<int32_t>(ToWord(identity.text)) : identity.number;
        }
    }
    switch (id) {
        case kMsgHostInterface:
            return hasParameters ? SetHostInterface(FromWord<HostInterface>(p1)) : 0;
        case kMsgStarted:
        case kMsg22101:
            return 1;
        case kMsg20020:
            return 2;
        default:
            break;
    }
    // Everything below calls the host; before 20001 there is none to call.
    if (!HostLinked()) return 0;
    switch (id) {
        case kMsgColumnsWanted:
            return RegisterColumns();
        case kMsgOptionPagesWanted:
            return BuildOptionPages();
        case kMsgIconWanted:
            return RegisterIcon();
        case kMsgValidateText:
            if (hasParameters) ValidateTextSetting(FromWord<ValidationNotice>(p1));
            return 0;
        default:
            break;
    }
    for (const StatusRoute& route : kStatusRoutes) {
        if (route.id != id) continue;
        const StatusChangeRecord change = TakeStatusChangeView(message);
        route.history(change, clock);
        route.log(change.subject, change.status, change.description, clock);
        return 0;
    }
    ReportUnhandled(1);
    return 0;
}

}  // namespace plumeta
