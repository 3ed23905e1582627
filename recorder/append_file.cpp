#include "recorder/append_file.h"

#include <cstring>
#include <optional>

#include "codepage/codepage.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace plumeta {
namespace {

// Where the whole lines of a prefix of `lines` end: after its last LF.
std::size_t WholeLines(std::string_view lines, std::size_t written) {
    const std::size_t last = lines.substr(0, written).rfind('\n');
    return last == std::string_view::npos ? 0 : last + 1;
}

// Each folder prefix of `path` (up to a separator), outermost first.
template <typename MakeFolder>
void ForEachFolder(const char* path, MakeFolder make) {
    const std::string name = path;
    for (std::size_t at = name.find_first_of("\\/", 1); at != std::string::npos;
         at = name.find_first_of("\\/", at + 1)) {
        if (name[at - 1] != ':' && name[at - 1] != '\\' && name[at - 1] != '/') make(name.substr(0, at));
    }
}

}  // namespace

#if defined(_WIN32)

namespace {

constexpr DWORD kLockOffsetHigh = static_cast<DWORD>(kAppendLockOffset >> 32);
constexpr DWORD kLockOffsetLow = static_cast<DWORD>(kAppendLockOffset);

HANDLE OpenOnce(const char* path, DWORD access, DWORD disposition) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!IsAscii(path)) {
        if (const std::optional<std::wstring> wide = Cp1250ToUtf16(path)) {
            return CreateFileW(wide->c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        }
    }
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void MakeFolders(const char* path) {
    ForEachFolder(path, [](const std::string& folder) {
        const std::optional<std::wstring> wide = IsAscii(folder) ? std::nullopt : Cp1250ToUtf16(folder);
        if (wide) {
            CreateDirectoryW(wide->c_str(), nullptr);
        } else {
            CreateDirectoryA(folder.c_str(), nullptr);
        }
    });
}

double MsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? 1000.0 * double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart)
                              : kHeldOpenRetryMs;
}

HANDLE Open(const char* path, AppendSession::Wait wait) {
    // FILE_WRITE_DATA and FILE_READ_ATTRIBUTES as well, to measure and cut
    // a short write off again; every write still goes to the end (see
    // WriteAtEnd).
    DWORD access = FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES;
    LARGE_INTEGER start{};  // of the retries, from the first refusal
    bool madeFolders = false;
    for (;;) {
        HANDLE file = OpenOnce(path, access, OPEN_ALWAYS);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND && !madeFolders) {
            MakeFolders(path);
            madeFolders = true;
        } else if ((error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) &&
                   wait == AppendSession::Wait::Patient &&
                   (start.QuadPart == 0 ? QueryPerformanceCounter(&start) != 0
                                        : MsSince(start) < kHeldOpenRetryMs)) {
            Sleep(1);
        } else {
            return INVALID_HANDLE_VALUE;
        }
    }
}

// The mutex that queues this machine's writers of one file, named after the
// file's full name (folded to one case and one separator for ASCII), so
// that writers from other folders meet the same one. A name the system
// cannot take whole on the stack gets none: those writers only poll.
HANDLE FileMutex(const char* path) {
    wchar_t given[MAX_PATH], full[MAX_PATH];
    const std::optional<std::wstring> wide = IsAscii(path) ? std::nullopt : Cp1250ToUtf16(path);
    if (wide) {
        if (wide->size() >= MAX_PATH) return nullptr;
        std::memcpy(given, wide->c_str(), (wide->size() + 1) * sizeof(wchar_t));
    } else {
        std::size_t i = 0;
        for (; path[i] && i + 1 < MAX_PATH; ++i) given[i] = static_cast<unsigned char>(path[i]);
        if (path[i]) return nullptr;
        given[i] = L'\0';
    }
    const DWORD length = GetFullPathNameW(given, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    uint64_t hash = 14695981039346656037ull;
    for (DWORD i = 0; i < length; ++i) {
        wchar_t c = full[i];
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c == L'/') c = L'\\';
        hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    }
    wchar_t name[] = L"Local\\plumeta-log-0123456789abcdef";
    for (int i = 0; i < 16; ++i) name[18 + i] = L"0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xF];
    return CreateMutexW(nullptr, FALSE, name);
}

// Takes the append lock within kAppendLockWaitMs: first this machine's
// turn (the mutex, owned on success and left in `mutex`), then the byte
// lock, which only a writer elsewhere can still hold.
bool Lock(const char* path, HANDLE file, HANDLE& mutex) {
    const DWORD start = GetTickCount();
    mutex = FileMutex(path);
    if (mutex) {
        const DWORD got = WaitForSingleObject(mutex, kAppendLockWaitMs);
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {  // an abandoned turn is ours
            CloseHandle(mutex);
            mutex = nullptr;
            return false;
        }
    }
    OVERLAPPED where{};
    where.Offset = kLockOffsetLow;
    where.OffsetHigh = kLockOffsetHigh;
    for (int attempt = 0;; ++attempt) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
            return true;
        }
        if (GetTickCount() - start >= static_cast<DWORD>(kAppendLockWaitMs)) break;
        Sleep(attempt < 8 ? 0 : 1);
    }
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        mutex = nullptr;
    }
    return false;
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

bool CutAt(HANDLE file, LONGLONG size) {
    LARGE_INTEGER cut{};
    cut.QuadPart = size;
    return SetFilePointerEx(file, cut, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

// A spill's writer needs nothing more here: nobody removes a file that
// another has open without sharing its deletion.
AppendSession::AppendSession(const char* path, Mode, Wait wait) : file_(Open(path, wait)) {
    if (file_ == INVALID_HANDLE_VALUE) return;
    HANDLE mutex = nullptr;
    locked_ = Lock(path, file_, mutex);
    mutex_ = mutex;
}

AppendSession::~AppendSession() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    if (locked_) {
        OVERLAPPED where{};
        where.Offset = kLockOffsetLow;
        where.OffsetHigh = kLockOffsetHigh;
        UnlockFileEx(file_, 0, 1, 0, &where);
    }
    if (mutex_) {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    CloseHandle(file_);
}

std::size_t AppendSession::Append(std::string_view lines) {
    if (!locked_ || lines.empty()) return 0;
    const DWORD size = static_cast<DWORD>(lines.size());
    DWORD written = WriteAtEnd(file_, lines.data(), size);
    if (written > 0 && written < size) written += WriteAtEnd(file_, lines.data() + written, size - written);
    if (written == size) return size;
    // Under the lock the file ends with what this write put there.
    const std::size_t whole = WholeLines(lines, written);
    const LONGLONG end = FileSize(file_);
    if (written > whole && end >= LONGLONG(written - whole)) CutAt(file_, end - LONGLONG(written - whole));
    return whole;
}

bool TakeOverFile(const char* path, std::string& out) {
    out.clear();
    // No sharing at all: only when nobody has it open, and nobody can open
    // it until it is gone.
    const DWORD access = FILE_READ_DATA | DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE;
    HANDLE file = INVALID_HANDLE_VALUE;
    const std::optional<std::wstring> wide = IsAscii(path) ? std::nullopt : Cp1250ToUtf16(path);
    file = wide ? CreateFileW(wide->c_str(), access, 0, nullptr, OPEN_EXISTING, flags, nullptr)
                : CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[16384];
    bool read = true;
    for (DWORD got = 1; got > 0;) {
        got = 0;
        read = ReadFile(file, chunk, sizeof chunk, &got, nullptr);
        if (!read) break;
        out.append(chunk, got);
    }
    CloseHandle(file);  // removes it
    return read;
}

std::string TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return "";
    return Utf16ToCp1250(std::wstring_view(folder, length)).value_or("");
}

std::string AbsolutePath(const char* path) {
    const std::optional<std::wstring> wide = Cp1250ToUtf16(path);
    if (!wide) return path;
    const DWORD length = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(wide->c_str(), length, &full[0], nullptr);
    if (written == 0 || written >= length) return path;
    full.resize(written);
    return Utf16ToCp1250(full).value_or(path);
}

#else

namespace {

long long MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Linux has no fair flock with a time limit short of a signal, which a
// module may not take from its host: it polls.
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

// The name the system knows the file by: its UTF-8 form, or the bytes as
// they stand when Windows-1250 leaves one of them unassigned (U+FFFD).
std::string SystemName(const char* path) {
    if (IsAscii(path)) return path;
    std::string utf8 = Cp1250Converter().ToUtf8(path);
    return utf8.find("\xEF\xBF\xBD") == std::string::npos ? utf8 : std::string(path);
}

int OpenOnce(const char* path, int flags) {
    if (IsAscii(path)) return open(path, flags, 0644);
    return open(SystemName(path).c_str(), flags, 0644);
}

int Open(const char* path) {
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    int file = OpenOnce(path, flags);
    if (file < 0 && errno == ENOENT) {
        ForEachFolder(path, [](const std::string& folder) { mkdir(SystemName(folder.c_str()).c_str(), 0755); });
        file = OpenOnce(path, flags);
    }
    return file;
}

// A spill file that another host took over and removed while this one
// waited for its lock is gone from its folder: write to a new one.
bool Removed(int file) {
    struct stat status {};
    return fstat(file, &status) == 0 && status.st_nlink == 0;
}

}  // namespace

// Linux has no share modes: nothing holds a file against an open.
AppendSession::AppendSession(const char* path, Mode mode, Wait) : file_(Open(path)) {
    if (file_ < 0) return;
    locked_ = Lock(file_);
    if (locked_ && mode == Mode::Spill && Removed(file_)) {
        close(file_);
        file_ = Open(path);
        locked_ = file_ >= 0 && Lock(file_);
    }
}

AppendSession::~AppendSession() {
    if (file_ < 0) return;
    if (locked_) flock(file_, LOCK_UN);
    close(file_);
}

std::size_t AppendSession::Append(std::string_view lines) {
    if (!locked_ || lines.empty()) return 0;
    const std::size_t size = lines.size();
    std::size_t written = WriteOnce(file_, lines.data(), size);
    if (written > 0 && written < size) written += WriteOnce(file_, lines.data() + written, size - written);
    if (written == size) return size;
    // Under the lock the file ends with what this write put there;
    // ftruncate only shortens, which a file size limit allows.
    const std::size_t whole = WholeLines(lines, written);
    struct stat status {};
    if (written > whole && fstat(file_, &status) == 0 && status.st_size >= off_t(written - whole) &&
        ftruncate(file_, status.st_size - off_t(written - whole)) != 0) {
        // Nothing more can be done: the caller learns which lines stand.
    }
    return whole;
}

bool TakeOverFile(const char* path, std::string& out) {
    out.clear();
    const std::string name = SystemName(path);
    const int file = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    bool taken = Lock(file);
    char chunk[16384];
    while (taken) {
        const ssize_t got = read(file, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // Removed under the lock: a writer waiting for it then finds it gone.
            taken = got == 0 && unlink(name.c_str()) == 0;
            break;
        }
        out.append(chunk, static_cast<std::size_t>(got));
    }
    close(file);
    return taken;
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    std::string name = folder && *folder ? folder : "/tmp";
    if (!IsAscii(name)) name = Cp1250Converter().ToCp1250(name).value_or("");
    if (!name.empty() && name.back() != '/') name += '/';
    return name;
}

std::string AbsolutePath(const char* path) {
    if (*path == '/') return path;
    char folder[PATH_MAX];
    if (!getcwd(folder, sizeof folder)) return path;
    std::string name = folder;
    if (!IsAscii(name)) {
        const std::optional<std::string> cp1250 = Cp1250Converter().ToCp1250(name);
        if (!cp1250) return path;
        name = *cp1250;
    }
    return name + "/" + path;
}

#endif

}  // namespace plumeta
