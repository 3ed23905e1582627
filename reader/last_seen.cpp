#include "reader/last_seen.h"


namespace plumeta::reader {
namespace {

constexpr uint32_t kUnavailable = 0;
constexpr uint32_t kBlocked = 1;

}  // namespace

bool IsOnline(uint32_t status) { return status != kUnavailable && status != kBlocked; }

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

uint32_t ContactNumbers::Of(const LogRecord& record) {
    if (record.kind != RecordKind::Contact) return kNone;
    const auto found = numbers_.find({record.network, record.id});
    if (found != numbers_.end()) return found->second;
    const ContactKey& key = keys_.emplace_back(std::string(record.network), record.id);
    const auto number = static_cast<uint32_t>(numbers_.size());
    numbers_.emplace(Name{key.first, key.second}, number);
    return number;
}

void LastSeenTable::Add(const LogRecord& record) {
    if (record.kind != RecordKind::Contact) return;
    AddToSeen(EntryOf(contacts_, key_, record).first, record);
}

}  // namespace plumeta::reader
