#include "reader/last_seen.h"

#include <algorithm>

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

namespace {

// Network "\n" identifier, eight bytes a step: the table checks the texts,
// so the hash only needs to spread them.
uint64_t HashOf(std::string_view network, std::string_view id) {
    uint64_t hash = network.size() * 0x9E3779B97F4A7C15ull + id.size();
    const auto mix = [&](std::string_view text) {
        for (std::size_t at = 0; at < text.size(); at += 8) {
            uint64_t chunk = 0;
            for (std::size_t k = at; k < text.size() && k < at + 8; ++k) {
                chunk = chunk << 8 | static_cast<unsigned char>(text[k]);
            }
            hash = (hash ^ chunk) * 0xFF51AFD7ED558CCDull;
            hash ^= hash >> 32;
        }
    };
    mix(network);
    mix(id);
    return hash;
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
            if (known.second == record.id && known.first == record.network) return slot.number;
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
