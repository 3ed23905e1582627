// story: each contact's whole history, for the report page to show when a
// card is opened, however long the log: a file per contact in a folder
// beside the page, which the page loads as a script (a page opened from the
// disk may load scripts, not read files).
//
// A story's file, k<number>.js, UTF-8 with its byte order mark, is one call:
//   plumetaStory(NUMBER, "ROWS");
// ROWS, a change each, oldest first, apart by "\n" (written as that escape):
//   TIME|WORD            the description as on the row before
//   TIME|WORD|           no description
//   TIME|WORD|=TEXT      this description (TEXT may be empty: "[]"), which
//                        takes the story's next slot (0 to 7, then 0 again)
//   TIME|WORD|~S         the description in slot S
// TIME: the seconds from the row before (the first row: from 1970-01-01
// 00:00:00) of the local time as the log writes it, base 36, "-" first when
// the clock stepped back; WORD: the status word's place in words(), base
// 36, empty for a change without a status; TEXT as `show` writes it (line
// breaks as " / "), escaped as AppendScriptText does.
//
// Memory: rows wait in their Story until all of them together reach
// kStoryBuffer, then every story's waiting rows are handed to the writer,
// which appends them to the files on a thread of its own (where the build
// has threads) while the next rows wait; each keeps the room of its rows up
// to twice its share of the buffer, both waiting and being written. The
// first stories' files stay open until Finish, as many as the process may
// open less 64 (at most 4096).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "reader/log_reader.h"
#include "reader/record_format.h"

namespace plumeta::reader {

inline constexpr std::size_t kStoryBuffer = std::size_t{6} << 20;
inline constexpr std::size_t kRecentTexts = 8;

// One contact's story on its way to its file; kept by whoever keeps the
// contact (the report's table), filled by StoryFolder.
struct Story {
    uint32_t number = 0;  // its file's; 0 until its first change
    int64_t second = 0;   // the row before's time, as TIME counts it
    std::string waiting;  // rows, UTF-8, not yet in the file
    uint64_t texts = 0;       // written so far; the next goes to texts % kRecentTexts
    // The last kRecentTexts texts written, Windows-1250: a description set
    // again is its slot, not its text. Last: seldom needed.
    std::array<std::string, kRecentTexts> recent;
};

class StoryFolder {
public:
    // `folder`: where the files go (UTF-8), made when missing. An earlier
    // report's files (k<digits>.js) there are written over, and those
    // beyond this report's removed by Finish.
    // `beforeWrite`, a test's seam, is called on the writing thread before
    // each hand's rows are written.
    StoryFolder(const std::string& folder, const RecordFormatter& format,
                std::function<void()> beforeWrite = nullptr);
    ~StoryFolder();  // waits for the writer; files Finish did not end stay unended
    StoryFolder(const StoryFolder&) = delete;
    StoryFolder& operator=(const StoryFolder&) = delete;
    // Adds a contact's change to its story (numbering it on the first);
    // `before` is the contact's change before it (null for its first), kept
    // by the caller, and `sameText` whether the change's description is the
    // text of before's (false without before), which the caller knows.
    void Add(Story& story, const LogRecord& record, const LogRecord* before, bool sameText);
    // Writes every story's rest and closes it. Answers "" or why a file
    // could not be written or an earlier one removed (then the page should
    // not send readers there).
    std::string Finish();
    // The status words WORD counts in, UTF-8.
    const std::vector<std::string>& words() const { return words_; }
    // Once Finish has answered: "" or why.
    const std::string& problem() const;

private:
    struct Writer;  // the files' side, with what it keeps open
    // Every story's waiting rows to the writer, once it is done with the
    // last ones; `tail` ends every file.
    void Hand(const char* tail);

    std::unique_ptr<Writer> writer_;
    const RecordFormatter& format_;
    bool failed_ = false;          // the writer had a problem: no more rows
    bool finished_ = false;
    std::vector<Story*> stories_;  // by number - 1; the caller owns them
    std::size_t waiting_ = 0;      // bytes in every Story::waiting
    std::vector<std::pair<uint32_t, char>> wordKeys_;  // status and gender of each of words_
    std::vector<std::string> words_;
    LocalTime day_{};      // the last row's, and
    int64_t days_ = 0;     // its days since 1970
};

}  // namespace plumeta::reader
