#include "recorder/append_file.h"

#include <cstring>
#include <optional>

#include "codepage/codepage.h"
#include "recorder/spill_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdio>
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

constexpr char kLineEnd[] = "\r\n";

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

// `ascii`: the caller knows the name is ASCII.
std::optional<std::wstring> WideName(const char* path, bool ascii = false) {
    return ascii || IsAscii(path) ? std::nullopt : Cp1250ToUtf16(path);
}

HANDLE OpenOnce(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags, bool ascii) {
    if (const std::optional<std::wstring> wide = WideName(path, ascii)) {
        return CreateFileW(wide->c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
    return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

void MakeFolders(const char* path) {
    ForEachFolder(path, [](const std::string& folder) {
        if (const std::optional<std::wstring> wide = WideName(folder.c_str())) {
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

// `held` tells a refusal because another program holds the file.
HANDLE Open(const char* path, AppendSession::Mode mode, AppendSession::Wait wait, bool ascii, bool& held) {
    // Reading too: the last byte (a fragment?) and a fold's comparison. A
    // spill shares its deletion with the fold that removes it; no writer
    // shares that, so a file a writer has open is never removed.
    const bool log = mode == AppendSession::Mode::Log;
    const DWORD access = log ? FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES
                             : GENERIC_READ | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (mode == AppendSession::Mode::Fold ? FILE_SHARE_DELETE : 0);
    const DWORD disposition = mode == AppendSession::Mode::Fold ? OPEN_EXISTING : OPEN_ALWAYS;
    // A spill is opened as the link it may be, never what a link points to.
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (log ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    LARGE_INTEGER start{};  // of the retries, from the first refusal
    bool madeFolders = false;
    for (;;) {
        HANDLE file = OpenOnce(path, access, share, disposition, flags, ascii);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND && !madeFolders && disposition == OPEN_ALWAYS) {
            MakeFolders(path);
            madeFolders = true;
            continue;
        }
        held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (held && wait == AppendSession::Wait::Patient &&
            (start.QuadPart == 0 ? QueryPerformanceCounter(&start) != 0 : MsSince(start) < kHeldOpenRetryMs)) {
            Sleep(1);
            continue;
        }
        return INVALID_HANDLE_VALUE;
    }
}

bool TryLock(HANDLE file) {
    OVERLAPPED where{};
    where.Offset = kLockOffsetLow;
    where.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
}

// Tried at once; a patient writer then takes its turn among this machine's
// waiters (the turn is owned only while it waits) and polls the byte lock,
// which the writer before it frees, until kAppendLockWaitMs have gone.
bool Lock(HANDLE file, AppendSession::Wait wait, HANDLE turn) {
    if (TryLock(file)) return true;
    if (wait == AppendSession::Wait::Once) return false;
    const DWORD start = GetTickCount();
    const DWORD limit = wait == AppendSession::Wait::Brief ? kBriefLockWaitMs : kAppendLockWaitMs;
    if (wait != AppendSession::Wait::Patient) turn = nullptr;
    if (turn) {
        const DWORD got = WaitForSingleObject(turn, kAppendLockWaitMs);
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) return false;  // an abandoned turn is ours
    }
    bool locked = false;
    for (int attempt = 0; !locked; ++attempt) {
        locked = TryLock(file);
        if (locked || GetTickCount() - start >= limit) break;
        Sleep(attempt < 8 ? 0 : 1);
    }
    if (turn) ReleaseMutex(turn);
    return locked;
}

DWORD WriteAtOffset(HANDLE file, const char* bytes, DWORD size, uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    WriteFile(file, bytes, size, &written, &at);  // `written` counts what landed, also on failure
    return written;
}

// An offset of all ones writes at the end of the file, whatever other
// writers did since it was opened.
DWORD WriteAtEnd(HANDLE file, const char* bytes, DWORD size) {
    return WriteAtOffset(file, bytes, size, ~uint64_t{0});
}

}  // namespace

FileTurn OpenFileTurn(const char* path) {
    // Named after the file's full name (folded to one case and one
    // separator), so that writers from other folders meet the same one. A
    // name the system cannot take whole gets none: those writers only poll.
    wchar_t given[MAX_PATH], full[MAX_PATH];
    const std::optional<std::wstring> wide = WideName(path);
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

void CloseFileTurn(FileTurn turn) {
    if (turn) CloseHandle(turn);
}

AppendSession::AppendSession(const char* path, Mode mode, Wait wait, FileTurn turn, bool ascii)
    : path_(path), file_(INVALID_HANDLE_VALUE), mode_(mode), ascii_(ascii) {
    bool held = false;
    file_ = Open(path, mode, wait, ascii, held);
    if (file_ == INVALID_HANDLE_VALUE) {
        waitedOut_ = held;
        return;
    }
    BY_HANDLE_FILE_INFORMATION about{};
    if (mode != Mode::Log && (!GetFileInformationByHandle(file_, &about) ||
                              (about.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
                              about.nNumberOfLinks > 1)) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        notOurs_ = true;
        return;
    }
    locked_ = Lock(file_, wait, static_cast<HANDLE>(turn));
    waitedOut_ = !locked_;
}

AppendSession::~AppendSession() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    // Removed only while this session still holds it: no writer can have
    // put a line into it since it was emptied. A writer that has it open
    // makes the deletion fail, and the file stays, empty.
    if (locked_ && remove_ && Size() == 0) {
        if (const std::optional<std::wstring> wide = WideName(path_, ascii_)) {
            DeleteFileW(wide->c_str());
        } else {
            DeleteFileA(path_);
        }
    }
    if (locked_) {
        OVERLAPPED where{};
        where.Offset = kLockOffsetLow;
        where.OffsetHigh = kLockOffsetHigh;
        UnlockFileEx(file_, 0, 1, 0, &where);
    }
    CloseHandle(file_);
}

int64_t AppendSession::Size() {
    LARGE_INTEGER size{};
    return locked_ && GetFileSizeEx(file_, &size) ? size.QuadPart : -1;
}

bool AppendSession::ReadAt(uint64_t offset, char* out, std::size_t size) {
    while (locked_ && size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        if (!ReadFile(file_, out, want, &got, &at) || got == 0) return false;
        out += got;
        offset += got;
        size -= got;
    }
    return locked_;
}

bool AppendSession::WriteAt(uint64_t offset, std::string_view bytes) {
    return locked_ && mode_ != Mode::Log &&
           WriteAtOffset(file_, bytes.data(), static_cast<DWORD>(bytes.size()), offset) == bytes.size();
}

bool AppendSession::CutTo(uint64_t size) {
    LARGE_INTEGER cut{};
    cut.QuadPart = static_cast<LONGLONG>(size);
    return locked_ && SetFilePointerEx(file_, cut, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
}

std::size_t AppendSession::WriteEnd(const char* bytes, std::size_t size) {
    return WriteAtEnd(file_, bytes, static_cast<DWORD>(size));
}

int64_t FileSizeOf(const char* path, bool ascii) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const std::optional<std::wstring> wide = WideName(path, ascii);
    const BOOL found = wide ? GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)
                            : GetFileAttributesExA(path, GetFileExInfoStandard, &data);
    if (!found || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool MoveAside(const char* from, const char* to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing `to` fails it; a
    // reparse point is moved as itself.
    const std::optional<std::wstring> wideFrom = Cp1250ToUtf16(from), wideTo = Cp1250ToUtf16(to);
    if (wideFrom && wideTo) return MoveFileExW(wideFrom->c_str(), wideTo->c_str(), 0) != 0;
    return MoveFileExA(from, to, 0) != 0;
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
bool Lock(int file, AppendSession::Wait wait) {
    const long long start = MonotonicMs();
    for (int attempt = 0;; ++attempt) {
        if (flock(file, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        const int limit = wait == AppendSession::Wait::Brief ? kBriefLockWaitMs : kAppendLockWaitMs;
        if (wait == AppendSession::Wait::Once || MonotonicMs() - start >= limit) return false;
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
std::string SystemName(const char* path, bool ascii = false) {
    if (ascii || IsAscii(path)) return path;
    std::string utf8 = Cp1250Converter().ToUtf8(path);
    return utf8.find("\xEF\xBF\xBD") == std::string::npos ? utf8 : std::string(path);
}

// `ascii`: the caller knows the name is ASCII.
int OpenOnce(const char* path, int flags, bool ascii) {
    if (ascii || IsAscii(path)) return open(path, flags, 0644);
    return open(SystemName(path).c_str(), flags, 0644);
}

// Reading too: the last byte (a fragment?) and a fold's comparison. Only
// a log appends by itself; a spill is also written in place.
int Open(const char* path, AppendSession::Mode mode, bool ascii) {
    // A spill is opened as the link it may be, never what a link points to.
    const int flags = mode == AppendSession::Mode::Log    ? O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC
                      : mode == AppendSession::Mode::Spill ? O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW
                                                           : O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    int file = OpenOnce(path, flags, ascii);
    if (file < 0 && errno == ENOENT && mode != AppendSession::Mode::Fold) {
        ForEachFolder(path, [](const std::string& folder) { mkdir(SystemName(folder.c_str()).c_str(), 0755); });
        file = OpenOnce(path, flags, ascii);
    }
    return file;
}

// A spill that a fold removed while this writer waited for its lock is
// gone from its folder.
bool Removed(int file) {
    struct stat status {};
    return fstat(file, &status) == 0 && status.st_nlink == 0;
}

// A spill is a file of its own: not a device or a pipe, and no second name
// of another file (a hard link), whose lines a fold would take and cut.
bool OwnFile(int file) {
    struct stat status {};
    return fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink <= 1;
}

}  // namespace

FileTurn OpenFileTurn(const char*) { return nullptr; }
void CloseFileTurn(FileTurn) {}

// Linux has no share modes: nothing holds a file against an open.
AppendSession::AppendSession(const char* path, Mode mode, Wait wait, FileTurn, bool ascii)
    : path_(path), file_(Open(path, mode, ascii)), mode_(mode), ascii_(ascii) {
    if (file_ < 0) {
        notOurs_ = errno == ELOOP;
        return;
    }
    if (mode != Mode::Log && !OwnFile(file_)) {
        close(file_);
        file_ = -1;
        notOurs_ = true;
        return;
    }
    locked_ = Lock(file_, wait);
    if (locked_ && mode != Mode::Log && Removed(file_)) {
        close(file_);
        file_ = mode == Mode::Spill ? Open(path, mode, ascii) : -1;
        if (file_ >= 0 && !OwnFile(file_)) {
            close(file_);
            file_ = -1;
            notOurs_ = true;
        }
        locked_ = file_ >= 0 && Lock(file_, wait);
    }
    waitedOut_ = file_ >= 0 && !locked_;
}

AppendSession::~AppendSession() {
    if (file_ < 0) return;
    // Removed under the lock: a writer waiting for it then finds it gone.
    if (locked_ && remove_ && Size() == 0) unlink(SystemName(path_, ascii_).c_str());
    close(file_);  // frees the lock: no other descriptor shares this open file
}

// The end of the file, and also where a spill's next write goes: it has no
// O_APPEND. (A seek costs less than a 32-bit fstat.)
int64_t AppendSession::Size() { return locked_ ? static_cast<int64_t>(lseek(file_, 0, SEEK_END)) : -1; }

bool AppendSession::ReadAt(uint64_t offset, char* out, std::size_t size) {
    while (locked_ && size > 0) {
        const ssize_t got = pread(file_, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return locked_;
}

bool AppendSession::WriteAt(uint64_t offset, std::string_view bytes) {
    if (!locked_ || mode_ == Mode::Log) return false;
    ssize_t written;
    do {
        written = pwrite(file_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(bytes.size());
}

bool AppendSession::CutTo(uint64_t size) { return locked_ && ftruncate(file_, static_cast<off_t>(size)) == 0; }

std::size_t AppendSession::WriteEnd(const char* bytes, std::size_t size) {
    return static_cast<std::size_t>(WriteOnce(file_, bytes, size));
}

int64_t FileSizeOf(const char* path, bool knownAscii) {
    const bool ascii = knownAscii || IsAscii(path);
    const std::string name = ascii ? std::string() : SystemName(path);
    const char* system = ascii ? path : name.c_str();
    // Most looks find nothing: the cheapest call says so.
    if (access(system, F_OK) != 0) return -1;
    struct stat status {};
    return stat(system, &status) == 0 && S_ISREG(status.st_mode) ? static_cast<int64_t>(status.st_size) : -1;
}

#endif

int64_t AppendSession::EndFragment(const int64_t* knownEnd) {
    const int64_t end = Size();
    if (end <= 0 || (knownEnd && *knownEnd == end)) return end;
    char last = '\n';
    if (!ReadAt(static_cast<uint64_t>(end - 1), &last, 1) || last == '\n') return end;
    if (WriteEnd(kLineEnd, 2) == 2) return end + 2;
    CutTo(static_cast<uint64_t>(end));
    return -1;
}

std::size_t AppendSession::Append(std::string_view lines, int64_t* knownEnd) {
    if (!locked_ || lines.empty()) return 0;
    const int64_t end = EndFragment(knownEnd);
    if (end < 0) return 0;
    const std::size_t size = lines.size();
    std::size_t written = WriteEnd(lines.data(), size);
    if (written > 0 && written < size) written += WriteEnd(lines.data() + written, size - written);
    std::size_t whole = size;
    if (written != size) {
        // Under the lock the file ends with what this write put there; a
        // cut only shortens, which a file size limit allows.
        whole = WholeLines(lines, written);
        const int64_t now = Size();
        if (written > whole && now >= int64_t(written - whole)) CutTo(uint64_t(now - int64_t(written - whole)));
    }
    if (knownEnd) *knownEnd = end + static_cast<int64_t>(whole);
    return whole;
}

#if !defined(_WIN32)
bool MoveAside(const char* from, const char* to) {
    // rename() follows no link in either name, but replaces: RENAME_NOREPLACE
    // refuses an existing `to`.
    return renameat2(AT_FDCWD, SystemName(from).c_str(), AT_FDCWD, SystemName(to).c_str(), RENAME_NOREPLACE) == 0;
}
#endif

}  // namespace plumeta
