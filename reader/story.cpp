#include "reader/story.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "reader/zone_time.h"

namespace plumeta::reader {
namespace {

void AppendBase36(std::string& out, int64_t value) {
    char digits[16];
    int n = 0;
    uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[rest % 36];
        rest /= 36;
    } while (rest);
    if (value < 0) out += '-';
    while (n) out += digits[--n];
}

bool IsStoryFile(const std::string& name) {
    if (name.size() < 5 || name[0] != 'k' || name.compare(name.size() - 3, 3, ".js") != 0) return false;
    for (std::size_t i = 1; i + 3 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
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
    // An earlier report's stories: a card of this one must not find them.
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        if (IsStoryFile(it->path().filename().u8string())) std::filesystem::remove(it->path(), error);
    }
    if (error) problem_ = "cannot clear the folder " + folder + ": " + error.message();
}

void StoryFolder::Add(Story& story, const LogRecord& record) {
    if (!problem_.empty()) return;
    if (!story.number) {
        stories_.push_back(&story);
        story.number = static_cast<uint32_t>(stories_.size());
    }
    std::string& out = story.waiting;
    const std::size_t before = out.size();
    const LocalTime& t = record.time;
    if (t.year != day_.year || t.month != day_.month || t.day != day_.day) {  // a log's lines come a day at a time
        day_ = t;
        days_ = DaysFromCivil(t.year, t.month, t.day);
    }
    const int64_t second = days_ * 86400 + int64_t{t.hour} * 3600 + t.minute * 60 + t.second;
    if (!out.empty() || story.started) out += "\\n";
    AppendBase36(out, second - story.second);
    story.second = second;
    out += '|';
    if (record.status) {
        const std::pair<uint32_t, char> key(*record.status, record.gender);
        std::size_t word = 0;
        while (word < wordKeys_.size() && wordKeys_[word] != key) ++word;
        if (word == wordKeys_.size()) {
            wordKeys_.push_back(key);
            words_.push_back(format_.StatusWord(key.first, key.second));  // UTF-8 already
        }
        AppendBase36(out, static_cast<int64_t>(word));
    }
    const bool same = record.described == story.described && (!record.described || record.description == story.description);
    if (!same) {  // the first row's "before": no description
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
        story.described = record.described;
        story.description = record.description;
    }
    waiting_ += out.size() - before;
    if (waiting_ >= kStoryBuffer) WriteAll(nullptr);
}

void StoryFolder::Write(Story& story, const char* tail) {
    if (!problem_.empty()) return;
    const std::filesystem::path path = std::filesystem::u8path(folder_) / ("k" + std::to_string(story.number) + ".js");
    std::ofstream file(path, std::ios::binary | (story.started ? std::ios::app : std::ios::trunc));
    // The byte order mark: a browser reads a script as UTF-8 by it, whatever
    // it takes a file without one to be.
    if (!story.started) file << "\xEF\xBB\xBFplumetaStory(" << story.number << ",\"";
    file << story.waiting;
    if (tail) file << tail;
    file.close();
    if (!file) problem_ = "cannot write " + path.u8string();
    story.started = true;
    waiting_ -= story.waiting.size();
    std::string().swap(story.waiting);  // its memory back
}

void StoryFolder::WriteAll(const char* tail) {
    for (Story* story : stories_) {
        if (tail || !story->waiting.empty()) Write(*story, tail);
    }
}

std::string StoryFolder::Finish() {
    WriteAll("\");\n");
    return problem_;
}

}  // namespace plumeta::reader
