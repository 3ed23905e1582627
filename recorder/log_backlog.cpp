#include "recorder/log_backlog.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "recorder/append_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <time.h>
#endif

namespace plumeta {
namespace {

struct Kept {
    std::string path;  // Windows-1250, as LogFileName gave it then
    std::string line;  // one whole line, CR LF at its end
};

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

void Pause(bool sleep) {
#if defined(_WIN32)
    Sleep(sleep ? 1 : 0);
#else
    if (!sleep) {
        sched_yield();
        return;
    }
    const timespec pause{0, 1000 * 1000};
    nanosleep(&pause, nullptr);
#endif
}

class Backlog {
public:
    Backlog() = default;
    Backlog(const Backlog&) = delete;
    Backlog& operator=(const Backlog&) = delete;
    // The module's unload: the standard library's own tear-down runs this,
    // from FreeLibrary or the process's end (Windows) or dlclose or exit.
    ~Backlog() {
        try {
            SpillBacklog();
        } catch (...) {
            // Out of memory at the very end: nothing more can be done.
        }
    }

    std::deque<Kept> kept;
    std::size_t bytes = 0;  // of the kept lines
    // The log names whose spills this load has moved in already, the
    // latest at looked[(lookCount - 1) % 16].
    std::string looked[16];
    std::size_t lookCount = 0;
};

Backlog g_backlog;
std::atomic<bool> g_busy{false};

// Holds the backlog for one caller at a time. Nothing inside calls the
// host, so a host that calls back in never meets it held by itself.
class Guard {
public:
    // `tries` < 0: as long as it takes.
    explicit Guard(int tries = -1) {
        for (int attempt = 0; g_busy.exchange(true, std::memory_order_acquire); ++attempt) {
            if (tries >= 0 && attempt >= tries) return;
            Pause(attempt >= 8);
        }
        held_ = true;
    }
    ~Guard() {
        if (held_) g_busy.store(false, std::memory_order_release);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool held() const { return held_; }

private:
    bool held_ = false;
};

void Trim(Backlog& backlog) {
    while (backlog.bytes > kBacklogLimit && backlog.kept.size() > 1) {
        backlog.bytes -= backlog.kept.front().line.size();
        backlog.kept.pop_front();
    }
}

void Keep(Backlog& backlog, std::string_view path, std::string_view line) {
    backlog.kept.push_back(Kept{std::string(path), std::string(line)});
    backlog.bytes += line.size();
    Trim(backlog);
}

// Lines taken from a spill that the log did not take whole: older than
// anything kept, so they go first.
void KeepFirst(Backlog& backlog, std::string_view path, std::string_view lines) {
    std::vector<Kept> taken;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = std::min(lines.find('\n', at), lines.size() - 1) + 1;
        taken.push_back(Kept{std::string(path), std::string(lines.substr(at, end - at))});
        backlog.bytes += end - at;
        at = end;
    }
    backlog.kept.insert(backlog.kept.begin(), taken.begin(), taken.end());
    Trim(backlog);
}

std::string BaseWithoutExtension(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const std::string_view extension = ".txt";
    if (path.size() >= extension.size() && path.substr(path.size() - extension.size()) == extension) {
        path.remove_suffix(extension.size());
    }
    return std::string(path);
}

// Whether this load has moved the spills of the log `path` in already.
bool Looked(const Backlog& backlog, const char* path) {
    const std::size_t slots = std::size(backlog.looked);
    for (std::size_t i = 1; i <= std::min(backlog.lookCount, slots); ++i) {
        if (std::strcmp(backlog.looked[(backlog.lookCount - i) % slots].c_str(), path) == 0) return true;
    }
    return false;
}

// Once per log name and load, under the log's append lock: the spills of
// earlier loads go into the log first. Leaves in `left` what the log did
// not take (a full disk); false then.
bool MoveSpillsIn(Backlog& backlog, AppendSession& log, const char* path, std::string& left) {
    if (Looked(backlog, path)) return true;
    backlog.looked[backlog.lookCount++ % std::size(backlog.looked)] = path;
    for (const std::string& spill : {SpillBeside(path), SpillInTemporaryFolder(path)}) {
        std::string lines;
        if (spill.empty() || !TakeOverFile(spill.c_str(), lines) || lines.empty()) continue;
        if (lines.back() != '\n') lines += "\r\n";  // never glue the next line to it
        if (left.empty()) {
            const std::size_t moved = log.Append(lines);
            lines.erase(0, moved);
        }
        left += lines;
    }
    return left.empty();
}

// Tries each log that has lines kept exactly once, without waiting for a
// held file: its lines go in whole and in order, or stay.
void WriteKept(Backlog& backlog) {
    std::vector<std::string> tried;
    for (;;) {
        auto next = std::find_if(backlog.kept.begin(), backlog.kept.end(), [&](const Kept& kept) {
            return std::find(tried.begin(), tried.end(), kept.path) == tried.end();
        });
        if (next == backlog.kept.end()) return;
        tried.push_back(next->path);
        const std::string& path = tried.back();
        AppendSession log(path.c_str(), AppendSession::Mode::Log, AppendSession::Wait::Once);
        if (!log.ready()) continue;
        std::string left;
        if (!MoveSpillsIn(backlog, log, path.c_str(), left)) {
            KeepFirst(backlog, path, left);
            continue;
        }
        std::string lines;
        for (const Kept& kept : backlog.kept) {
            if (kept.path == path) lines += kept.line;
        }
        std::size_t written = log.Append(lines);
        std::deque<Kept> still;
        for (Kept& kept : backlog.kept) {
            if (kept.path == path && written >= kept.line.size()) {
                written -= kept.line.size();
                backlog.bytes -= kept.line.size();
            } else {
                if (kept.path == path) written = 0;
                still.push_back(std::move(kept));
            }
        }
        backlog.kept.swap(still);
    }
}

}  // namespace

void WriteLogLine(const char* path, std::string_view line) {
    Guard guard;
    Backlog& backlog = g_backlog;
    if (!backlog.kept.empty()) {
        Keep(backlog, path, line);
        WriteKept(backlog);
        return;
    }
    AppendSession log(path, AppendSession::Mode::Log, AppendSession::Wait::Patient);
    if (log.ready()) {
        std::string left;
        if (!MoveSpillsIn(backlog, log, path, left)) {
            KeepFirst(backlog, path, left);
        } else if (log.Append(line) == line.size()) {
            return;
        }
    }
    Keep(backlog, path, line);
}

std::size_t KeptLines() {
    Guard guard;
    return g_backlog.kept.size();
}

void SpillBacklog() {
    // At the process's end a thread that held the backlog may be gone.
    Guard guard(200);
    if (!guard.held()) return;
    Backlog& backlog = g_backlog;
    WriteKept(backlog);
    while (!backlog.kept.empty()) {
        const std::string path = backlog.kept.front().path;
        std::string lines;
        for (const Kept& kept : backlog.kept) {
            if (kept.path == path) lines += kept.line;
        }
        std::size_t written = 0;
        for (const std::string& spill : {SpillBeside(path), SpillInTemporaryFolder(path.c_str())}) {
            if (written == lines.size() || spill.empty()) continue;
            AppendSession file(spill.c_str(), AppendSession::Mode::Spill, AppendSession::Wait::Patient);
            written += file.Append(std::string_view(lines).substr(written));
        }
        backlog.kept.erase(std::remove_if(backlog.kept.begin(), backlog.kept.end(),
                                          [&](const Kept& kept) { return kept.path == path; }),
                           backlog.kept.end());
    }
    backlog.bytes = 0;
    backlog.lookCount = 0;  // a later load looks again
}

std::string SpillBeside(std::string_view path) {
    const std::string_view extension = ".txt";
    const bool hasExtension =
        path.size() >= extension.size() && path.substr(path.size() - extension.size()) == extension;
    std::string spill(hasExtension ? path.substr(0, path.size() - extension.size()) : path);
    return spill + kSpillWord + ".txt";
}

std::string SpillInTemporaryFolder(const char* path) {
    const std::string folder = TemporaryFolder();
    if (folder.empty()) return "";
    const uint64_t whose = Fnv1a(AbsolutePath(path));
    char number[9];
    for (int i = 0; i < 8; ++i) number[i] = "0123456789abcdef"[(whose >> (28 - 4 * i)) & 0xF];
    number[8] = '\0';
    return folder + BaseWithoutExtension(path) + kSpillWord + "-" + number + ".txt";
}

}  // namespace plumeta
