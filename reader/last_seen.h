// last-seen: for each contact, its last change and when it was last online.
// Holds one entry per contact, however long the logs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "reader/log_reader.h"

namespace plumeta::reader {

struct ContactSeen {
    LogRecord last;        // the latest change, with the latest display name
    uint64_t changes = 0;
    bool online = false;   // by the latest change that had a status
    std::optional<LocalTime> onlineSince;     // while online: since when
    std::optional<LocalTime> lastSeenOnline;  // the last change from online to 0 or 1
};

// Whether a status counts as online: anything but unavailable (0) and
// blocked (1).
bool IsOnline(uint32_t status);

// Takes a contact's next record (in the order of the log) into `seen`;
// `sameDescription`, where the caller knows it, says whether the record's
// description is the text of seen.last's.
void AddToSeen(ContactSeen& seen, const LogRecord& record);
void AddToSeen(ContactSeen& seen, const LogRecord& record, bool sameDescription);

// By network and identifier, which stay when a contact is renamed.
using ContactKey = std::pair<std::string, std::string>;

// The entry of `map` for `record`'s contact, made (value-initialized) when
// missing, and whether it was; `key` is the caller's scratch, so that
// finding a known contact allocates nothing.
template <typename Map>
std::pair<typename Map::mapped_type&, bool> EntryOf(Map& map, ContactKey& key, const LogRecord& record) {
    key.first.assign(record.network);
    key.second.assign(record.id);
    const auto [at, added] = map.try_emplace(key);  // the key copied only when added
    return {at->second, added};
}

// Numbers contacts 0, 1, 2... in the order they first come. A log of
// millions of lines looks its contact up on every one: by a 64-bit hash
// (FNV-1a) of its network and identifier in a table of its own, open and a
// power of two (no division, no node to follow), each hit checked against
// the texts. The report numbers its records a few ahead of taking them in
// (Report::Add), so that what their contacts' entries hold is fetched into
// the cache meanwhile.
class ContactNumbers {
public:
    static constexpr uint32_t kNone = UINT32_MAX;  // an own record's: no contact
    uint32_t Of(const LogRecord& record);

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t number = kNone;  // kNone: empty
    };
    void Grow();  // twice the slots, at most half of them used
    std::vector<ContactKey> keys_;  // by number
    std::vector<Slot> slots_;
};

class LastSeenTable {
public:
    // Takes a contact's record, in the order of the log; own ones are not
    // contacts and are passed over.
    void Add(const LogRecord& record);
    using Key = ContactKey;
    const std::map<Key, ContactSeen>& contacts() const { return contacts_; }

private:
    std::map<Key, ContactSeen> contacts_;
    Key key_;  // scratch for EntryOf
};

// "2026-12-08 18:31:36" comes before "2026-12-08 18:31:37". Inline: the
// report asks it a few times a record.
inline bool Earlier(const LocalTime& a, const LocalTime& b) {
    if (a.year != b.year) return a.year < b.year;
    if (a.month != b.month) return a.month < b.month;
    if (a.day != b.day) return a.day < b.day;
    if (a.hour != b.hour) return a.hour < b.hour;
    if (a.minute != b.minute) return a.minute < b.minute;
    return a.second < b.second;
}

}  // namespace plumeta::reader
