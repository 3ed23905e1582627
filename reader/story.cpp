#include "reader/story.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

// Writes `value` in base 36 at `out`, "-" first when negative; answers
// the end. Room: 14 characters (13 digits for 2^64, and the sign).
char* PutBase36(char* out, int64_t value) {
    if (value >= 0 && value < 36) {  // a word's place, mostly
        *out = "0123456789abcdefghijklmnopqrstuvwxyz"[value];
        return out + 1;
    }
    char digits[16];
    int n = 0;
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[rest % 36];
        rest /= 36;
    } while (rest);
    if (value < 0) *out++ = '-';
    while (n) *out++ = digits[--n];
    return out;
}

bool IsStoryFile(const std::string& name) {
    if (name.size() < 5 || name[0] != 'k' || name.compare(name.size() - 3, 3, ".js") != 0) return false;
    for (std::size_t i = 1; i + 3 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

// Whether `name` is a story's file that is none of the first `count`.
bool IsOtherStory(const std::string& name, std::size_t count) {
    if (!IsStoryFile(name)) return false;
    const std::string digits = name.substr(1, name.size() - 4);
    return digits[0] == '0' || digits.size() > 9 || std::stoul(digits) > count;
}

// How many stories' files may stay open: what the process may open, less a
// margin for everything else it opens.
std::size_t OpenFilesAllowed() {
    constexpr std::size_t kMargin = 64, kMost = 4096;
#if defined(_WIN32)
    const std::size_t may = 512;  // the C library's streams, unless a program asks for more
#else
    rlimit limit{};
    const std::size_t may = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                                ? static_cast<std::size_t>(limit.rlim_cur)
                                : kMost;
#endif
    return may > kMargin ? std::min(may - kMargin, kMost) : 0;
}

}  // namespace

StoryFolder::StoryFolder(const std::string& folder, const RecordFormatter& format) : folder_(folder), format_(format) {
    const std::filesystem::path path = std::filesystem::u8path(folder);
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        problem_ = "cannot make the folder " + folder + ": " + error.message();
        return;
    }
    mayKeep_ = OpenFilesAllowed();
}

void StoryFolder::Add(Story& story, const LogRecord& record, const LogRecord* before) {
    if (!problem_.empty()) return;
    if (!story.number) {
        stories_.push_back(&story);
        story.number = static_cast<uint32_t>(stories_.size());
    }
    std::string& out = story.waiting;
    const std::size_t size = out.size();
    const LocalTime& t = record.time;
    if (t.year != day_.year || t.month != day_.month || t.day != day_.day) {  // a log's lines come a day at a time
        day_ = t;
        days_ = DaysFromCivil(t.year, t.month, t.day);
    }
    const int64_t second = days_ * 86400 + int64_t{t.hour} * 3600 + t.minute * 60 + t.second;
    char row[48];  // "\\n", TIME, "|", WORD: under 2 + 14 + 1 + 14
    char* end = row;
    if (!out.empty() || story.started) {
        *end++ = '\\';
        *end++ = 'n';
    }
    end = PutBase36(end, second - story.second);
    story.second = second;
    *end++ = '|';
    if (record.status) {
        const std::pair<uint32_t, char> key(*record.status, record.gender);
        std::size_t word = 0;
        while (word < wordKeys_.size() && wordKeys_[word] != key) ++word;
        if (word == wordKeys_.size()) {
            wordKeys_.push_back(key);
            words_.push_back(format_.StatusWord(key.first, key.second));  // UTF-8 already
        }
        end = PutBase36(end, static_cast<int64_t>(word));
    }
    out.append(row, static_cast<std::size_t>(end - row));
    const bool described = before && before->described;  // the first row's "before": no description
    const bool same = record.described == described && (!described || record.description == before->description);
    if (!same) {
        out += '|';
        // One of the story's last kRecentTexts texts again: its slot.
        std::size_t slot = 0;
        const std::size_t known = std::min<std::size_t>(story.texts, kRecentTexts);
        while (record.described && slot < known && story.recent[slot] != record.description) ++slot;
        if (record.described && slot < known) {
            out += '~';
            out += static_cast<char>('0' + slot);
        } else if (record.described) {
            story.recent[story.texts++ % kRecentTexts] = record.description;
            out += '=';
            AppendScriptText(out, format_.Utf8(OneLine(record.description)));
        }
    }
    waiting_ += out.size() - size;
    if (waiting_ >= kStoryBuffer) WriteAll(nullptr);
}

void StoryFolder::Write(Story& story, const char* tail) {
    if (!problem_.empty()) return;
    const std::filesystem::path path = std::filesystem::u8path(folder_) / ("k" + std::to_string(story.number) + ".js");
    // The first stories' files stay open from one write to the next (opening
    // them again is most of a write's cost); the others are opened each time.
    std::ofstream other;
    const bool kept = story.number <= mayKeep_;
    if (kept && kept_.size() < story.number) kept_.resize(story.number);
    std::ofstream& file = kept ? kept_[story.number - 1] : other;
    if (!file.is_open()) {
        if (!story.started) {
            // An earlier report's file is written over, which is cheaper than
            // a new one; anything else at its name (a link, a folder) is
            // removed first, so that what it leads to is not written.
            std::error_code error;
            const auto status = std::filesystem::symlink_status(path, error);
#if defined(_WIN32)
            const bool ours = false;  // the C library tells no file's links there: made afresh
#else
            const bool ours = status.type() == std::filesystem::file_type::regular &&
                              std::filesystem::hard_link_count(path, error) == 1;
#endif
            if (!error && status.type() != std::filesystem::file_type::not_found && !ours) {
                std::filesystem::remove(path, error);
            }
        }
        file.rdbuf()->pubsetbuf(nullptr, 0);  // the rows go out whole: no buffer of its own
        file.open(path, std::ios::binary | (story.started ? std::ios::app : std::ios::trunc));
    }
    // The byte order mark: a browser reads a script as UTF-8 by it, whatever
    // it takes a file without one to be.
    if (!story.started) file << "\xEF\xBB\xBFplumetaStory(" << story.number << ",\"";
    file << story.waiting;
    if (tail) file << tail;
    if (!kept || tail) file.close();
    if (!file) problem_ = "cannot write " + path.u8string();
    story.started = true;
    waiting_ -= story.waiting.size();
    // Its room kept for the next rows, up to twice its share of the buffer:
    // so all of them stay within 2 * kStoryBuffer.
    if (story.waiting.capacity() <= 2 * kStoryBuffer / stories_.size()) {
        story.waiting.clear();
    } else {
        std::string().swap(story.waiting);
    }
}

void StoryFolder::WriteAll(const char* tail) {
    for (Story* story : stories_) {
        if (tail || !story->waiting.empty()) Write(*story, tail);
    }
}

std::string StoryFolder::Finish() {
    WriteAll("\");\n");
    // An earlier report's stories beyond this one's: a card must not find them.
    const std::filesystem::path path = std::filesystem::u8path(folder_);
    std::error_code error;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (IsOtherStory(name, stories_.size())) {
            std::filesystem::remove(it->path(), error);
        }
    }
    if (error && problem_.empty()) problem_ = "cannot clear the folder " + folder_ + ": " + error.message();
    return problem_;
}

}  // namespace plumeta::reader
