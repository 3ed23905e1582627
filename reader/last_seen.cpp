#include "reader/last_seen.h"

#include <algorithm>

namespace plumeta::reader {
namespace {

constexpr uint32_t kUnavailable = 0;
constexpr uint32_t kBlocked = 1;

}  // namespace

bool IsOnline(uint32_t status) { return status != kUnavailable && status != kBlocked; }

namespace {

// LogRecord's fields, as TakeNext copies them: one added there and not here
// mostly changes the size, and then this does not compile.
struct CopiedFields {
    RecordKind kind;
    LocalTime time;
    std::string name, id;
    std::string_view network;
    std::optional<uint32_t> status;
    char gender;
    bool described;
    std::string description;
    uint64_t line;
    bool spilled;
    bool inTemporary;
    int64_t moment;
};
static_assert(sizeof(CopiedFields) == sizeof(LogRecord), "a field of LogRecord that TakeNext does not copy");

// `next` into `last`, the same contact's record before it: its identifier
// is the same text (the contact's key), its name and description mostly
// are, so texts are copied only where they differ (a record's copies are a
// good part of the report's work).
void TakeNext(LogRecord& last, const LogRecord& next, bool sameDescription) {
    last.kind = next.kind;
    last.time = next.time;
    if (last.name != next.name) last.name = next.name;
    if (last.id != next.id) last.id = next.id;
    last.network = next.network;
    last.status = next.status;
    last.gender = next.gender;
    last.described = next.described;
    if (!sameDescription) last.description = next.description;
    last.line = next.line;
    last.spilled = next.spilled;
    last.inTemporary = next.inTemporary;
    last.moment = next.moment;
}

}  // namespace

void AddToSeen(ContactSeen& seen, const LogRecord& record) {
    AddToSeen(seen, record, seen.last.description == record.description);
}

void AddToSeen(ContactSeen& seen, const LogRecord& record, bool sameDescription) {
    TakeNext(seen.last, record, sameDescription);
    ++seen.changes;
    if (!record.status) return;  // a code without a word tells nothing
    const bool online = IsOnline(*record.status);
    if (online && !seen.online) seen.onlineSince = record.time;
    if (!online && seen.online) seen.lastSeenOnline = record.time;
    if (!online) seen.onlineSince.reset();
    seen.online = online;
}

namespace {

// FNV-1a over network "\n" identifier: a few instructions a byte, and the
// table checks the texts.
uint64_t HashOf(std::string_view network, std::string_view id) {
    uint64_t hash = 14695981039346656037ull;
    for (char c : network) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ '\n') * 1099511628211ull;
    for (char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash ^ hash >> 32;  // the high bits into the low ones the table takes
}

// Short texts compared here rather than by a call: twice a record.
bool Same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

}  // namespace

uint32_t ContactNumbers::Of(const LogRecord& record) {
    if (record.kind != RecordKind::Contact) return kNone;
    if (keys_.size() * 2 >= slots_.size()) Grow();
    const uint64_t hash = HashOf(record.network, record.id);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (slot.number == kNone) {
            slot = {hash, static_cast<uint32_t>(keys_.size())};
            keys_.emplace_back(std::string(record.network), record.id);
            return slot.number;
        }
        if (slot.hash == hash) {
            const ContactKey& known = keys_[slot.number];
            if (Same(known.second, record.id) && Same(known.first, record.network)) return slot.number;
        }
    }
}

void ContactNumbers::Grow() {
    std::vector<Slot> slots(std::max<std::size_t>(1024, slots_.size() * 2));
    for (const Slot& slot : slots_) {
        if (slot.number == kNone) continue;
        std::size_t i = slot.hash & (slots.size() - 1);
        while (slots[i].number != kNone) i = (i + 1) & (slots.size() - 1);
        slots[i] = slot;
    }
    slots_.swap(slots);
}

void LastSeenTable::Add(const LogRecord& record) {
    if (record.kind != RecordKind::Contact) return;
    AddToSeen(EntryOf(contacts_, key_, record).first, record);
}

}  // namespace plumeta::reader
