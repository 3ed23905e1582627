#include "reader/story.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <thread>

#include <sys/resource.h>
#endif

#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// Each of 0 to 36 * 36 - 1 as its two digits of base 36: a row's time is
// mostly three or four digits, two of these.
struct DigitPairs {
    char pair[36 * 36][2];
    constexpr DigitPairs() : pair() {
        for (int i = 0; i < 36 * 36; ++i) {
            pair[i][0] = kDigits[i / 36];
            pair[i][1] = kDigits[i % 36];
        }
    }
};
constexpr DigitPairs kPairs;

// Writes `value` in base 36 at `out`, "-" first when negative; answers
// the end. Room: 14 characters (13 digits for 2^64, and the sign).
char* PutBase36(char* out, int64_t value) {
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    if (value < 0) *out++ = '-';
    if (rest < 36) {  // a word's place, mostly
        *out = kDigits[rest];
        return out + 1;
    }
    if (rest < 36 * 36 * 36 * 36) {  // the high pair's digits (none, one or two), then the low pair
        const auto high = static_cast<uint32_t>(rest / (36 * 36)), low = static_cast<uint32_t>(rest % (36 * 36));
        if (high >= 36) *out++ = kPairs.pair[high][0];
        if (high > 0) *out++ = kPairs.pair[high][1];
        *out++ = kPairs.pair[low][0];
        *out++ = kPairs.pair[low][1];
        return out;
    }
    int digits = 1;
    for (uint64_t power = 36; digits < 13 && rest >= power; power *= 36) ++digits;
    char* const end = out + digits;
    for (char* at = end; at != out; rest /= 36) *--at = kDigits[rest % 36];
    return end;
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

// The files' side: rows handed over (by number - 1) are appended to their
// files, on a thread of its own where the build has one (not the shipped
// Windows one). The hand is the writer's from Start until Wait returns;
// the rest here is the writer's alone.
struct StoryFolder::Writer {
    std::string folder;
    std::function<void()> beforeWrite;
    std::size_t mayKeep = 0;
    std::vector<std::ofstream> kept;  // the first mayKeep stories' files, open between writes
    std::vector<char> started;        // by number - 1: its file begun
    std::string problem;
    // The hand.
    std::vector<std::string> rows;  // by number - 1
    const char* tail = nullptr;
    std::size_t room = 0;  // what each of `rows` may keep of its room

    // Appends rows[index] (and the tail) to story index + 1's file.
    void Write(std::size_t index) {
        const uint32_t number = static_cast<uint32_t>(index + 1);
        std::string& text = rows[index];
        if (!problem.empty()) {
            text.clear();
            return;
        }
        const std::filesystem::path path = std::filesystem::u8path(folder) / ("k" + std::to_string(number) + ".js");
        if (started.size() <= index) started.resize(index + 1, false);
        // The first stories' files stay open from one write to the next
        // (opening them again is most of a write's cost); the others are
        // opened each time.
        std::ofstream other;
        const bool keep = number <= mayKeep;
        if (keep && kept.size() < number) kept.resize(number);
        std::ofstream& file = keep ? kept[index] : other;
        if (!file.is_open()) {
            if (!started[index]) {
                // An earlier report's file is written over, which is cheaper
                // than a new one; anything else at its name (a link, a folder)
                // is removed first, so that what it leads to is not written.
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
            file.open(path, std::ios::binary | (started[index] ? std::ios::app : std::ios::trunc));
        }
        // The byte order mark: a browser reads a script as UTF-8 by it,
        // whatever it takes a file without one to be.
        if (!started[index]) file << "\xEF\xBB\xBFplumetaStory(" << number << ",\"";
        file << text;
        if (tail) file << tail;
        if (!keep || tail) file.close();
        if (!file) problem = "cannot write " + path.u8string();
        started[index] = true;
        // Its room kept for the next rows, up to `room`.
        if (text.capacity() <= room) {
            text.clear();
        } else {
            std::string().swap(text);
        }
    }

    void WriteHand() {
        if (beforeWrite) beforeWrite();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (tail || !rows[i].empty()) Write(i);
        }
    }

#if !defined(_WIN32)
    std::mutex mutex;
    std::condition_variable changed;
    bool handed = false;  // the hand is the thread's
    bool stop = false;
    std::thread thread;

    void Run() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return handed || stop; });
            if (!handed) return;
            lock.unlock();
            WriteHand();
            lock.lock();
            handed = false;
            changed.notify_all();
        }
    }
#endif

    // Until the last hand is written.
    void Wait() {
#if !defined(_WIN32)
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !handed; });
#endif
    }

    // The hand filled: written meanwhile, or at once without a thread.
    void Start() {
#if !defined(_WIN32)
        if (thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                handed = true;
            }
            changed.notify_all();
            return;
        }
#endif
        WriteHand();
    }

    void Stop() {
#if !defined(_WIN32)
        if (!thread.joinable()) return;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return !handed; });
            stop = true;
        }
        changed.notify_all();
        thread.join();
#endif
    }
};

StoryFolder::StoryFolder(const std::string& folder, const RecordFormatter& format,
                         std::function<void()> beforeWrite)
    : writer_(new Writer), format_(format) {
    Writer& w = *writer_;
    w.folder = folder;
    w.beforeWrite = std::move(beforeWrite);
    const std::filesystem::path path = std::filesystem::u8path(folder);
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        w.problem = "cannot make the folder " + folder + ": " + error.message();
        failed_ = true;
        return;
    }
    w.mayKeep = OpenFilesAllowed();
#if !defined(_WIN32)
    try {
        w.thread = std::thread([&w] { w.Run(); });
    } catch (...) {  // no thread to be had: each hand is written at once
    }
#endif
}

StoryFolder::~StoryFolder() { writer_->Stop(); }

const std::string& StoryFolder::problem() const { return writer_->problem; }

void StoryFolder::Add(Story& story, const LogRecord& record, const LogRecord* before, bool sameText) {
    if (failed_) return;
    const bool first = !story.number;
    if (first) {
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
    if (!first) {
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
    const bool same = record.described == described && (!described || sameText);
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
    if (waiting_ >= kStoryBuffer) Hand(nullptr);
}

void StoryFolder::Hand(const char* tail) {
    Writer& w = *writer_;
    w.Wait();
    if (!w.problem.empty()) failed_ = true;
    if (w.rows.size() < stories_.size()) w.rows.resize(stories_.size());
    // The writer's emptied rows, with their room, become the waiting ones.
    for (std::size_t i = 0; i < stories_.size(); ++i) stories_[i]->waiting.swap(w.rows[i]);
    waiting_ = 0;
    w.tail = tail;
    // Twice a story's share of the buffer, so that all rows' room, waiting
    // and being written, stays within 4 * kStoryBuffer.
    w.room = stories_.empty() ? 0 : 2 * kStoryBuffer / stories_.size();
    w.Start();
}

std::string StoryFolder::Finish() {
    Writer& w = *writer_;
    if (finished_) return w.problem;
    finished_ = true;
    Hand("\");\n");
    w.Stop();
    // An earlier report's stories beyond this one's: a card must not find them.
    const std::filesystem::path path = std::filesystem::u8path(w.folder);
    std::error_code error;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().u8string();
        if (IsOtherStory(name, stories_.size())) {
            std::filesystem::remove(it->path(), error);
        }
    }
    if (error && w.problem.empty()) w.problem = "cannot clear the folder " + w.folder + ": " + error.message();
    return w.problem;
}

}  // namespace plumeta::reader
