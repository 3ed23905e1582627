// Appends one line to a log file that other writers (threads of this host,
// other host processes) may be appending to at the same time.
//
// What is guaranteed, on Windows (also under Wine) and on Linux:
// - The file is created when missing. Its name is Windows-1250, like every
//   text of the module; it is opened by its Unicode name (UTF-16 on Windows,
//   UTF-8 on Linux), so it is the name the user typed whatever the system's
//   own code page. A name the system cannot convert is used as it stands.
// - The line goes to the end of the file in one write, made while this
//   writer holds the file's append lock: an exclusive lock that the system
//   keeps (LockFileEx on one byte far past any data on Windows, flock on
//   Linux). Every writer that comes through here takes it, so the lines of
//   concurrent writers never interleave, tear or overwrite each other.
// - The lock is waited for at most kAppendLockWaitMs. Then the line is
//   written without it rather than lost; append-only access still puts it at
//   the end of the file.
// - A short write (disk full, a file size limit) is completed if a second
//   write can do it. Otherwise the part written is cut off again, so the file
//   ends with the previous whole line and the next line is not glued to a
//   fragment; the line is lost. (Without the lock, the part is cut off only
//   when nothing else was appended since the size was taken before writing.)
#pragma once

#include <string_view>

namespace plumeta {

constexpr int kAppendLockWaitMs = 50;

// `path` (NUL-terminated) is used as it stands, relative to the current
// folder. Answers false when the file cannot be opened or the line was not
// written whole; nothing is thrown, nothing is allocated for an ASCII name.
bool AppendToFile(const char* path, std::string_view bytes);

}  // namespace plumeta
