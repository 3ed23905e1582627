#include "reader/timeline.h"

#include <algorithm>
#include <cstdio>

#include "reader/collation.h"
#include "reader/last_seen.h"
#include "reader/time_online.h"
#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

constexpr int kDaySeconds = 24 * 3600;
constexpr int kLeft = 230;         // the names' column
constexpr int kHourWidth = 40;
constexpr int kTop = 70;           // the title and the hours above the rows
constexpr int kRowHeight = 24;
constexpr int kBarHeight = 16;
constexpr int kWidth = kLeft + 24 * kHourWidth + 30;
constexpr std::size_t kMaxNameLength = 30;  // characters, then "…"

// A colour and a texture for each kind of presence, so that none is told by
// colour alone; unavailable (and a code without a word) is left blank.
struct Category {
    const char* colour;
    const char* texture;  // white marks over it, in a 6 by 6 tile: SVG path data
    uint32_t statuses[2];
    int count;
};
constexpr Category kCategories[] = {
    {"#2e9e44", "", {64, 67}, 2},                  // available, free for chat: plain
    {"#f0b429", "M0 6L6 0M-1 1L1 -1M5 7L7 5", {65, 33}, 2},  // back soon (68 reads as 65), not available
    {"#d7263d", "M0 0L6 6M0 6L6 0", {34, 0}, 1},   // do not disturb: crossed
    {"#7b4fb8", "M2 3H4", {66, 0}, 1},              // hidden: dashes
    {"#4a4a4a", "M0 3H6", {1, 0}, 1},               // blocked: lines
};
constexpr int kLabelEvery = 20;  // rows between repeats of the hours' labels
constexpr uint32_t kUnavailable = 0;

const Category* CategoryOf(const std::optional<uint32_t>& status) {
    if (!status) return nullptr;
    const uint32_t code = *status == 68 ? 65 : *status;
    for (const Category& category : kCategories) {
        for (int i = 0; i < category.count; ++i) {
            if (category.statuses[i] == code) return &category;
        }
    }
    return nullptr;
}

int SecondOfDay(const LocalTime& time) { return time.hour * 3600 + time.minute * 60 + time.second; }

bool SameDay(const LocalTime& a, const LocalTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

// At most kMaxNameLength characters of a UTF-8 text.
std::string Shortened(const std::string& utf8) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (++characters > kMaxNameLength) return utf8.substr(0, i) + "\xE2\x80\xA6";
    }
    return utf8;
}

// "HH:MM" of a second of the day (0 to 86400), without printf: a busy day
// has thousands of bars.
std::string Clock(int second) {
    const int hour = second / 3600, minute = second / 60 % 60;
    const char text[] = {static_cast<char>('0' + hour / 10), static_cast<char>('0' + hour % 10), ':',
                         static_cast<char>('0' + minute / 10), static_cast<char>('0' + minute % 10)};
    return std::string(text, sizeof text);
}

// Where a second of a day of `length` seconds stands across, in hundredths
// of a unit: every day is as wide as 24 hours.
int64_t X(int64_t second, int64_t length) {
    return int64_t{kLeft} * 100 + (second * 24 * kHourWidth * 100 * 2 + length) / (2 * length);
}

// A coordinate in hundredths as the shortest decimal: "230", "230.5",
// "230.44".
std::string Coordinate(int64_t hundredths) {
    std::string text = std::to_string(hundredths / 100);
    const int fraction = static_cast<int>(hundredths % 100);
    if (fraction) {
        text += '.';
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10) text += static_cast<char>('0' + fraction % 10);
    }
    return text;
}

}  // namespace

DayTimeline::DayTimeline(int year, int month, int day) {
    day_.year = year;
    day_.month = month;
    day_.day = day;
    const int64_t days = DaysFromCivil(year, month, day);
    start_ = DayStart(days);
    length_ = std::max<int64_t>(DayStart(days + 1) - start_, 3600);
}

// A contact who changed that day, or who began it in a status that shows
// (online since the day before, say).
bool DayTimeline::Drawn(const Row& row) { return !row.changes.empty() || (row.beforeTime && CategoryOf(row.before)); }

std::size_t DayTimeline::rows() const {
    return static_cast<std::size_t>(
        std::count_if(rows_.begin(), rows_.end(), [](const auto& row) { return Drawn(row.second); }));
}

void DayTimeline::Add(const LogRecord& record) {
    if (!lastRecord_ || Earlier(*lastRecord_, record.time)) {
        lastRecord_ = record.time;
        lastMoment_ = record.moment;
    }
    if (record.kind != RecordKind::Contact) return;
    LocalTime dayStart = day_;
    const bool before = Earlier(record.time, dayStart);
    const bool that = SameDay(record.time, day_);
    if (!before && !that) return;
    Row& row = EntryOf(rows_, key_, record).first;
    if (that) {
        row.name = record.name;
        const int64_t second = std::clamp<int64_t>(record.moment - start_, 0, length_);
        row.changes.push_back(Change{second, SecondOfDay(record.time), record.status, record.gender});
    } else if (!row.beforeTime || !Earlier(record.time, *row.beforeTime)) {
        if (row.changes.empty()) row.name = record.name;
        row.beforeTime = record.time;
        row.before = record.status;
        row.beforeGender = record.gender;
    }
}

std::string DayTimeline::Svg(const RecordFormatter& format, std::string* rows, const CardOf& cardOf) const {
    // Rows in Polish alphabetical order, for a picture that reads the same
    // every time.
    struct Drawing {
        std::string name;
        const Row* row;
        const ContactKey* key;
    };
    std::vector<Drawing> drawn;
    for (const auto& [key, row] : rows_) {
        if (Drawn(row)) drawn.push_back({CollationKey(row.name), &row, &key});
    }
    std::sort(drawn.begin(), drawn.end(), [](const Drawing& a, const Drawing& b) {
        return a.name != b.name ? a.name < b.name : a.row->name < b.row->name;
    });
    for (Drawing& entry : drawn) entry.name = format.Utf8(entry.row->name);
    std::vector<std::pair<int, std::string>> kinds;  // the rows' data: fill and word of each kind of bar
    const bool endsThatDay = lastRecord_ && SameDay(*lastRecord_, day_);
    const int64_t end = endsThatDay ? std::clamp<int64_t>(lastMoment_ - start_, 0, length_) : length_;
    const int endClock = endsThatDay ? SecondOfDay(*lastRecord_) : kDaySeconds;
    const int labelRows = drawn.empty() ? 0 : static_cast<int>(drawn.size() - 1) / kLabelEvery;
    const int rowsHeight = (static_cast<int>(drawn.size()) + labelRows) * kRowHeight;
    const int legendTop = kTop + rowsHeight + 30;
    const int height = legendTop + 60;

    char date[16], id[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", day_.year, day_.month, day_.day);
    std::snprintf(id, sizeof id, "t%04d%02d%02d-", day_.year, day_.month, day_.day);  // unique on a page of days
    auto fill = [&](const Category& category) {
        return *category.texture ? "url(#" + std::string(id) + std::to_string(&category - kCategories) + ")"
                                 : std::string(category.colour);
    };
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
           "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(kWidth) +
           " " + std::to_string(height) + "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"13\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n<defs>";
    for (const Category& category : kCategories) {
        if (!*category.texture) continue;
        svg += "<pattern id=\"" + std::string(id) + std::to_string(&category - kCategories) +
               "\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\"><rect width=\"6\" height=\"6\" fill=\"" +
               category.colour + "\"/><path d=\"" + category.texture + "\" stroke=\"#ffffff\" stroke-width=\"1.2\"/></pattern>";
    }
    svg += "</defs>\n";
    svg += "<text x=\"10\" y=\"26\" font-size=\"18\" font-weight=\"bold\">" +
           EscapeMarkup(format.Utf8("Statusy kontaktów")) + ", " + date + "</text>\n";

    // The hour grid, labelled above the rows and again every kLabelEvery
    // rows, so that a long day keeps its hours in sight: a line every real
    // hour, labelled with the hour the clock showed (02 twice in autumn, no
    // 02 in spring), and 24 at the day's end.
    std::vector<std::pair<int64_t, int>> hours;  // seconds since the day began, the clock's hour
    for (int64_t second = 0; second < length_; second += 3600) {
        const int64_t moment = start_ + second;
        const int64_t local = moment + OffsetAt(moment);
        hours.emplace_back(second, static_cast<int>(((local % 86400) + 86400) % 86400 / 3600));
    }
    hours.emplace_back(length_, 24);
    auto labels = [&](int baseline) {
        for (const auto& [second, hour] : hours) {
            char label[4];
            std::snprintf(label, sizeof label, "%02d", hour);
            svg += std::string(rows ? "<text class=\"h\" x=\"" : "<text x=\"") + Coordinate(X(second, length_)) +
                   "\" y=\"" + std::to_string(baseline) + "\" text-anchor=\"middle\" fill=\"#555555\">" + label +
                   "</text>\n";
        }
    };
    for (const auto& [second, hour] : hours) {
        const std::string x = Coordinate(X(second, length_));
        svg += std::string(rows ? "<line class=\"g\" x1=\"" : "<line x1=\"") + x + "\" y1=\"" + std::to_string(kTop - 8) + "\" x2=\"" + x + "\" y2=\"" + std::to_string(kTop + rowsHeight) +
               "\" stroke=\"" + (hour % 6 ? "#e4e4e4" : "#b0b0b0") + "\"/>\n";
    }
    labels(kTop - 14);

    int y = kTop;
    std::size_t drawnRows = 0;
    for (const auto& [name, row, key] : drawn) {
        if (drawnRows > 0 && drawnRows % kLabelEvery == 0) {
            if (!rows) labels(y + kRowHeight - 8);  // else the script's
            y += kRowHeight;
        }
        ++drawnRows;
        std::vector<Change> changes = row->changes;
        std::stable_sort(changes.begin(), changes.end(),
                         [](const Change& a, const Change& b) { return a.second < b.second; });
        if (row->beforeTime) changes.insert(changes.begin(), Change{0, 0, row->before, row->beforeGender});
        if (rows) {
            *rows += std::string(rows->empty() ? "[" : ",[") + std::to_string(cardOf(*key));
        } else {
            svg += "<text x=\"10\" y=\"" + std::to_string(y + kBarHeight - 2) + "\">" + EscapeMarkup(Shortened(name)) +
                   "<title>" + EscapeMarkup(name) + "</title></text>\n";
        }
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const int64_t from = changes[i].second;
            const bool last = i + 1 == changes.size();
            const int64_t to = last ? std::max(end, from) : changes[i + 1].second;
            const int toClock = last ? (end > from ? endClock : changes[i].clock) : changes[i + 1].clock;
            const Category* category = CategoryOf(changes[i].status);
            if (!category || to <= from) continue;
            const std::string word = format.StatusWord(*changes[i].status, changes[i].gender);
            if (rows) {
                const int64_t x = X(from, length_), width = std::max<int64_t>(X(to, length_) - x, 100);
                const std::pair<int, std::string> kind(static_cast<int>(category - kCategories), word);
                const std::size_t k = std::find(kinds.begin(), kinds.end(), kind) - kinds.begin();
                if (k == kinds.size()) kinds.push_back(kind);
                *rows += "," + std::to_string(x) + "," + std::to_string(width) + "," + std::to_string(k) + "," +
                         std::to_string(changes[i].clock / 60) + "," + std::to_string(toClock / 60);
                continue;
            }
            svg += "<rect x=\"" + Coordinate(X(from, length_)) + "\" y=\"" + std::to_string(y + 2) +
                   "\" width=\"" + Coordinate(std::max<int64_t>(X(to, length_) - X(from, length_), 100)) + "\" height=\"" +
                   std::to_string(kBarHeight - 2) + "\" fill=\"" + fill(*category) + "\"><title>" +
                   EscapeMarkup(name) + ": " + word + " " + Clock(changes[i].clock) + "\xE2\x80\x93" + Clock(toClock) +
                   "</title></rect>\n";
        }
        if (rows) *rows += "]";
        y += kRowHeight;
    }
    if (rows) {
        std::string fills;
        for (const Category& category : kCategories) fills += (fills.empty() ? "\"" : ",\"") + fill(category) + "\"";
        std::string kindList;
        for (const auto& [fill, word] : kinds) {
            kindList += (kindList.empty() ? "[" : ",[") + std::to_string(fill) + "," + JsonInScript(word) + "]";
        }
        *rows = "{\"h\":" + std::to_string(kBarHeight) + ",\"k\":" + std::to_string(kRowHeight) + ",\"t\":" +
                std::to_string(kTop) + ",\"e\":" + std::to_string(kLabelEvery) + ",\"n\":" +
                std::to_string(kMaxNameLength) + ",\"f\":[" + fills + "],\"s\":[" +
                kindList + "],\"r\":[" + *rows + "]}";
    }

    // The legend, in the history's own words.
    if (rows) svg += "<g class=\"legend\">\n";
    int x = 10;
    for (const Category& category : kCategories) {
        std::string label;
        for (int i = 0; i < category.count; ++i) {
            if (i) label += ", ";
            label += format.StatusWord(category.statuses[i], 'm');
        }
        svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(legendTop) +
               "\" width=\"18\" height=\"12\" fill=\"" + fill(category) + "\"/>\n";
        svg += "<text x=\"" + std::to_string(x + 24) + "\" y=\"" + std::to_string(legendTop + 11) + "\">" +
               EscapeMarkup(label) + "</text>\n";
        x += 46 + static_cast<int>(label.size()) * 7;
    }
    svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(legendTop) +
           "\" width=\"18\" height=\"12\" fill=\"#ffffff\" stroke=\"#b0b0b0\"/>\n";
    svg += "<text x=\"" + std::to_string(x + 24) + "\" y=\"" + std::to_string(legendTop + 11) + "\">" +
           EscapeMarkup(format.StatusWord(kUnavailable, 'm')) + "</text>\n";
    if (rows) svg += "</g>\n";
    svg += "</svg>\n";
    return svg;
}

}  // namespace plumeta::reader
