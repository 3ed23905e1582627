// Appends whole lines to a file that other writers (threads of this host,
// other host processes) may be appending to at the same time: a log, or
// the spill that keeps a log's lines while the log cannot take them.
//
// What is guaranteed, on Windows (also under Wine) and on Linux:
// - The file is created when missing, and so is every missing folder of its
//   name. Its name is Windows-1250, like every text of the module; it is
//   opened by its Unicode name (UTF-16 on Windows, UTF-8 on Linux), so it is
//   the name the user typed whatever the system's own code page. A name the
//   system cannot convert is used as it stands.
// - Lines go to the end of the file only while this writer holds the file's
//   append lock: an exclusive lock that the system keeps (LockFileEx on one
//   byte far past any data on Windows, flock on Linux), and that it frees
//   when its holder dies. Every writer that comes through here takes it, so
//   the lines of concurrent writers never interleave, tear or overwrite
//   each other. There is no write without it.
// - The lock is tried at once; a patient session then waits for it at most
//   kAppendLockWaitMs. On Windows the waiters of one machine queue on a
//   mutex named after the file's full name (a FileTurn, which the caller
//   keeps), which the system hands to the longest waiter; Linux, where the
//   module is only tested, polls flock. An open refused because another
//   program holds the file (a sharing or lock violation) is tried again for
//   at most kHeldOpenRetryMs by a patient session.
// - Every line stands alone: a file that does not end in a line end (the
//   fragment of a writer killed in the middle of its write) gets CR LF
//   before the first line this session appends.
// - A short write (disk full, a file size limit) is completed if a second
//   write can do it. Otherwise the line it fell short in is cut off again,
//   so the file ends with a whole line; the caller learns which lines stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "recorder/spill_file.h"

namespace plumeta {

constexpr int kAppendLockWaitMs = 50;
constexpr int kBriefLockWaitMs = 5;
constexpr int kHeldOpenRetryMs = 10;
// The byte the append lock covers on Windows, where no file ever reaches:
// Windows locks are enforced on writes, so locking the data itself would
// make other programs' writes fail.
constexpr uint64_t kAppendLockOffset = 0x7FFFFFFFFFFFFFFEull;

// The queue of this machine's waiters for one file's lock (Windows: a named
// mutex handle; elsewhere nothing). Made once per file name by its owner.
using FileTurn = void*;
FileTurn OpenFileTurn(const char* path);
void CloseFileTurn(FileTurn turn);

// One file, open and under its append lock for as long as this lives.
// Nothing is thrown; nothing is allocated for an ASCII name.
class AppendSession {
public:
    enum class Mode {
        Log,    // created when missing; appends only
        Spill,  // the same, also written in place; opened anew when another writer removed it meanwhile
        Fold,   // a spill that must exist already; not ready when it is gone
    };
    // Patient: the lock within kAppendLockWaitMs, in turn, and a held open
    // tried again; Brief: the lock within kBriefLockWaitMs; Once: one try.
    enum class Wait { Patient, Brief, Once };

    // `path` (NUL-terminated) is used as it stands, relative to the current
    // folder; the caller keeps it alive while the session lives. `turn` may
    // be null (then waiters only poll). `ascii`: the caller knows the name
    // is ASCII, and it is not looked at again.
    AppendSession(const char* path, Mode mode, Wait wait, FileTurn turn = nullptr, bool ascii = false);
    ~AppendSession();
    AppendSession(const AppendSession&) = delete;
    AppendSession& operator=(const AppendSession&) = delete;

    // Opened and locked: only then is anything read or written.
    bool ready() const { return locked_; }
    // Not ready because a wait ran out: the lock, or the open of a file
    // that another program holds.
    bool waitedOut() const { return waitedOut_; }
    // Not ready because a spill's name is a link (symbolic or hard) or no
    // plain file: no spill of ours, left as it is.
    bool notOurs() const { return notOurs_; }

    // The file's size now; -1 when not ready or unknown.
    int64_t Size();
    // Reads exactly `size` bytes at `offset` into `out`.
    bool ReadAt(uint64_t offset, char* out, std::size_t size);
    // Writes `bytes` at `offset`, in place (Spill only).
    bool WriteAt(uint64_t offset, std::string_view bytes);
    // Cuts the file to `size` bytes.
    bool CutTo(uint64_t size);
    // Ends a fragment at the end of the file with CR LF, unless the file is
    // `*knownEnd` long (see Append). Answers the file's size then, -1 when
    // the CR LF did not go in (the file is as it was).
    int64_t EndFragment(const int64_t* knownEnd = nullptr);
    // Writes `lines` (whole lines, each ending in LF) at the end of the
    // file, after a CR LF when the file ends in a fragment. `knownEnd`, when
    // given, is where this process's last append ended: a file still that
    // long ends with a line end, and its last byte need not be read; it is
    // updated. Answers how many bytes of `lines` stand there as whole lines:
    // all, fewer after a short write, none when not ready.
    std::size_t Append(std::string_view lines, int64_t* knownEnd = nullptr);
    // Removes the file (a folded spill), once it is empty: at once on Linux,
    // where a waiting writer then finds it gone; on Windows when this
    // session ends and nobody else has it open (else it stays, empty).
    void RemoveWhenDone() { remove_ = true; }

private:
    // The platform's own write at the end of the file.
    std::size_t WriteEnd(const char* bytes, std::size_t size);

    const char* path_;
#if defined(_WIN32)
    void* file_;
#else
    int file_;
#endif
    Mode mode_;
    bool ascii_;
    bool locked_ = false;
    bool waitedOut_ = false;
    bool notOurs_ = false;
    bool remove_ = false;
};

// The size of the file `path`, -1 when there is none: a look, no open.
// `ascii`: the caller knows the name is ASCII.
int64_t FileSizeOf(const char* path, bool ascii = false);
// Renames the file `from` to `to` (both Windows-1250): never over a file
// that exists, never through a link (a link is renamed itself, what it
// points to untouched). True when it was done.
bool MoveAside(const char* from, const char* to);
// One line, waiting as a log line does: true when it stands whole.
inline bool AppendToFile(const char* path, std::string_view line) {
    AppendSession session(path, AppendSession::Mode::Log, AppendSession::Wait::Patient);
    return session.Append(line) == line.size();
}

}  // namespace plumeta
