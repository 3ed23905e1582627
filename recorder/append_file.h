// Appends whole lines to a log file that other writers (threads of this
// host, other host processes) may be appending to at the same time.
//
// What is guaranteed, on Windows (also under Wine) and on Linux:
// - The file is created when missing, and so is every missing folder of its
//   name. Its name is Windows-1250, like every text of the module; it is
//   opened by its Unicode name (UTF-16 on Windows, UTF-8 on Linux), so it is
//   the name the user typed whatever the system's own code page. A name the
//   system cannot convert is used as it stands.
// - Lines go to the end of the file only while this writer holds the file's
//   append lock: an exclusive lock that the system keeps (LockFileEx on one
//   byte far past any data on Windows, flock on Linux). Every writer that
//   comes through here takes it, so the lines of concurrent writers never
//   interleave, tear or overwrite each other. There is no write without it.
// - The lock is waited for at most kAppendLockWaitMs. On Windows the wait is
//   fair: writers on one machine queue on a mutex named after the file's
//   full name, which the system hands to the longest waiter, and only then
//   take the lock, which writers elsewhere (a network share) may hold.
//   Linux, where the module is only tested, polls flock.
// - An open refused because another program holds the file (a sharing or
//   lock violation) is tried again for at most kHeldOpenRetryMs, when the
//   caller can wait.
// - A short write (disk full, a file size limit) is completed if a second
//   write can do it. Otherwise the line it fell short in is cut off again,
//   so the file ends with a whole line and the next line is not glued to a
//   fragment; the caller learns which lines stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plumeta {

constexpr int kAppendLockWaitMs = 50;
constexpr int kHeldOpenRetryMs = 10;
// The byte the append lock covers on Windows, where no log ever reaches:
// Windows locks are enforced on writes, so locking the data itself would
// make other programs' writes fail.
constexpr uint64_t kAppendLockOffset = 0x7FFFFFFFFFFFFFFEull;

// One file, open and under its append lock for as long as this lives.
// Nothing is thrown; nothing is allocated for an ASCII name.
class AppendSession {
public:
    enum class Mode {
        Log,    // created when missing
        Spill,  // the same, and made again when another writer took it over meanwhile
    };
    enum class Wait { Patient, Once };  // Once: no second try of an open refused as held

    // `path` (NUL-terminated) is used as it stands, relative to the current
    // folder; the caller keeps it alive while the session lives.
    AppendSession(const char* path, Mode mode, Wait wait);
    ~AppendSession();
    AppendSession(const AppendSession&) = delete;
    AppendSession& operator=(const AppendSession&) = delete;

    // Opened and locked: only then is anything written.
    bool ready() const { return locked_; }
    // Writes `lines` (whole lines, each ending in LF) at the end of the
    // file. Answers how many of its bytes stand there as whole lines: all,
    // fewer after a short write, none when not ready.
    std::size_t Append(std::string_view lines);

private:
#if defined(_WIN32)
    void* file_;
    void* mutex_ = nullptr;
#else
    int file_;
#endif
    bool locked_ = false;
};

// Takes the file `path` over whole: reads it into `out` and removes it,
// while no other writer has it (Windows: open; Linux: locked). False when it
// is not there, is in use, or cannot be read.
bool TakeOverFile(const char* path, std::string& out);
// The user's temporary folder, ending in its separator, in Windows-1250
// (empty when unknown).
std::string TemporaryFolder();
// The absolute form of `path` in Windows-1250 (`path` itself when unknown).
std::string AbsolutePath(const char* path);

// One line, waiting as a log line does: true when it stands whole.
inline bool AppendToFile(const char* path, std::string_view line) {
    AppendSession session(path, AppendSession::Mode::Log, AppendSession::Wait::Patient);
    return session.Append(line) == line.size();
}

}  // namespace plumeta
