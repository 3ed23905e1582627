// The login burst, measured through the real module: contact changes with
// history, speech and the log file all on, against a quiet host that
// answers cells from a table. Interleaved with the module, in blocks of 100
// changes, runs the baseline: the least file work a line needs (open for
// append, take the append lock, write the same bytes, unlock, close). Then
// the one change that folds a spill of 1 MiB (lines spilled while a folder
// stood at the log's name) when the log comes back; the changes while
// another writer holds the log's lock, after the first; and what a turn
// among this machine's waiters costs (Windows), which the module takes only
// while the lock is held; and a change while a fold cannot finish (the log
// at a file size limit; Linux).
//
//   module_bench [--changes N] [--runs R] [--module PATH] [--no-baseline]
//
// Prints one line of key=value figures: the medians over the runs of µs per
// change in the module and in the baseline and of their ratio; allocations,
// GetCell and Send calls per change; peak memory; how many calls into
// IMessageProc were made in all (to divide callgrind's count by); the
// milliseconds of the fold, of a change while the lock is held and of one
// while a fold cannot finish (-1 where not measured), and the
// microseconds of a turn.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "host/host_link.h"

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

// Every allocation through operator new, the module's included: the
// module's calls resolve to these (on Windows it links its own runtime, so
// the count is kept for the native build only).
static unsigned long long g_allocations = 0;
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using plumeta::CellValue;
using plumeta::HostInterface;
using plumeta::HostWord;
using plumeta::MessageRecord;

constexpr int kContacts = 100;
constexpr int kBlock = 100;
constexpr char kLogName[] = "bench-statusy";
constexpr char kLogFile[] = "bench-statusy.txt";
constexpr char kBaselineFile[] = "bench-baseline.txt";

// The quiet host: answers from fixed tables, counts calls, prints nothing.
struct QuietHost {
    HostInterface iface;
    unsigned long long cells = 0, sends = 0;
    std::string uid[kContacts], display[kContacts];
};

void CopyInto(CellValue* cell, const char* text, std::size_t size) {
    const std::size_t n = std::min<std::size_t>(size, cell->bufferSize - 1);
    char* buffer = plumeta::FromWord<char>(cell->value);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

QuietHost& Of(HostInterface* self) { return *reinterpret_cast<QuietHost*>(self); }

uint32_t PLUMETA_HOSTCALL DefaultTarget(HostInterface*) { return 0; }
int32_t PLUMETA_HOSTCALL ReportUnhandled(HostInterface*, int32_t) { return 0; }
int32_t PLUMETA_HOSTCALL Send(HostInterface* self, MessageRecord* message) {
    ++Of(self).sends;
    return message->header.id == 30010 ? 78 : 1;  // the speech plug-in runs; 33006 allows
}
int32_t PLUMETA_HOSTCALL SendTo(HostInterface* self, uint32_t, MessageRecord*) {
    ++Of(self).sends;
    return 10;
}
int32_t PLUMETA_HOSTCALL GetCell(HostInterface* self, uint32_t table, uint32_t row,
                                 uint32_t column, CellValue* cell) {
    QuietHost& host = Of(self);
    ++host.cells;
    const bool integer = cell->valueType == plumeta::kValueInteger;
    const bool buffered = !integer && cell->value != 0;
    const char* text = nullptr;
    int32_t number = 0;
    if (table == plumeta::kSettingsTable) {
        switch (column) {
            case 267602: case 267603: case 267607: number = 1; break;  // history, file, speech
            case 267604: text = kLogName; break;
            case 267605: text = "!Twoje opisy!"; break;
        }
    } else {
        const uint32_t contact = row < kContacts ? row : row % kContacts;
        switch (column) {
            case 0: text = host.uid[contact].c_str(); break;
            case 1: number = 10; text = "10"; break;
            case 8:
                if (buffered) return CopyInto(cell, host.display[contact].data(), host.display[contact].size()), 0;
                text = host.display[contact].c_str();
                break;
            case 20: text = contact % 2 ? "1" : "0"; break;
            case 78203:  // no spoken name: the display name is spoken
                if (buffered) return CopyInto(cell, "", 0), 0;
                text = "";
                break;
            case 267600: case 267608: number = 1; break;
        }
    }
    if (integer) {
        cell->value = static_cast<HostWord>(number);
    } else if (text && !buffered) {
        cell->value = plumeta::ToWord(text);
    } else if (text) {
        CopyInto(cell, text, std::strlen(text));
    }
    return 0;
}
const plumeta::HostOperations kOperations = {&DefaultTarget, &ReportUnhandled, &Send, &SendTo, &GetCell};

plumeta::MessageProc LoadModule(const std::string& path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    return module ? reinterpret_cast<plumeta::MessageProc>(
                        reinterpret_cast<void*>(GetProcAddress(module, "_IMessageProc@4")))
                  : nullptr;
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    return module ? reinterpret_cast<plumeta::MessageProc>(dlsym(module, "IMessageProc")) : nullptr;
#endif
}

// The baseline: what appending one line costs at the least: open, lock,
// append, unlock, close.
void AppendBaseline(const std::string& line) {
#if defined(_WIN32)
    HANDLE file = CreateFileA(kBaselineFile, FILE_APPEND_DATA | FILE_WRITE_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED lock{};
    lock.Offset = 0xFFFFFFFE;
    lock.OffsetHigh = 0x7FFFFFFF;
    LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &lock);
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, &atEnd);
    UnlockFileEx(file, 0, 1, 0, &lock);
    CloseHandle(file);
#else
    const int file = open(kBaselineFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    flock(file, LOCK_EX | LOCK_NB);
    if (write(file, line.data(), line.size()) < 0) std::abort();
    flock(file, LOCK_UN);
    close(file);
#endif
}

// What a writer's turn among this machine's waiters costs when it is
// taken (Windows: a wait on and a release of a kept named mutex). The
// module takes it only when the lock is held; shown on its own.
double TurnUs(int times) {
#if defined(_WIN32)
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\bench-baseline-turn");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i) {
        WaitForSingleObject(turn, 50);
        ReleaseMutex(turn);
    }
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    CloseHandle(turn);
    return us / times;
#else
    (void)times;
    return 0;
#endif
}

// Another writer holds the log's append lock for as long as this lives.
class LockHeld {
public:
    LockHeld() {
#if defined(_WIN32)
        file_ = CreateFileA(kLogFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED lock{};
        lock.Offset = 0xFFFFFFFE;
        lock.OffsetHigh = 0x7FFFFFFF;
        LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock);
#else
        file_ = open(kLogFile, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        flock(file_, LOCK_EX);
#endif
    }
    ~LockHeld() {
#if defined(_WIN32)
        CloseHandle(file_);
#else
        close(file_);
#endif
    }

private:
#if defined(_WIN32)
    HANDLE file_;
#else
    int file_;
#endif
};

long PeakKilobytes() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

struct Change {
    plumeta::StatusChangeRecord record;
    std::string description;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(_WIN32)
    // The spill in the temporary folder, where a full log sends lines, is
    // made here (the caller's scratch folder), not in /tmp.
    setenv("TMPDIR", std::filesystem::current_path().c_str(), 1);
#endif
    int changes = 10000, runs = 9;
    bool baseline = true;
    std::string module = "";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--changes" && i + 1 < argc) changes = std::atoi(argv[++i]);
        else if (arg == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
        else if (arg == "--module" && i + 1 < argc) module = argv[++i];
        else if (arg == "--no-baseline") baseline = false;
        else {
            std::fprintf(stderr, "usage: module_bench [--changes N] [--runs R] [--module PATH] [--no-baseline]\n");
            return 2;
        }
    }
    const plumeta::MessageProc entry = LoadModule(module);
    if (!entry || changes < kBlock || runs < 1) {
        std::fprintf(stderr, "module_bench: cannot load %s\n", module.c_str());
        return 2;
    }

    QuietHost host;
    host.iface.operations = &kOperations;
    for (int i = 0; i < kContacts; ++i) {
        host.uid[i] = std::to_string(1000000 + i * 7919);
        host.display[i] = "Kontakt " + std::to_string(i);
    }
    MessageRecord link{};
    link.header.size = plumeta::kMessageRecordSize;
    link.header.id = plumeta::kMsgHostInterface;
    link.p1 = plumeta::ToWord(&host.iface);
    entry(&link);

    const uint32_t codes[] = {64, 65, 34, 0, 66, 67, 33, 1};
    std::vector<Change> burst(kBlock);
    for (int i = 0; i < kBlock; ++i) {
        burst[i].description = i % 3 ? "w domu, wracam o " + std::to_string(i % 24) : "";
        burst[i].record = plumeta::StatusChangeRecord{};
        burst[i].record.header.size = plumeta::kStatusChangeRecordSize;
        burst[i].record.header.id = plumeta::kMsgContactStatus;
        burst[i].record.subject = static_cast<uint32_t>(i % kContacts);
        burst[i].record.status = codes[i % 8];
        burst[i].record.description = burst[i].description.c_str();
    }
    // One block first: its lines are what the baseline writes.
    std::filesystem::remove(kLogFile);
    for (Change& change : burst) entry(reinterpret_cast<MessageRecord*>(&change.record));
    std::vector<std::string> lines;
    {
        std::ifstream written(kLogFile, std::ios::binary);
        for (std::string line; std::getline(written, line);) lines.push_back(line + '\n');
    }
    if (lines.size() != kBlock) {
        std::fprintf(stderr, "module_bench: the module wrote %zu lines, not %d\n", lines.size(), kBlock);
        return 2;
    }

    using Clock = std::chrono::steady_clock;
    std::vector<double> moduleUs, baselineUs, ratios;
    unsigned long long allocations = 0, cells = 0, sends = 0;
    for (int run = 0; run < runs; ++run) {
        std::filesystem::remove(kLogFile);
        std::filesystem::remove(kBaselineFile);
        Clock::duration inModule{}, inBaseline{};
        const unsigned long long cellsBefore = host.cells, sendsBefore = host.sends;
        unsigned long long moduleAllocations = 0;
        for (int done = 0; done < changes; done += kBlock) {
            const unsigned long long before = g_allocations;
            const Clock::time_point start = Clock::now();
            for (Change& change : burst) entry(reinterpret_cast<MessageRecord*>(&change.record));
            const Clock::time_point middle = Clock::now();
            moduleAllocations += g_allocations - before;
            if (baseline) {
                for (const std::string& line : lines) AppendBaseline(line);
            }
            inModule += middle - start;
            inBaseline += Clock::now() - middle;
        }
        allocations += moduleAllocations;
        cells += host.cells - cellsBefore;
        sends += host.sends - sendsBefore;
        const double us = std::chrono::duration<double, std::micro>(inModule).count() / changes;
        const double baseUs = std::chrono::duration<double, std::micro>(inBaseline).count() / changes;
        moduleUs.push_back(us);
        baselineUs.push_back(baseUs);
        if (baseline) ratios.push_back(us / baseUs);
    }
    const double total = static_cast<double>(changes) * runs;
    long long entries = static_cast<long long>(changes) * runs + kBlock;  // with the first block
    const long peak = PeakKilobytes();

    // A spill of 1 MiB: a folder stands at the log's name until 1 MiB of
    // lines waits in the spill; then the next change folds it in. And the
    // changes while another writer holds the log's lock, after the first.
    double foldMs = 0, heldMs = 0;
    if (baseline) {
        std::filesystem::remove(kLogFile);
        std::filesystem::create_directory(kLogFile);
        std::size_t kept = 0;
        for (int i = 0; kept < (1u << 20); ++i, ++entries) {
            Change& change = burst[i % kBlock];
            entry(reinterpret_cast<MessageRecord*>(&change.record));
            kept += lines[i % kBlock].size();
        }
        std::filesystem::remove(kLogFile);
        const Clock::time_point start = Clock::now();
        entry(reinterpret_cast<MessageRecord*>(&burst[0].record));
        foldMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ++entries;
        if (std::filesystem::file_size(kLogFile) < (1u << 20) - 4096) {
            std::fprintf(stderr, "module_bench: the spill did not come back\n");
            return 2;
        }
        LockHeld held;
        entry(reinterpret_cast<MessageRecord*>(&burst[0].record));  // waits once
        const Clock::time_point heldStart = Clock::now();
        for (int i = 0; i < kBlock; ++i) entry(reinterpret_cast<MessageRecord*>(&burst[i].record));
        heldMs = std::chrono::duration<double, std::milli>(Clock::now() - heldStart).count() / kBlock;
        entries += kBlock + 1;
    }
#if !defined(_WIN32)
    // A fold that cannot finish: 8 MiB spilled, then the log comes back
    // under a 4 MiB file size limit (a full disk), so that every fold stops
    // part way; the changes after the first.
    double stuckMs = -1;
    if (baseline) {
        std::filesystem::remove(kLogFile);
        std::filesystem::create_directory(kLogFile);
        std::size_t kept = 0;
        for (int i = 0; kept < (8u << 20); ++i, ++entries) {
            entry(reinterpret_cast<MessageRecord*>(&burst[i % kBlock].record));
            kept += lines[i % kBlock].size();
        }
        std::filesystem::remove(kLogFile);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit{4u << 20, before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        entry(reinterpret_cast<MessageRecord*>(&burst[0].record));  // folds part of it
        const Clock::time_point stuckStart = Clock::now();
        for (int i = 0; i < kBlock; ++i) entry(reinterpret_cast<MessageRecord*>(&burst[i].record));
        stuckMs = std::chrono::duration<double, std::milli>(Clock::now() - stuckStart).count() / kBlock;
        setrlimit(RLIMIT_FSIZE, &before);
        entries += kBlock + 1;
    }
#else
    const double stuckMs = -1;  // no file size limit to set
#endif
    const double turnUs = TurnUs(10000);
    std::printf("module_us=%.3f baseline_us=%.3f ratio=%.3f allocations=%.2f cells=%.2f sends=%.2f "
                "peak_kb=%ld entries=%lld fold_ms=%.1f held_ms=%.3f stuck_ms=%.3f turn_us=%.3f\n",
                Median(moduleUs), baseline ? Median(baselineUs) : 0.0, baseline ? Median(ratios) : 0.0,
                static_cast<double>(allocations) / total, static_cast<double>(cells) / total,
                static_cast<double>(sends) / total, peak, entries, foldMs, heldMs, stuckMs, turnUs);
    // The log, the baseline's file and the spills (beside, and in the
    // temporary folder, which is here): the next run starts from nothing.
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (entry.path().filename().string().rfind("bench-", 0) == 0) std::filesystem::remove(entry.path());
    }
    return 0;
}
