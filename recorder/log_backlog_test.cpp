#include "recorder/log_backlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "recorder/append_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace plumeta {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Line(int n, std::size_t size = 0) {
    std::string text = std::to_string(n);
    return text + std::string(size > text.size() + 2 ? size - text.size() - 2 : 0, '.') + "\r\n";
}

// Another program's hold on a file, for as long as it lives.
class Hold {
public:
    enum class Kind { Folder, FileForFolder, SharedForReading, AppendLock };
    Hold(Kind kind, const fs::path& log) : kind_(kind), log_(log) {
        switch (kind) {
            // What stands there goes aside meanwhile.
            case Kind::Folder:
                if (fs::exists(log)) fs::rename(log, Aside(log));
                fs::create_directories(log);
                break;
            case Kind::FileForFolder:
                if (fs::exists(log.parent_path())) fs::rename(log.parent_path(), Aside(log.parent_path()));
                std::ofstream(log.parent_path()) << "x";
                break;
#if defined(_WIN32)
            case Kind::SharedForReading:
                file_ = CreateFileW(log.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
                break;
            case Kind::AppendLock: {
                file_ = CreateFileW(log.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
                OVERLAPPED where{};
                where.Offset = static_cast<DWORD>(kAppendLockOffset);
                where.OffsetHigh = static_cast<DWORD>(kAppendLockOffset >> 32);
                EXPECT_TRUE(LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where));
                break;
            }
#else
            case Kind::SharedForReading:  // no share modes here: what holds is the lock
            case Kind::AppendLock:
                file_ = open(log.c_str(), O_RDONLY | O_CREAT, 0644);
                EXPECT_EQ(flock(file_, LOCK_EX), 0);
                break;
#endif
        }
    }
    ~Hold() {
        switch (kind_) {
            case Kind::Folder:
                fs::remove_all(log_);
                if (fs::exists(Aside(log_))) fs::rename(Aside(log_), log_);
                break;
            case Kind::FileForFolder:
                fs::remove(log_.parent_path());
                if (fs::exists(Aside(log_.parent_path()))) fs::rename(Aside(log_.parent_path()), log_.parent_path());
                break;
            default:
#if defined(_WIN32)
                CloseHandle(file_);
#else
                close(file_);
#endif
        }
    }

private:
    static fs::path Aside(const fs::path& path) { return path.string() + ".aside"; }
    Kind kind_;
    fs::path log_;
#if defined(_WIN32)
    HANDLE file_ = INVALID_HANDLE_VALUE;
#else
    int file_ = -1;
#endif
};

class LogBacklog : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("plumeta-backlog-" + std::to_string(std::rand()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        SpillBacklog();  // as the module's unload does; nothing may be left over
        fs::remove_all(dir_);
    }
    void Write(const fs::path& log, const std::string& line) { WriteLogLine(log.string().c_str(), line); }
    fs::path dir_;
};

// Whatever holds the file, the lines made meanwhile are kept and come,
// once and in order, before the first line made after it lets go.
TEST_F(LogBacklog, KeepsLinesWhileTheFileCannotBeWritten) {
    using Kind = Hold::Kind;
    struct Row {
        const char* what;
        Kind kind;
        const char* name;
    };
    const Row rows[] = {
        {"a folder stands at its name", Kind::Folder, "statusy.txt"},
        {"a file stands where its folder should", Kind::FileForFolder, "nowy/statusy.txt"},
        {"held open for reading only", Kind::SharedForReading, "statusy.txt"},
        {"its append lock held", Kind::AppendLock, "statusy.txt"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path log = dir_ / row.what / row.name;
        fs::create_directories(dir_ / row.what);
        Write(log, Line(1));
        {
            Hold hold(row.kind, log);
            for (int n = 2; n <= 6; ++n) Write(log, Line(n));
            EXPECT_EQ(KeptLines(), 5u);
        }
        EXPECT_EQ(Read(log), Line(1));
        Write(log, Line(7));
        EXPECT_EQ(KeptLines(), 0u);
        std::string all;
        for (int n = 1; n <= 7; ++n) all += Line(n);
        EXPECT_EQ(Read(log), all);
    }
}

TEST_F(LogBacklog, KeepsTheNewestMebibyte) {
    const fs::path log = dir_ / "statusy.txt";
    const std::size_t size = 100000;  // ten fit in the limit, eleven do not
    {
        Hold hold(Hold::Kind::Folder, log);
        for (int n = 1; n <= 12; ++n) Write(log, Line(n, size));
        EXPECT_EQ(KeptLines(), kBacklogLimit / size);
    }
    Write(log, Line(13));
    std::string all;
    for (int n = 3; n <= 12; ++n) all += Line(n, size);
    EXPECT_EQ(Read(log), all + Line(13));
}

// A changed name leaves kept lines for the file they were meant for.
TEST_F(LogBacklog, KeptLinesKeepTheirFile) {
    const fs::path first = dir_ / "statusy.txt", second = dir_ / "inne.txt";
    {
        Hold hold(Hold::Kind::Folder, first);
        Write(first, Line(1));
        Write(second, Line(2));
        EXPECT_EQ(Read(second), Line(2));
        EXPECT_EQ(KeptLines(), 1u);
    }
    Write(second, Line(3));
    EXPECT_EQ(Read(first), Line(1));
    EXPECT_EQ(Read(second), Line(2) + Line(3));
}

// The unload puts kept lines into a spill beside the log, or in the
// temporary folder; the next load moves them in before its own and
// removes the spill.
TEST_F(LogBacklog, SpillsAtUnloadAndMovesTheSpillInLater) {
    struct Row {
        const char* what;
        Hold::Kind kind;
        const char* name;
        bool beside;
    };
    const Row rows[] = {
        {"beside the log", Hold::Kind::Folder, "statusy.txt", true},
        {"in the temporary folder", Hold::Kind::FileForFolder, "nowy/statusy.txt", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path log = dir_ / row.what / row.name;
        fs::create_directories(dir_ / row.what);
        const std::string spill = row.beside ? SpillBeside(log.string()) : SpillInTemporaryFolder(log.string().c_str());
        if (row.beside) {
            EXPECT_EQ(fs::path(spill).filename(), "statusy-zalegle.txt");
        }
        {
            Hold hold(row.kind, log);
            Write(log, Line(1));
            Write(log, Line(2));
            SpillBacklog();
            EXPECT_EQ(KeptLines(), 0u);
            EXPECT_EQ(Read(spill), Line(1) + Line(2));
        }
        Write(log, Line(3));
        EXPECT_EQ(Read(log), Line(1) + Line(2) + Line(3));
        EXPECT_FALSE(fs::exists(spill));
    }
}

#if !defined(_WIN32)
// A full disk (here a file size limit): lines wait until there is room, and
// a backlog cut short in its middle writes none of its lines twice.
TEST_F(LogBacklog, DiskFull) {
    const fs::path log = dir_ / "statusy.txt";
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        auto limit = [](rlim_t bytes) {
            const rlimit to{bytes, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &to);
        };
        limit(0);
        for (int n = 1; n <= 3; ++n) Write(log, Line(n, 100));
        const bool keptAll = KeptLines() == 3 && Read(log).empty();
        limit(250);  // room for two lines and half the third
        Write(log, Line(4, 100));
        const bool keptTwo = KeptLines() == 2 && Read(log) == Line(1, 100) + Line(2, 100);
        limit(RLIM_INFINITY);
        Write(log, Line(5, 100));
        _exit(keptAll && keptTwo && KeptLines() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string all;
    for (int n = 1; n <= 5; ++n) all += Line(n, 100);
    EXPECT_EQ(Read(log), all);
}
#endif

}  // namespace
}  // namespace plumeta
