// report: the whole log as one HTML page (UTF-8, inline CSS, SVG and
// script), for people who never open a console: what was read; an index of
// the contacts (online now or last seen, status, changes), with a filter
// box that the page's script shows and drives (without script the page is
// whole); then a card per contact (a week heat map of when it is online,
// online now or last seen, the number of changes, its last descriptions,
// and on opening its whole story from the files beside the page: story.h),
// each linking back to the index; the last seven days the log has
// contacts' changes on, as timelines; and the user's own changes.
//
// The facts also stand in data-* attributes, for programs and tests:
// - a contact's <section class="contact">: data-network, data-id,
//   data-changes, data-online-since and data-last-seen ("YYYY-MM-DD
//   HH:MM:SS", or absent), data-heat: 168 whole percentages, Monday 00-01
//   first, Sunday 23-24 last, each the share of that hour of the week the
//   contact was online while the log ran (the hours it never covered: 0);
// - each description's <li><time datetime="...">, as every moment's.
// "Online" is last-seen's rule: any status but unavailable and blocked,
// from the change that sets it to the next change with a status, or to the
// log's last record. A clock set back makes such spans overlap: each moment
// counts once.
//
// Memory stays bounded however long the log: per contact, its counts, its
// newest kMaxDescriptions descriptions and its story's rows waiting and
// being written (each within kStoryBuffer for all stories, their room
// within twice that); the newest
// kMaxOwnChanges own changes; the first kMaxSkipped skipped lines; the
// newest days' records within kMaxKeptBytes.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "reader/last_seen.h"
#include "reader/log_reader.h"
#include "reader/record_format.h"
#include "reader/story.h"
#include "reader/timeline.h"
#include "reader/zone_time.h"

namespace plumeta::reader {

inline constexpr std::size_t kMaxDescriptions = 3;  // on the card; its story has them all
inline constexpr std::size_t kMaxOwnChanges = 500;
inline constexpr std::size_t kMaxSkipped = 50;
inline constexpr int kTimelineDays = 7;
inline constexpr int kWeekHours = 168;
inline constexpr std::size_t kMaxKeptBytes = std::size_t{6} << 20;  // the newest days' records, kept

class Report {
public:
    // Files as given (UTF-8 names); `problem` is "" when the file was read.
    void AddFile(const std::string& file, const std::string& problem);
    void AddSkipped(const std::string& file, uint64_t line, const std::string& why);
    // Every record, in the order of the logs; with its number from a
    // ContactNumbers that has numbered every record before it (and maybe a
    // few after), or without, numbered here: one or the other throughout.
    void Add(const LogRecord& record);
    void Add(const LogRecord& record, uint32_t contact);
    // A hint on Add's thread, a few records ahead (a decade's thousand
    // contacts do not stay in the cache): the contact numbered `later` comes
    // some records later, so its entry is fetched into the cache meanwhile;
    // `sooner`, fetched so some records ago, comes sooner, and what its entry
    // leads to (its story's end, its last description) is fetched.
    void Expect(uint32_t later, uint32_t sooner) const;
    // The timelines need the log's last days, known only at the end. Add
    // keeps the records of the newest days so far (and each contact's latest
    // before them), so that one pass does, unless those days hold more than
    // kMaxKeptBytes: then SecondPassNeeded, StartTimelines, every record
    // again through AddToTimelines, and FinishTimelines.
    bool SecondPassNeeded() const { return overflowed_; }
    void StartTimelines();
    void AddToTimelines(const LogRecord& record);
    void FinishTimelines();

    // Each contact's whole history into `stories` (the caller's, alive until
    // Html), which the page finds at `link`, its folder's name as seen from
    // the page (UTF-8); without, a card lists its last descriptions.
    void SetStories(StoryFolder* stories, const std::string& link) {
        stories_ = stories;
        storyLink_ = link;
    }

    std::string Html(const RecordFormatter& format) const;
    // The day the page is read on: dates on it and the day before read
    // "dziś" and "wczoraj". Unset: every date is written out.
    void SetToday(const LocalTime& today) { today_ = today; }

private:
    using Key = LastSeenTable::Key;
    struct Described {
        LocalTime time;
        std::string text;  // Windows-1250
    };
    struct Contact;
    // What a timeline takes of a record (DayTimeline::Add), kept: with its
    // contact (null for an own one), whose entry has its identifier, and its
    // name in its day's `names`. Small and plain: all of a decade's records
    // pass through.
    struct Kept {
        Contact* contact;
        int64_t moment;
        uint32_t nameAt, nameSize;
        uint32_t status;  // when hasStatus
        uint8_t hour, minute, second;
        bool hasStatus;
        char gender;
    };
    // A day's kept records, in the order of the logs, and their names one
    // after another; emptied when the day leaves, its room kept for another.
    struct KeptDay {
        std::tuple<int, int, int> day;
        std::vector<Kept> records;
        std::string names;  // Windows-1250
    };
    // A contact's latest record before the timelines' days, as kept. (No
    // member initializers: clang asks them of an optional<Before> before
    // Report is whole.)
    struct Before {
        LocalTime time;
        int64_t moment;
        std::optional<uint32_t> status;
        char gender;
        std::string name;
    };
    // What every record touches, together up to `recent`, which Expect
    // fetches; the rest after.
    struct Contact {
        ContactSeen seen;
        std::optional<int64_t> onlineFrom;  // a moment (LogRecord::moment), while online
        // Where the counted spans end: a clock set back makes spans overlap,
        // and an hour counts online once.
        int64_t countedTo = INT64_MIN;
        uint64_t described = 0;
        uint64_t sweep = 0;            // the last of LeaveDay's sweeps it had a record in,
        const Kept* latest = nullptr;  // and its latest record there
        Story story;
        std::deque<std::pair<int64_t, int64_t>> recent;  // its sessions of the last kRecentDays, moments
        // The newest kMaxDescriptions, the n-th (from 1) of `described` at
        // (n - 1) % kMaxDescriptions.
        std::array<Described, kMaxDescriptions> descriptions;
        // Its latest record from before the oldest of the timelines' days:
        // all they need of that time, handed over by FinishTimelines.
        std::optional<Before> before;
        std::array<uint32_t, kWeekHours> onlineSeconds{};  // by hour of the week
    };

    // Adds [from, to) to the contact's online hours, leaving out what is
    // counted already.
    void CountOnline(Contact& contact, int64_t from, int64_t to);
    ZoneOffsets offsets_;  // for Add's thread

    std::vector<std::pair<std::string, std::string>> files_;  // name, problem
    std::vector<std::pair<std::string, std::string>> skipped_;  // "FILE:LINE: ", why
    uint64_t skippedCount_ = 0, records_ = 0;
    uint64_t spilled_ = 0;  // records from a log's spill, not yet in it
    std::optional<LocalTime> first_, last_;
    int64_t firstMoment_ = INT64_MAX, lastMoment_ = INT64_MIN;  // of the records, real time
    std::optional<LocalTime> today_;
    std::map<Key, Contact> contacts_;
    std::deque<LogRecord> own_;
    uint64_t olderOwn_ = 0;
    std::set<std::tuple<int, int, int>> days_;  // the newest kTimelineDays with contacts' changes
    std::tuple<int, int, int> newest_, oldest_;  // of days_, once it has any
    std::vector<DayTimeline> timelines_;  // for those days, the newest first
    void KeepForTimelines(const LogRecord& record, Contact* contact);
    // The day's records hand each contact's latest to KeepBefore; the day
    // is emptied.
    void LeaveDay(KeptDay& day);
    static LogRecord Record(const Kept& kept, const KeptDay& day);
    static LogRecord Record(const Contact& contact, const Before& before);
    static void KeepBefore(Contact& contact, const LocalTime& time, int64_t moment, std::optional<uint32_t> status,
                           char gender, std::string_view name);
    // The records, contacts' and own, from the oldest of days_ on as it was
    // when they came, by day, while they fit kMaxKeptBytes; and emptied
    // days, for their room.
    std::vector<KeptDay> keptDays_, spareDays_;
    std::size_t keptBytes_ = 0;
    uint64_t sweep_ = 0;            // LeaveDay's sweeps so far,
    std::vector<Contact*> swept_;   // and the contacts of this one's (scratch)
    bool overflowed_ = false, secondPass_ = false;
    std::vector<Contact*> byNumber_;  // contacts_ by ContactNumbers's numbers
    ContactNumbers numbers_;          // for Add without a number
    StoryFolder* stories_ = nullptr;
    std::string storyLink_;
};

}  // namespace plumeta::reader
