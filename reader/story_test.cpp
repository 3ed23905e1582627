#include "reader/story.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "reader/zone_time.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace plumeta::reader {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each row as the page reads it back: the time's step (back too), the word's
// place, and the description only where it changed: none, "[]", set again,
// lines and quotes, and one written before by its slot; an earlier report's
// stories gone, other files kept, links at stories' names not followed.
TEST(Story, RowsHoldEveryChange) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "plumeta-story-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "k7.js") << "old";
    std::ofstream(folder / "notes.txt") << "mine";
    // Links at two stories' names, to files of somebody else's: left whole.
    std::ofstream(folder / "theirs-1") << "theirs";
    std::ofstream(folder / "theirs-2") << "theirs";
    std::error_code linked;
    std::filesystem::create_hard_link(folder / "theirs-1", folder / "k1.js", linked);
    std::filesystem::create_symlink(folder / "theirs-2", folder / "k2.js", linked);
    struct Row {
        const char* id;
        int hour, minute;
        int status;  // -1: none
        const char* description;  // nullptr: none
    };
    const Row rows[] = {
        {"A", 8, 0, 2, nullptr},         {"A", 9, 0, 0x14, "w domu"}, {"B", 9, 1, 2, "x"},
        {"A", 8, 30, -1, ""},            {"A", 8, 31, 2, "a\nb\"c\\"}, {"A", 8, 32, 2, "a\nb\"c\\"},
        {"A", 8, 33, 0x14, nullptr},     {"A", 8, 34, 2, "w domu"},
    };
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    StoryFolder stories(folder.u8string(), format);
    Story a, b;
    LogRecord beforeA, beforeB;
    for (const Row& row : rows) {
        LogRecord record;
        record.time = LocalTime{2026, 11, 1, row.hour, row.minute, 0};
        record.id = row.id;
        if (row.status >= 0) record.status = static_cast<uint32_t>(row.status);
        record.described = row.description != nullptr;
        if (row.description) record.description = row.description;
        const bool isA = row.id[0] == 'A';
        LogRecord& before = isA ? beforeA : beforeB;
        const LogRecord* prior = (isA ? a : b).number ? &before : nullptr;
        stories.Add(isA ? a : b, record, prior, prior && record.description == prior->description);
        before = record;
    }
    EXPECT_EQ(stories.Finish(), "");
    EXPECT_EQ(Read(folder / "k1.js"),
              "\xEF\xBB\xBFplumetaStory(1,\"tntcw0|0\\n2s0|1|=w domu\\n-1e0||=\\n1o|0|=a / b\\\"c\\\\\\n1o|0\\n1o|1|"
              "\\n1o|0|~0\");\n");
    EXPECT_EQ(Read(folder / "k2.js"), "\xEF\xBB\xBFplumetaStory(2,\"tntfpo|0|=x\");\n");
    EXPECT_EQ(b.number, 2u);
    EXPECT_FALSE(std::filesystem::exists(folder / "k7.js"));
    EXPECT_EQ(Read(folder / "notes.txt"), "mine");
    EXPECT_EQ(Read(folder / "theirs-1") + Read(folder / "theirs-2"), "theirstheirs");
    EXPECT_EQ(stories.words(), (std::vector<std::string>{format.StatusWord(2, 0), format.StatusWord(0x14, 0)}));
    std::filesystem::remove_all(folder);
}

// A row's time, the seconds from the row before in base 36, at the edges
// of its lengths, both ways.
TEST(Story, TimesInBase36) {
    const struct {
        int64_t step;
        const char* digits;
    } steps[] = {{35, "z"},          {36, "10"},         {1295, "zz"},         {1296, "100"},
                 {46655, "zzz"},     {46656, "1000"},    {1679615, "zzzz"},    {1679616, "10000"},
                 {-1, "-1"},         {-36, "-10"},       {-1296, "-100"},      {-1679616, "-10000"}};
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "plumeta-story-times";
    std::filesystem::remove_all(folder);
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    StoryFolder stories(folder.u8string(), format);
    Story story;
    int64_t second = DaysFromCivil(2026, 6, 1) * 86400;
    std::string expected = "\xEF\xBB\xBFplumetaStory(1,\"" + std::string("tfxeo0|0");  // 2026-06-01 00:00:00
    LogRecord before;
    for (std::size_t i = 0; i <= std::size(steps); ++i) {
        if (i) {
            second += steps[i - 1].step;
            expected += std::string("\\n") + steps[i - 1].digits + "|0";
        }
        LogRecord record;
        const LocalTime date = CivilFromDays(second / 86400);
        record.time = LocalTime{date.year, date.month, date.day, static_cast<int>(second % 86400 / 3600),
                                static_cast<int>(second % 3600 / 60), static_cast<int>(second % 60)};
        record.status = 2;
        stories.Add(story, record, i ? &before : nullptr, false);
        before = record;
    }
    EXPECT_EQ(stories.Finish(), "");
    EXPECT_EQ(Read(folder / "k1.js"), expected + "\");\n");
    std::filesystem::remove_all(folder);
}

// Stories long enough to be written in several goes give the same files
// whether their files stay open between goes or are opened for each (as
// when the process may open few: here one story's file kept), and when rows
// go on while the writer is held in its first go on purpose.
TEST(Story, WrittenInGoesKeptOpenOrNot) {
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    const auto write = [&](const std::filesystem::path& folder, bool stall) {
        std::filesystem::remove_all(folder);
        std::promise<void> holding, release;
        std::shared_future<void> released = release.get_future().share();
        int goes = 0;
        StoryFolder stories(folder.u8string(), format, [&] {
            if (!stall || goes++) return;
            holding.set_value();
            released.wait();
        });
        Story story[3];
        LogRecord before[3];
        std::thread releasing;
        for (int i = 0; i < 9; ++i) {
            // The first go is handed over with the fourth row; the fifth to
            // eighth come while it is held, and the eighth hands the next go
            // over, which must wait for the first to be written: the writer
            // is let go a while later, whatever the adding does meanwhile.
            if (stall && i == 4) holding.get_future().wait();
            if (stall && i == 7) {
                releasing = std::thread([&] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    release.set_value();
                });
            }
            LogRecord record;
            record.time = LocalTime{2026, 11, 1, 8, i, 0};
            record.status = 2;
            record.described = true;
            record.description = std::string(kStoryBuffer / 4, static_cast<char>('a' + i));
            stories.Add(story[i % 3], record, i >= 3 ? &before[i % 3] : nullptr, false);
            before[i % 3] = record;
        }
        EXPECT_EQ(stories.Finish(), "");
        if (releasing.joinable()) releasing.join();
    };
    const std::filesystem::path open = std::filesystem::temp_directory_path() / "plumeta-story-open";
    const std::filesystem::path closed = std::filesystem::temp_directory_path() / "plumeta-story-closed";
    const std::filesystem::path held = std::filesystem::temp_directory_path() / "plumeta-story-held";
    write(open, false);
#if !defined(_WIN32)
    write(held, true);  // the Windows build writes at once, on the caller's thread
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = 65;  // 64 kept for the rest of the process
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
#endif
    write(closed, false);
#if !defined(_WIN32)
    setrlimit(RLIMIT_NOFILE, &saved);
#endif
    for (const char* name : {"k1.js", "k2.js", "k3.js"}) {
        const std::string text = Read(open / name);
        EXPECT_GT(text.size(), 3 * (kStoryBuffer / 4)) << name;
        EXPECT_TRUE(text == Read(closed / name)) << name;
#if !defined(_WIN32)
        EXPECT_TRUE(text == Read(held / name)) << name;
#endif
    }
    for (const auto& folder : {open, closed, held}) std::filesystem::remove_all(folder);
}

// A folder that cannot be made: a problem said, nothing written, no crash.
TEST(Story, FolderThatCannotBeMade) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "plumeta-story-file";
    std::ofstream(file) << "a file";
    const Cp1250Converter codepage;
    const RecordFormatter format(codepage);
    StoryFolder stories((file / "inner").u8string(), format);
    Story story;
    stories.Add(story, LogRecord{}, nullptr, false);
    EXPECT_NE(stories.Finish(), "");
    EXPECT_EQ(story.number, 0u);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace plumeta::reader
