#include "recorder/log_backlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "recorder/append_file.h"
#include "recorder/status_log.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
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
        SpillBacklog();  // as the module's unload does
        fs::remove_all(dir_);
    }
    void Write(const fs::path& log, const std::string& line) { WriteLogLine(log.string().c_str(), line); }
    static std::string Lines(int from, int to, std::size_t size = 0) {
        std::string all;
        for (int n = from; n <= to; ++n) all += Line(n, size);
        return all;
    }
    static std::string Header(const SpillState& state = {}) {
        const SpillHeader header = MakeSpillHeader(state);
        return std::string(reinterpret_cast<const char*>(&header), sizeof header);
    }
    static void Put(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    fs::path dir_;
};

// Whatever holds the log, each line made meanwhile is in its spill before
// the call returns, and comes into the log, once and in order, before the
// first line made after it lets go; the spill is gone then.
TEST_F(LogBacklog, HeldLogSpillsAndFoldsInOrder) {
    using Kind = Hold::Kind;
    struct Row {
        const char* what;
        Kind kind;
        const char* name;
        bool beside;  // else in the temporary folder
    };
    const Row rows[] = {
        {"a folder stands at its name", Kind::Folder, "statusy.txt", true},
        {"a file stands where its folder should", Kind::FileForFolder, "nowy/statusy.txt", false},
        {"held open for reading only", Kind::SharedForReading, "statusy.txt", true},
        {"its append lock held", Kind::AppendLock, "statusy.txt", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path log = dir_ / row.what / row.name;
        fs::create_directories(dir_ / row.what);
        const fs::path spill =
            row.beside ? fs::path(SpillBeside(log.string())) : fs::path(SpillInTemporaryFolder(log.string().c_str()));
        Write(log, Line(1));
        {
            Hold hold(row.kind, log);
            for (int n = 2; n <= 6; ++n) Write(log, Line(n));
            EXPECT_EQ(Read(spill), Header() + Lines(2, 6));
            EXPECT_EQ(TallyOf(log.string().c_str()).inMemory, 0u);
        }
        EXPECT_EQ(Read(log), Line(1));
        Write(log, Line(7));
        EXPECT_EQ(Read(log), Lines(1, 7));
        EXPECT_FALSE(fs::exists(spill) && fs::file_size(spill) > 0);
        fs::remove(spill);
    }
}

// A fold that a kill cut short at any instant is completed by the next
// one, each line once, whatever became of the log meanwhile: the header
// says how far the fold came and where its last chunk went.
TEST_F(LogBacklog, InterruptedFoldIsCompletedOnce) {
    const std::string one = Line(1), spilled = Lines(2, 4, 40), note = "notatka\r\n", other = "inny\r\n";
    const uint64_t body = kSpillHeaderSize;
    struct Row {
        const char* what;
        std::string log;            // as the kill and then the user left it
        std::optional<uint64_t> at;  // the header's foldAt
        uint64_t from;              // its foldFrom, past the body
        std::string after;          // the log once line 5 is written
    };
    const Row rows[] = {
        {"before the header was written", one, std::nullopt, 0, one + spilled + Line(5)},
        {"after the header, before any line", one, one.size(), 0, one + spilled + Line(5)},
        {"in the middle of a line", one + spilled.substr(0, 57), one.size(), 0, one + spilled + Line(5)},
        {"at a line's end", one + spilled.substr(0, 40), one.size(), 0, one + spilled + Line(5)},
        {"after the last line", one + spilled, one.size(), 0, one + spilled + Line(5)},
        {"a later chunk, before it went in", one + spilled.substr(0, 40), one.size() + 40, 40,
         one + spilled + Line(5)},
        {"then the first line deleted", spilled.substr(0, 80), one.size(), 0, spilled + Line(5)},
        {"then a line put at the top", note + one + spilled.substr(0, 80), one.size(), 0,
         note + one + spilled + Line(5)},
        {"then another writer's line after it", one + spilled.substr(0, 40) + note, one.size(), 0,
         one + spilled.substr(0, 40) + note + spilled.substr(40) + Line(5)},
        {"then emptied", "", one.size(), 0, spilled + Line(5)},
        {"then replaced by another file", other, one.size(), 0, other + spilled + Line(5)},
        {"a later chunk, then the first line deleted", spilled.substr(0, 40), one.size() + 40, 40,
         spilled + Line(5)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path log = dir_ / "statusy.txt";
        const fs::path spill = SpillBeside(log.string());
        SpillState state;
        state.foldAt = row.at;
        if (row.at) state.foldFrom = body + row.from;
        Put(log, row.log);
        Put(spill, Header(state) + spilled);
        Write(log, Line(5));
        EXPECT_EQ(Read(log), row.after);
        EXPECT_FALSE(fs::exists(spill));
        SpillBacklog();
        fs::remove(log);
    }
}

// A file at a spill's name that the module did not write (a header not
// its own, offsets that cannot be, no header, a link to another file) is
// never folded, written to or cut: it is set aside under a name that says
// so, as it was (a link as the link), and the log goes on without it.
TEST_F(LogBacklog, ForeignSpillsAreSetAside) {
    const std::string header = Header(), lines = Lines(7, 8);
    std::string damaged = header, huge = header, inside = header, negative = header;
    damaged[5] = 'X';
    huge.replace(20, 20, "99999999999999999999");
    inside.replace(69, 20, "00000000000000000100");
    negative.replace(50, 10, "-000000001");
    enum class Kind { Bytes, HardLink, SymbolicLink, Folder };
    const struct {
        const char* what;
        std::string bytes;
        Kind kind = Kind::Bytes;
    } rows[] = {
        {"one byte of the header damaged", damaged + lines},
        {"od= past every number", huge + lines},
        {"przesuw= inside the header", inside + lines},
        {"usuniete= negative", negative + lines},
        {"cut in the header", header.substr(0, 50)},
        {"300 NUL bytes", std::string(300, '\0')},
        {"a note without a last line end", "notatka\r\nbez ko\xF1" "ca"},
        {"a hard link to another file", "", Kind::HardLink},
#if !defined(_WIN32)
        {"a symbolic link to another file", "", Kind::SymbolicLink},
#endif
        {"a folder (left where it is)", "", Kind::Folder},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path log = dir_ / "statusy.txt", spill = SpillBeside(log.string()), other = dir_ / "moje.txt";
        const std::string mine = header + Lines(20, 21);  // looks like a spill, is the user's
        switch (row.kind) {
            case Kind::Bytes: Put(spill, row.bytes); break;
            case Kind::HardLink: Put(other, mine); fs::create_hard_link(other, spill); break;
            case Kind::SymbolicLink: Put(other, mine); fs::create_symlink(other, spill); break;
            case Kind::Folder: fs::create_directory(spill); break;
        }
        Write(log, Line(1));
        {
            Hold hold(Hold::Kind::AppendLock, log);
            Write(log, Line(2));  // to a spill of its own, not into that file
        }
        Write(log, Line(3));
        EXPECT_EQ(Read(log), Lines(1, 3));
        std::vector<fs::path> aside;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename().string().rfind("statusy-zalegle-zly-", 0) == 0) aside.push_back(entry.path());
        }
        if (row.kind == Kind::Folder) {
            EXPECT_TRUE(aside.empty());
            EXPECT_TRUE(fs::is_directory(spill));
        } else {
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_EQ(fs::is_symlink(aside[0]), row.kind == Kind::SymbolicLink);
            EXPECT_EQ(Read(aside[0]), row.bytes.empty() ? mine : row.bytes);
        }
        if (row.kind == Kind::HardLink || row.kind == Kind::SymbolicLink) {
            EXPECT_EQ(Read(other), mine);
        }
        SpillBacklog();
        for (const fs::path& file : aside) fs::remove(file);
        for (const fs::path& file : {log, spill, other, fs::path(SpillInTemporaryFolder(log.string().c_str()))}) {
            fs::remove(file);
        }
    }
}

// A spill in the temporary folder under the name earlier versions gave it
// (8 hex digits) is folded as today's.
TEST_F(LogBacklog, ShortNamedTemporarySpillIsTakenOver) {
    const fs::path log = dir_ / "statusy.txt";
    const std::string temporary = SpillInTemporaryFolder(log.string().c_str());
    const std::size_t digits = temporary.size() - 4 - 16;
    const std::string shortName = temporary.substr(0, digits) + temporary.substr(digits + 8);
    Put(shortName, Header() + Line(1));
    Write(log, Line(2));
    EXPECT_EQ(Read(log), Lines(1, 2));
    EXPECT_FALSE(fs::exists(shortName));
    EXPECT_FALSE(fs::exists(temporary));
}

// A writer killed in the middle of its line left a fragment. In the log,
// which other programs write too, it is ended: the next line stands on its
// own. In a spill it is a line never reported: it is left out.
TEST_F(LogBacklog, FragmentsAreEndedOrLeftOut) {
    const fs::path log = dir_ / "statusy.txt";
    const fs::path spill = SpillBeside(log.string());
    Put(log, Line(1) + "09.12 17");
    Write(log, Line(2));
    EXPECT_EQ(Read(log), Line(1) + "09.12 17\r\n" + Line(2));
    Put(spill, Header() + Line(3) + "09.12 17");
    {
        Hold hold(Hold::Kind::AppendLock, log);
        Write(log, Line(4));
    }
    EXPECT_EQ(Read(spill), Header() + Line(3) + Line(4));
    std::ofstream(spill, std::ios::binary | std::ios::app) << "09.12 17";
    Write(log, Line(5));
    EXPECT_EQ(Read(log), Line(1) + "09.12 17\r\n" + Lines(2, 5));
}

// A spill that is held, or read-only, when its log is free again is not
// overtaken: lines join a spill and come after it, once it can be folded.
TEST_F(LogBacklog, HeldSpillIsNotOvertaken) {
    using Kind = Hold::Kind;
    const Kind kinds[] = {Kind::SharedForReading, Kind::AppendLock};
    for (const Kind kind : kinds) {
        const fs::path log = dir_ / "statusy.txt";
        const fs::path spill = SpillBeside(log.string());
        Put(spill, Header() + Lines(1, 2));
        {
            Hold hold(kind, spill);
            Write(log, Line(3));
            Write(log, Line(4));
            EXPECT_EQ(Read(log), "");
        }
        Write(log, Line(5));
        EXPECT_EQ(Read(log), Lines(1, 5));
        SpillBacklog();
        fs::remove(log);
        fs::remove(spill);
        fs::remove(SpillInTemporaryFolder(log.string().c_str()));
    }
}

// Past kSpillLimit a spill's oldest lines go until half is left, and the
// header counts them.
TEST_F(LogBacklog, SpillKeepsItsBound) {
    // A line at a time, never the whole 64 MiB in memory: 32-bit builds
    // under emulation have little address space.
    const fs::path log = dir_ / "statusy.txt";
    const fs::path spill = SpillBeside(log.string());
    const std::size_t size = 1 << 16;
    const int count = static_cast<int>(kSpillLimit / size);
    {
        std::ofstream out(spill, std::ios::binary);
        out << Header();
        for (int n = 1; n <= count; ++n) out << Line(n, size);
    }
    {
        Hold hold(Hold::Kind::Folder, log);
        Write(log, Line(count + 1, size));
    }
    const int kept = static_cast<int>(kSpillLimit / 2 / size);
    SpillState dropped;
    dropped.dropped = static_cast<uint64_t>(count - kept);
    std::ifstream in(spill, std::ios::binary);
    std::string header(kSpillHeaderSize, '\0');
    in.read(&header[0], static_cast<std::streamsize>(header.size()));
    EXPECT_EQ(header, Header(dropped));
    std::string line(size, '\0');
    int n = count - kept + 1;
    for (; in.read(&line[0], static_cast<std::streamsize>(size)); ++n) {
        ASSERT_TRUE(line == Line(n, size)) << "line " << n;
    }
    EXPECT_EQ(n, count + 2) << "the newest lines, the new one last";
    EXPECT_EQ(in.gcount(), 0);
    EXPECT_EQ(TallyOf(log.string().c_str()).dropped, dropped.dropped);
}

// A changed name leaves spilled lines for the file they were meant for.
TEST_F(LogBacklog, SpilledLinesKeepTheirFile) {
    const fs::path first = dir_ / "statusy.txt", second = dir_ / "inne.txt";
    {
        Hold hold(Hold::Kind::Folder, first);
        Write(first, Line(1));
        Write(second, Line(2));
        EXPECT_EQ(Read(second), Line(2));
    }
    Write(second, Line(3));
    EXPECT_EQ(Read(second), Line(2) + Line(3));
    Write(first, Line(4));
    EXPECT_EQ(Read(first), Line(1) + Line(4));
}

#if defined(PLUMETA_TEST_SEAMS)
// A caller stalled while it has the state, or in the middle of a fold, for
// longer than kStateWaitMs: the next caller waits for it (it still runs),
// and the lines stand in the order the calls began.
struct Stall {
    Seam at;
    std::atomic<bool> armed{true}, stalled{false}, waited{false};
};
std::atomic<Stall*> g_stall{nullptr};

void StallHook(Seam point) {
    Stall* stall = g_stall.load();
    if (point == Seam::StateWaitedOut) {
        stall->waited = true;
    } else if (point == stall->at && stall->armed.exchange(false)) {
        stall->stalled = true;
        while (!stall->waited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST_F(LogBacklog, StalledCallerIsWaitedFor) {
    const struct {
        Seam at;
        bool held;  // the log held meanwhile: the lines go to the spill
    } rows[] = {{Seam::StateHeld, false}, {Seam::FoldChunk, false}, {Seam::SpillLocked, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.at));
        const fs::path log = dir_ / "statusy.txt";
        Put(SpillBeside(log.string()), Header() + Lines(1, 2));
        Stall stall{row.at};
        g_stall = &stall;
        SetTestSeam(StallHook);
        {
            std::optional<Hold> hold;
            if (row.held) hold.emplace(Hold::Kind::AppendLock, log);
            std::thread first([&] { Write(log, Line(3)); });
            while (!stall.stalled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::thread second([&] {
                for (int n = 4; n <= 6; ++n) Write(log, Line(n));
            });
            first.join();
            second.join();
        }
        SetTestSeam(nullptr);
        Write(log, Line(7));
        EXPECT_TRUE(stall.waited);
        EXPECT_EQ(Read(log), Lines(1, 7));
        SpillBacklog();
        fs::remove(log);
        fs::remove(SpillInTemporaryFolder(log.string().c_str()));
    }
}
#endif

#if !defined(_WIN32)
// Another process's line that went to the spill in the temporary folder
// (the log and the spill beside held for a moment) is in the log before
// any line the others write there a second later: with one other writer,
// which sees the log unchanged and looks once a second, and with two,
// which see each other's lines. Each line carries its writer's clock (ms).
TEST_F(LogBacklog, OtherProcessesOvertakeASpilledLineForUnderASecond) {
    for (const int writers : {1, 2}) {
        SCOPED_TRACE(writers);
        const fs::path log = dir_ / "statusy.txt";
        auto nowMs = [] {
            return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count());
        };
        auto writeStamped = [&](const std::string& who) {
            char stamp[kStampSize];
            LineStamp(std::time(nullptr), stamp);  // the lines' clock, as the status log sets it
            Write(log, who + " " + std::to_string(nowMs()) + "\r\n");
        };
        // Shared with the writers: 0 runs, 1 asks them to pause; each counts itself paused.
        auto* shared = static_cast<std::atomic<int>*>(
            mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        new (&shared[0]) std::atomic<int>(0);
        new (&shared[1]) std::atomic<int>(0);
        std::vector<pid_t> children;
        for (int w = 0; w < writers; ++w) {
            if (const pid_t child = fork(); child == 0) {
                const long long end = nowMs() + 2500;
                bool paused = false;
                while (nowMs() < end) {
                    if (shared[0] == 1) {
                        if (!paused) ++shared[1];
                        paused = true;
                    } else {
                        paused = false;
                        writeStamped("L" + std::to_string(w));
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                _exit(0);
            } else {
                children.push_back(child);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        shared[0] = 1;
        while (shared[1] < writers) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        {
            Hold logHeld(Hold::Kind::AppendLock, log), spillHeld(Hold::Kind::AppendLock, SpillBeside(log.string()));
            if (const pid_t spiller = fork(); spiller == 0) {
                writeStamped("S");
                _exit(fs::file_size(SpillInTemporaryFolder(log.string().c_str())) > 0 ? 0 : 1);
            } else {
                int status = 0;
                ASSERT_EQ(waitpid(spiller, &status, 0), spiller);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the line went to the temporary folder";
            }
        }
        shared[0] = 0;
        for (const pid_t child : children) waitpid(child, nullptr, 0);
        munmap(shared, 4096);

        std::istringstream lines(Read(log));
        long long spilledAt = -1, overtaken = 0;
        std::vector<long long> before;
        int spilledLines = 0, total = 0;
        for (std::string line; std::getline(lines, line); ++total) {
            const long long at = std::stoll(line.substr(line.find(' ') + 1));
            if (line[0] == 'S') {
                spilledAt = at;
                ++spilledLines;
            } else if (spilledAt < 0) {
                before.push_back(at);
            }
        }
        ASSERT_EQ(spilledLines, 1);
        for (const long long at : before) overtaken = std::max(overtaken, at - spilledAt);
        std::printf("[ figures  ] %d other writer(s): the spilled line overtaken by %lld ms, %d lines\n", writers,
                    overtaken, total);
        EXPECT_LE(overtaken, 1000);
        SpillBacklog();
        fs::remove(log);
    }
}
#endif

#if !defined(_WIN32)
// A full disk (here a file size limit, which holds for the spills too):
// what no file takes waits in memory; a write cut short in the middle of
// the lines puts none of them twice, the rest going to the spills; all
// come in order once there is room.
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
        bool good = TallyOf(log.string().c_str()).inMemory == 3 && Read(log).empty();
        limit(250);  // room for two lines and half the third
        Write(log, Line(4, 100));
        good = good && TallyOf(log.string().c_str()).inMemory == 0 && Read(log) == Lines(1, 2, 100) &&
               Read(SpillBeside(log.string())) == Header() + Line(3, 100);
        limit(RLIM_INFINITY);
        Write(log, Line(5, 100));
        good = good && TallyOf(log.string().c_str()).inMemory == 0;
        _exit(good ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Read(log), Lines(1, 5, 100));
    fs::remove(SpillInTemporaryFolder(log.string().c_str()));
}
#endif

}  // namespace
}  // namespace plumeta
