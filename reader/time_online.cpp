#include "reader/time_online.h"

#include <algorithm>

#include "reader/zone_time.h"

namespace plumeta::reader {

int64_t DayStart(int64_t day) {
    ZoneClock clock;  // no stamp before it: the earlier moment of a repeated midnight
    return clock.MomentOf(CivilFromDays(day));
}

int64_t PeriodStart(Period period, int64_t day) {
    switch (period) {
        case Period::Day:
            return day;
        case Period::Week:
            return day - ((day + 3) % 7 + 7) % 7;  // 1970-01-01 was a Thursday
        case Period::Month: {
            const LocalTime date = CivilFromDays(day);
            return day - (date.day - 1);
        }
    }
    return day;
}

int64_t NextPeriod(Period period, int64_t start) {
    switch (period) {
        case Period::Day:
            return start + 1;
        case Period::Week:
            return start + 7;
        case Period::Month: {
            const LocalTime date = CivilFromDays(start);
            return DaysFromCivil(date.year + date.month / 12, date.month % 12 + 1, 1);
        }
    }
    return start + 1;
}

void OnlineTable::Count(const ContactKey& key, int64_t from, int64_t to) {
    if (to <= from) return;
    // The local day the session begins on: its moment read in the zone.
    const LocalTime local = ToLocalTime(from);
    int64_t start = PeriodStart(period_, DaysFromCivil(local.year, local.month, local.day));
    while (from < to) {
        const int64_t next = NextPeriod(period_, start);
        const int64_t end = std::min(to, DayStart(next));
        Sums& sums = cells_[Cell{start, key}];
        sums.seconds += std::max<int64_t>(end - from, 0);
        ++sums.sessions;
        from = std::max(from, end);
        start = next;
    }
}

void OnlineTable::Add(const LogRecord& record) {
    last_ = std::max(last_, record.moment);
    if (record.kind != RecordKind::Contact) return;
    Contact& contact = EntryOf(contacts_, key_, record).first;
    contact.name = record.name;
    if (!record.status) return;  // a code without a word tells nothing
    const bool online = IsOnline(*record.status);
    if (contact.onlineFrom && !online) {
        Count(key_, *contact.onlineFrom, record.moment);
        contact.onlineFrom.reset();
    } else if (online && !contact.onlineFrom) {
        contact.onlineFrom = record.moment;
    }
}

std::vector<OnlineRow> OnlineTable::Finish() {
    for (auto& [key, contact] : contacts_) {
        if (contact.onlineFrom) Count(key, *contact.onlineFrom, last_);
        contact.onlineFrom.reset();
    }
    std::vector<OnlineRow> rows;
    rows.reserve(cells_.size());
    for (const auto& [cell, sums] : cells_) {
        OnlineRow row;
        row.first = CivilFromDays(std::get<0>(cell));
        row.key = std::get<1>(cell);
        row.name = contacts_[row.key].name;
        row.seconds = sums.seconds;
        row.sessions = sums.sessions;
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace plumeta::reader
