// timeline: one day of the contacts' statuses as an SVG picture. Holds the
// day's changes, and for each contact the status it had when the day began
// (from the records before it): one day, not the whole log.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "reader/last_seen.h"
#include "reader/log_reader.h"
#include "reader/record_format.h"

namespace plumeta::reader {

class DayTimeline {
public:
    DayTimeline(int year, int month, int day);
    // Takes every record; own ones are not contacts and are passed over.
    void Add(const LogRecord& record);
    // A row for each contact that changed that day or began it in a status
    // that shows (online since the day before, say), its name at the left
    // and the day's real hours across (23 or 25 on the days the clocks
    // change, the hours labelled as the clock showed them); a bar from each
    // change to the next one, or to the end of the day or of the log; a
    // legend. Texts converted by `format`. With `rows`, the rows' names and
    // bars and the repeated hours are not drawn but written there as JSON,
    // for a page's script to draw (and to leave rows out of):
    //   {"h": bar height, "k": row height, "t": the first row's top,
    //    "e": rows between the hours' labels, "n": a name's characters
    //    shown (then "…"), "f": [fills],
    //    "s": [[fill index, status word], ...],
    //    "r": [[card, x, width, kind (in "s"), from, to, x, ...], ...]}
    // a row's card by `cardOf`, x and width in hundredths, from and to the
    // minutes of the day its bar's clock showed; the hours' labels are
    // class "h", their lines class "g", the legend a <g class="legend">.
    using CardOf = std::function<std::size_t(const ContactKey&)>;
    std::string Svg(const RecordFormatter& format, std::string* rows = nullptr, const CardOf& cardOf = {}) const;
    // How many rows the day has.
    std::size_t rows() const;
    // The day, at 00:00:00.
    const LocalTime& day() const { return day_; }

private:
    struct Change {
        int64_t second;  // since the day began, real time
        int clock;       // the second of the day its stamp shows
        std::optional<uint32_t> status;
        char gender;
    };
    struct Row {
        std::string name;  // Windows-1250, the latest
        std::optional<LocalTime> beforeTime;  // the last record before the day
        std::optional<uint32_t> before;
        char beforeGender = 0;
        std::vector<Change> changes;  // that day
    };

    static bool Drawn(const Row& row);

    LocalTime day_;
    int64_t start_ = 0, length_ = 0;  // the day's first moment, and its seconds
    std::map<ContactKey, Row> rows_;
    ContactKey key_;  // scratch for EntryOf
    std::optional<LocalTime> lastRecord_;
    int64_t lastMoment_ = 0;  // lastRecord_'s
};

}  // namespace plumeta::reader
