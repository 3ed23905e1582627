#include "recorder/append_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace plumeta {
namespace {

namespace fs = std::filesystem;

class AppendFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("plumeta-append-" + std::to_string(std::rand()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Read(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    fs::path dir_;
};

TEST_F(AppendFile, ConcurrentAppendsNeverInterleave) {
    const std::string path = (dir_ / "shared.txt").string();
    // A wait that runs out (a slow or emulated machine) is tried again: the
    // point is that no line tears, not how long a turn takes.
    auto writer = [&path](char tag) {
        const std::string line = std::string(3000, tag) + "\r\n";
        for (int i = 0, tries = 0; i < 200; ++i) {
            while (!AppendToFile(path.c_str(), line)) ASSERT_LT(++tries, 10000) << "the lock was never free";
        }
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::istringstream lines(Read(path));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_EQ(line.size(), 3001u);
        ASSERT_EQ(line.find_first_not_of(line[0]), 3000u) << "line " << count;
    }
    EXPECT_EQ(count, 400);
}

// The name is Windows-1250; the file gets the name the user typed, in the
// system's Unicode names, whatever the system's own code page.
TEST_F(AppendFile, NamesWithPolishLetters) {
    struct Row {
        const char* cp1250;
        const char* utf8;
    };
    const Row rows[] = {
        {"wiecz\xF3r \xB9\xE6\xEA\xB3\xF1\x9C\x9F\xBF",
         "wiecz\xC3\xB3r \xC4\x85\xC4\x87\xC4\x99\xC5\x82\xC5\x84\xC5\x9B\xC5\xBA\xC5\xBC"},
        {"\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF",
         "\xC4\x84\xC4\x86\xC4\x98\xC5\x81\xC5\x83\xC3\x93\xC5\x9A\xC5\xB9\xC5\xBB"},
#if !defined(_WIN32)
        // Bytes Windows-1250 leaves unassigned: no Unicode name, the bytes
        // as they stand (the Windows build leaves it to the ANSI code page).
        {"\xB3\x81\x83\x88\x90\x98", "\xB3\x81\x83\x88\x90\x98"},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.utf8);
        const std::string dir = dir_.string() + "/";
        ASSERT_TRUE(AppendToFile((dir + row.cp1250 + ".txt").c_str(), "line\r\n"));
        EXPECT_EQ(Read(dir_ / fs::u8path(std::string(row.utf8) + ".txt")), "line\r\n");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), std::size(rows));
}

#if !defined(_WIN32)
// A file size limit makes the write fall short, as a full disk would: the
// part written is cut off again, and the next line starts on its own.
TEST_F(AppendFile, ShortWriteLeavesNoFragment) {
    const fs::path path = dir_ / "short.txt";
    const std::string first = "first line\r\n";
    const std::string second = "a second line, longer than the room left\r\n";
    ASSERT_TRUE(AppendToFile(path.string().c_str(), first));
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(first.size() + 10), RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(AppendToFile(path.string().c_str(), second) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the short line is reported lost";
    EXPECT_EQ(Read(path), first);
    ASSERT_TRUE(AppendToFile(path.string().c_str(), second));
    EXPECT_EQ(Read(path), first + second);
}
#endif

}  // namespace
}  // namespace plumeta
