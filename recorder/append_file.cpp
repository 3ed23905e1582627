#include "recorder/append_file.h"

#include <string>

#include "codepage/codepage.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace plumeta {

#if defined(_WIN32)

namespace {

// The lock covers one byte this far into the file, where no log ever
// reaches: Windows locks are enforced on writes, so locking the data itself
// would make a writer that gave up waiting fail.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;

HANDLE OpenForAppend(const char* path) {
    // FILE_WRITE_DATA and FILE_READ_ATTRIBUTES as well, to measure and cut
    // a short write off again; every write still goes to the end (see
    // WriteAtEnd).
    const DWORD access = FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!IsAscii(path)) {
        if (const std::optional<std::wstring> wide = Cp1250ToUtf16(path)) {
            return CreateFileW(wide->c_str(), access, share, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        }
    }
    return CreateFileA(path, access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Lock(HANDLE file, OVERLAPPED& where) {
    where = OVERLAPPED{};
    where.Offset = kLockOffsetLow;
    where.OffsetHigh = kLockOffsetHigh;
    const DWORD start = GetTickCount();
    for (int attempt = 0;; ++attempt) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
            return true;
        }
        if (GetTickCount() - start >= static_cast<DWORD>(kAppendLockWaitMs)) return false;
        Sleep(attempt < 8 ? 0 : 1);
    }
}

// An offset of all ones writes at the end of the file, whatever other
// writers did since it was opened.
DWORD WriteAtEnd(HANDLE file, const char* bytes, DWORD size) {
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    WriteFile(file, bytes, size, &written, &atEnd);  // `written` counts what landed, also on failure
    return written;
}

LONGLONG FileSize(HANDLE file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

}  // namespace

bool AppendToFile(const char* path, std::string_view bytes) {
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED lock;
    const bool locked = Lock(file, lock);
    // Under the lock the line starts where the file ends after it; without
    // it, only a size taken before tells where.
    const LONGLONG sizeBefore = locked ? -1 : FileSize(file);
    const DWORD size = static_cast<DWORD>(bytes.size());
    DWORD written = WriteAtEnd(file, bytes.data(), size);
    if (written > 0 && written < size) written += WriteAtEnd(file, bytes.data() + written, size - written);
    if (written > 0 && written < size) {
        const LONGLONG end = FileSize(file);
        const LONGLONG start = locked ? end - written : sizeBefore;
        if (start >= 0 && end == start + written) {
            LARGE_INTEGER cut{};
            cut.QuadPart = start;
            if (SetFilePointerEx(file, cut, nullptr, FILE_BEGIN)) SetEndOfFile(file);
        }
    }
    if (locked) UnlockFileEx(file, 0, 1, 0, &lock);
    CloseHandle(file);
    return written == size;
}

#else

namespace {

long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Lock(int file) {
    const long long start = MonotonicMs();
    for (int attempt = 0;; ++attempt) {
        if (flock(file, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (MonotonicMs() - start >= kAppendLockWaitMs) return false;
        if (attempt < 8) {
            sched_yield();
        } else {
            const timespec pause{0, 200 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
}

ssize_t WriteOnce(int file, const char* bytes, std::size_t size) {
    ssize_t written;
    do {
        written = write(file, bytes, size);
    } while (written < 0 && errno == EINTR);
    return written < 0 ? 0 : written;
}

off_t FileSize(int file) {
    struct stat status {};
    return fstat(file, &status) == 0 ? status.st_size : -1;
}

int OpenForAppend(const char* path) {
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    if (!IsAscii(path)) {
        // U+FFFD stands for a byte Windows-1250 leaves unassigned: such a
        // name has no Unicode form, and is used as it stands.
        const std::string utf8 = Cp1250Converter().ToUtf8(path);
        if (utf8.find("\xEF\xBF\xBD") == std::string::npos) return open(utf8.c_str(), flags, 0644);
    }
    return open(path, flags, 0644);
}

}  // namespace

bool AppendToFile(const char* path, std::string_view bytes) {
    const int file = OpenForAppend(path);
    if (file < 0) return false;
    const bool locked = Lock(file);
    // Under the lock the line starts where the file ends after it; without
    // it, only a size taken before tells where.
    const off_t sizeBefore = locked ? -1 : FileSize(file);
    const std::size_t size = bytes.size();
    std::size_t written = WriteOnce(file, bytes.data(), size);
    if (written > 0 && written < size) written += WriteOnce(file, bytes.data() + written, size - written);
    if (written > 0 && written < size) {
        const off_t end = FileSize(file);
        const off_t start = locked ? end - static_cast<off_t>(written) : sizeBefore;
        // ftruncate only shortens here, which a file size limit allows.
        if (start >= 0 && end == start + static_cast<off_t>(written) && ftruncate(file, start) != 0) {
            // Nothing more can be done; the caller learns the line was lost.
        }
    }
    if (locked) flock(file, LOCK_UN);
    close(file);
    return written == size;
}

#endif

}  // namespace plumeta
