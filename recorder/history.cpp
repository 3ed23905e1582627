#include "recorder/history.h"

#include "host/host_link.h"
#include "recorder/ext_params.h"
#include "recorder/status_words.h"
#include "recorder/text_builder.h"
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

void StartEntry(PendingEntry& pending, uint32_t row, Clock clock) {
    pending.request = HistoryAddRequest{};
    pending.request.size = kHistoryAddRequestSize;
    pending.request.folder = "";
    InitHistoryEntry(pending.entry);
    pending.entry.flags = kEntryFlags;
    pending.entry.type = kEntryType;
    pending.entry.net = static_cast<uint32_t>(GetContactInt(row, ContactNet));
    pending.entry.time = clock();
}

// The texts of one entry, one after another in one buffer, each ending in
// NUL: the entry's body, then the ext string, then (for a contact) the
// spoken sentence. Their addresses are taken once all are built: the buffer
// may move while it grows.
struct EntryTexts {
    TextBuilder<512> bytes;
    std::size_t extAt = 0;
    std::size_t spokenAt = 0;

    const char* body() const { return bytes.data(); }
    const char* ext() const { return bytes.data() + extAt; }
    const char* spoken() const { return bytes.data() + spokenAt; }
};

// The entry's body: `opening` and `word`, then " [description]" when there
// is one.
void AppendBody(EntryTexts& texts, const char* opening, const char* word, const char* description) {
    texts.bytes.Append(opening);
    texts.bytes.Append(word);
    if (*description) {
        texts.bytes.Append(" [");
        texts.bytes.Append(description);
        texts.bytes.Push(']');
    }
    texts.bytes.Push('\0');
}

void AppendExt(EntryTexts& texts, const char* display) {
    texts.extAt = texts.bytes.size();
    if (*display) AppendExtEntry(texts.bytes, kDisplayParam, display);
    texts.bytes.Push('\0');
}

// The texts must outlive the send; the caller owns them.
void FinishEntry(PendingEntry& pending, const EntryTexts& texts) {
    pending.entry.body = texts.body();
    pending.entry.ext = texts.ext();
    pending.request.entry = &pending.entry;
    pending.request.folder = kHistoryFolder;
}

void SendEntry(PendingEntry& pending) {
    SendToHost(kMsgAddHistoryEntry, ToWord(&pending.request), 0);
}

char GenderMark(uint32_t row) {
    return TextOrEmpty(GetContactText(row, ContactGender, nullptr, kTextSizeUnlimited))[0];
}

// Reads `column` into the spoken-name buffer. The host copies at most
// kSpokenNameSize bytes and may leave no NUL.
void ReadSpokenName(uint32_t contact, uint32_t column, char (&name)[kSpokenNameSize]) {
    GetContactText(contact, column, name, kSpokenNameSize);
    name[kSpokenNameSize - 1] = '\0';
}

}  // namespace

void ContactChangeToHistory(const StatusChangeRecord& change, Clock clock) {
    if (GetSettingInt(SaveToHistory) != 1) return;
    const uint32_t contact = change.subject;
    PendingEntry pending;
    StartEntry(pending, contact, clock);
    const char* description = TextOrEmpty(change.description);

    char spokenName[kSpokenNameSize] = {};
    ReadSpokenName(contact, ContactSpokenName, spokenName);
    if (spokenName[0] == '\0') ReadSpokenName(contact, ContactDisplay, spokenName);
    const char* word = ContactStatusWord(change.status, GenderMark(contact));
    const char* display = TextOrEmpty(GetContactText(contact, ContactDisplay, nullptr, 0));

    EntryTexts texts;
    AppendBody(texts, "", word, description);
    AppendExt(texts, display);
    texts.spokenAt = texts.bytes.size();
    texts.bytes.Append(spokenName);
    texts.bytes.Append(kSpokenVerb);
    texts.bytes.Append(word);
    if (*description) {
        texts.bytes.Push(' ');
        texts.bytes.Append(description);
    }
    texts.bytes.Push('\0');

    FinishEntry(pending, texts);
    pending.request.contact = contact;

    if (SendToNet(kMsgMayRecord, kMayRecordNetwork, kMayRecordType, 0, 0) == 0) return;
    if (GetContactInt(contact, ContactRecordChanges) != 0) SendEntry(pending);
    if (GetSettingInt(ReadAloud) == 1 && GetContactInt(contact, ContactReadAloud) == 1) {
        SendToNet(kMsgSpeak, kSpeechNetwork, kAnyType, ToWord(texts.spoken()), 0);
    }
}

void OwnChangeToHistory(const StatusChangeRecord& change, Clock clock) {
    if (GetSettingInt(SaveToHistory) != 1) return;
    const uint32_t plugin = change.subject;
    const int32_t network = SendToPlugin(kMsgNetNumber, plugin, 0, 0);
    PendingEntry pending;
    StartEntry(pending, plugin, clock);
    const char* description = TextOrEmpty(change.description);

    EntryTexts texts;
    AppendBody(texts, NetPrefix(static_cast<uint32_t>(network)),
               OwnStatusWord(change.status, GenderMark(plugin)), description);
    AppendExt(texts, kOwnDisplayValue);

    // The host's own copy; it stays valid while this message is handled.
    const char* historyName = TextOrEmpty(GetSettingText(HistoryDisplayName, nullptr, 0));
    FinishEntry(pending, texts);
    pending.request.historyName = historyName;

    if (change.status != kNeverRecordedStatus) SendEntry(pending);
}

}  // namespace plumeta
