#include "recorder/history.h"

#include <string>

#include "host/host_link.h"
#include "recorder/ext_params.h"
#include "recorder/status_words.h"
#include "settings/columns.h"

namespace plumeta {
namespace {

constexpr uint32_t kMayRecordNetwork = 10;
constexpr uint32_t kMayRecordType = 2;
constexpr uint32_t kNeverRecordedStatus = 241;
constexpr uint32_t kEntryType = 1;
constexpr uint32_t kEntryFlags = 2;
constexpr char kHistoryFolder[] = "opisy";
constexpr char kDisplayParam[] = "Display";
constexpr char kOwnDisplayValue[] = "Ty";
constexpr char kSpokenVerb[] = " jest ";
// ContactSpokenName is copied into a buffer of this size (255 + NUL).
constexpr uint32_t kSpokenNameSize = 256;

// Both records of one entry, filled in the order the host is asked.
struct PendingEntry {
    HistoryEntry entry;
    HistoryAddRequest request;
};

void StartEntry(PendingEntry& pending, uint32_t row, std::time_t now) {
    pending.request = HistoryAddRequest{};
    pending.request.size = kHistoryAddRequestSize;
    pending.request.folder = "";
    InitHistoryEntry(pending.entry);
    pending.entry.flags = kEntryFlags;
    pending.entry.type = kEntryType;
    pending.entry.net = static_cast<uint32_t>(GetContactInt(row, ContactNet));
    pending.entry.time = static_cast<int64_t>(now);
}

// The texts must outlive the send: the caller owns `body` and `ext`.
void FinishEntry(PendingEntry& pending, const std::string& body, const std::string& ext) {
    pending.entry.body = body.c_str();
    pending.entry.ext = ext.c_str();
    pending.request.entry = &pending.entry;
    pending.request.folder = kHistoryFolder;
}

void SendEntry(PendingEntry& pending) {
    SendToHost(kMsgAddHistoryEntry, ToWord(&pending.request), 0);
}

char GenderMark(uint32_t row) {
    return TextOrEmpty(GetContactText(row, ContactGender, nullptr, kTextSizeUnlimited))[0];
}

}  // namespace

void ContactChangeToHistory(const StatusChangeRecord& change, std::time_t now) {
    if (GetSettingInt(SaveToHistory) != 1) return;
    const uint32_t contact = change.subject;
    PendingEntry pending;
    StartEntry(pending, contact, now);
    const std::string description = TextOrEmpty(change.description);

    // The host copies at most kSpokenNameSize bytes and may leave no NUL.
    char spokenName[kSpokenNameSize] = {};
    GetContactText(contact, ContactSpokenName, spokenName, kSpokenNameSize);
    spokenName[kSpokenNameSize - 1] = '\0';
    if (spokenName[0] == '\0') {
        GetContactText(contact, ContactDisplay, spokenName, kSpokenNameSize);
        spokenName[kSpokenNameSize - 1] = '\0';
    }

    const std::string word = ContactStatusWord(change.status, GenderMark(contact));
    std::string body = word;
    std::string spoken = spokenName + std::string(kSpokenVerb) + word;
    if (!description.empty()) {
        body += " [" + description + "]";
        spoken += " " + description;
    }

    std::string ext;
    const std::string display = TextOrEmpty(GetContactText(contact, ContactDisplay, nullptr, 0));
    if (!display.empty()) ext = SetExtParam(ext, kDisplayParam, display);

    FinishEntry(pending, body, ext);
    pending.request.contact = contact;

    if (SendToNet(kMsgMayRecord, kMayRecordNetwork, kMayRecordType, 0, 0) == 0) return;
    if (GetContactInt(contact, ContactRecordChanges) != 0) SendEntry(pending);
    if (GetSettingInt(ReadAloud) == 1 && GetContactInt(contact, ContactReadAloud) == 1) {
        SendToNet(kMsgSpeak, kSpeechNetwork, kAnyType, ToWord(spoken.c_str()), 0);
    }
}

void OwnChangeToHistory(const StatusChangeRecord& change, std::time_t now) {
    if (GetSettingInt(SaveToHistory) != 1) return;
    const uint32_t plugin = change.subject;
    const int32_t network = SendToPlugin(kMsgNetNumber, plugin, 0, 0);
    PendingEntry pending;
    StartEntry(pending, plugin, now);
    const std::string description = TextOrEmpty(change.description);

    std::string body =
        NetPrefix(static_cast<uint32_t>(network)) + OwnStatusWord(change.status, GenderMark(plugin));
    if (!description.empty()) body += " [" + description + "]";
    const std::string ext = SetExtParam("", kDisplayParam, kOwnDisplayValue);

    // The host's own copy; it stays valid while this message is handled.
    const char* historyName = TextOrEmpty(GetSettingText(HistoryDisplayName, nullptr, 0));
    FinishEntry(pending, body, ext);
    pending.request.historyName = historyName;

    if (change.status != kNeverRecordedStatus) SendEntry(pending);
}

}  // namespace plumeta
