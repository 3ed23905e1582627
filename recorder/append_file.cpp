#include "recorder/append_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace plumeta {

#if defined(_WIN32)

bool AppendToFile(const std::string& path, const std::string& bytes) {
    // Append-only access makes the system place every write at the end.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

#else

bool AppendToFile(const std::string& path, const std::string& bytes) {
    const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0) return false;
    ssize_t written;
    do {
        written = write(file, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    close(file);
    return written == static_cast<ssize_t>(bytes.size());
}

#endif

}  // namespace plumeta
