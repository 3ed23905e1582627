// Time online: for each contact and period (a day, a week from Monday, a
// month), how long it was online and in how many sessions, in real elapsed
// time (LogRecord::moment). "Online" is every status the report's index
// counts as "w sieci" (IsOnline). A session runs from a change to an
// online status to the next change to one that is not, or to the last
// record read; one that crosses a period's end is split there and counts
// in both. Holds a row per contact and period it was online in.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "reader/last_seen.h"
#include "reader/log_reader.h"

namespace plumeta::reader {

enum class Period { Day, Week, Month };

struct OnlineRow {
    LocalTime first;  // the period's first day, 00:00:00
    ContactKey key;   // network, identifier
    std::string name;  // Windows-1250, the contact's latest
    int64_t seconds = 0;
    uint64_t sessions = 0;
};

class OnlineTable {
public:
    explicit OnlineTable(Period period) : period_(period) {}
    // Takes every record, in the order of the log; own ones are passed over.
    void Add(const LogRecord& record);
    // Ends the sessions still open at the last record read; the rows by
    // period, then by network and identifier.
    std::vector<OnlineRow> Finish();

private:
    struct Contact {
        std::string name;
        std::optional<int64_t> onlineFrom;  // a moment
    };
    using Cell = std::tuple<int64_t, ContactKey>;  // the period's first day (days since 1970), the contact
    struct Sums {
        int64_t seconds = 0;
        uint64_t sessions = 0;
    };

    void Count(const ContactKey& key, int64_t from, int64_t to);

    Period period_;
    std::map<ContactKey, Contact> contacts_;
    std::map<Cell, Sums> cells_;
    ContactKey key_;  // scratch for EntryOf
    int64_t last_ = 0;
};

// The moment the local day `day` (days since 1970) begins.
int64_t DayStart(int64_t day);

// The period of `day` (days since 1970): the first day of its day, week
// (from Monday) or month, as days since 1970.
int64_t PeriodStart(Period period, int64_t day);
// The first day of the next period after the one beginning on `start`.
int64_t NextPeriod(Period period, int64_t start);

}  // namespace plumeta::reader
