#include "reader/last_seen.h"

#include <tuple>

namespace plumeta::reader {
namespace {

constexpr uint32_t kUnavailable = 0;
constexpr uint32_t kBlocked = 1;

auto Order(const LocalTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

bool IsOnline(uint32_t status) { return status != kUnavailable && status != kBlocked; }

bool Earlier(const LocalTime& a, const LocalTime& b) { return Order(a) < Order(b); }

void AddToSeen(ContactSeen& seen, const LogRecord& record) {
    seen.last = record;
    ++seen.changes;
    if (!record.status) return;  // a code without a word tells nothing
    const bool online = IsOnline(*record.status);
    if (online && !seen.online) seen.onlineSince = record.time;
    if (!online && seen.online) seen.lastSeenOnline = record.time;
    if (!online) seen.onlineSince.reset();
    seen.online = online;
}

void LastSeenTable::Add(const LogRecord& record) {
    if (record.kind != RecordKind::Contact) return;
    AddToSeen(EntryOf(contacts_, key_, record).first, record);
}

}  // namespace plumeta::reader
