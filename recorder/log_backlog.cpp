#include "recorder/log_backlog.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>

#include "codepage/codepage.h"
#include "recorder/append_file.h"
#include "recorder/clock.h"
#include "recorder/status_log.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace plumeta {
namespace {

#if defined(PLUMETA_TEST_SEAMS)
std::atomic<void (*)(Seam)> g_seam{nullptr};
void AtSeam(Seam point) {
    if (void (*hook)(Seam) = g_seam.load(std::memory_order_acquire)) hook(point);
}
#else
#define AtSeam(point) ((void)0)
#endif

struct LogSlot {
    std::string path;       // Windows-1250, as LogFileName gave it, with ".txt"
    std::string beside;     // its spill beside it
    std::string temporary;  // its spill in the temporary folder, "" when none
    FileTurn turn = nullptr;
    bool ascii = false;           // all three names are ASCII (looked at once)
    bool busy = false;            // a wait ran out: the lock is tried once until it is found free
    bool temporaryInUse = false;  // the spill in the temporary folder may hold lines
    bool spilled = true;          // the spill beside may hold lines: looked at by every line
    int64_t lookedAt = 0;         // when the spill beside was last found empty (a line's moment)
    int64_t knownEnd = -1;        // where this process's last line in the log ended
    int64_t stuckSize = -1;       // the log's size when a fold last stopped short of the end
    long long stuckUntil = 0;     // ... and until when (NowMs) lines pass it by while it stays so
    uint64_t dropped = 0;         // by this load, from memory or a full spill
    uint64_t droppedUnsaid = 0;   // from memory, not yet counted in a spill's header
    uint64_t used = 0;            // when last used, to give the oldest slot up
};

struct Kept {
    std::string path;
    std::string line;  // one whole line, CR LF at its end
};

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

long long NowMs() {
#if defined(_WIN32)
    return static_cast<long long>(GetTickCount());
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
}

uint32_t ThisThread() {
#if defined(_WIN32)
    return GetCurrentThreadId();  // read from the thread's own block, no call into the system
#else
    static thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
#endif
}

// Whether the thread `id` of this process still runs.
bool ThreadRuns(uint32_t id) {
#if defined(_WIN32)
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool runs = WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
    CloseHandle(thread);
    return runs;
#else
    return syscall(SYS_tgkill, getpid(), id, 0) == 0 || errno != ESRCH;
#endif
}

// Earlier versions named the spill in the temporary folder with 8 hex
// digits of the hash, the last 8 of today's 16: one left from them is
// taken over under today's name, unless that exists.
void AdoptShortNamedSpill(const std::string& temporary) {
    if (temporary.size() < 16 + sizeof kSpillExtension) return;
    const std::size_t digits = temporary.size() - (sizeof kSpillExtension - 1) - 16;
    const std::string shortName = temporary.substr(0, digits) + temporary.substr(digits + 8);
    if (FileSizeOf(shortName.c_str()) > 0 && FileSizeOf(temporary.c_str()) < 0) {
        MoveAside(shortName.c_str(), temporary.c_str());
    }
}

// Moves a file found at a spill's name that is no spill of ours out of the
// way (SpillAsideName): kept for its owner, never folded or cut.
void SetAside(const std::string& name) {
    const LocalTime now = ToLocalTime(SystemClock());
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveAside(name.c_str(), SpillAsideName(name, now, attempt).c_str())) return;
    }
}

void FillSlot(LogSlot& slot, const char* path) {
    slot.path = path;
    slot.beside = SpillBeside(path);
    slot.temporary = SpillInTemporaryFolder(path);
    AdoptShortNamedSpill(slot.temporary);
    slot.turn = OpenFileTurn(path);
    slot.ascii = IsAscii(slot.path) && IsAscii(slot.beside) && IsAscii(slot.temporary);
    slot.busy = false;
    slot.temporaryInUse = !slot.temporary.empty() && FileSizeOf(slot.temporary.c_str()) > 0;
    slot.knownEnd = -1;
    slot.stuckSize = -1;
    slot.spilled = true;
    slot.dropped = slot.droppedUnsaid = 0;
}

void EmptySlot(LogSlot& slot) {
    CloseFileTurn(slot.turn);
    slot = LogSlot{};
}

class Journal {
public:
    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    // The module's unload: the standard library's own tear-down runs this,
    // from FreeLibrary or the process's end (Windows) or dlclose or exit.
    ~Journal() {
        try {
            SpillBacklog();
        } catch (...) {
            // Out of memory at the very end: nothing more can be done.
        }
    }

    LogSlot slots[kLogSlots];
    uint64_t clock = 0;
    int64_t minuteFrom = 0, minuteTo = 0;  // [from, to): the moments of `minute`'s minute
    char minute[kStampSize] = {};         // the stamp of its second 0
    int64_t lineMoment = 0;               // the moment of the last line stamped
    std::deque<Kept> kept;  // in memory, oldest first
    std::size_t keptBytes = 0;
};

Journal g_journal;

// Turns on g_journal: a ticket each, served in the order taken, so that a
// busy thread cannot keep the state from another. Who took ticket t is in
// g_owners[t % kOwnerRing] (0 while unknown): a waiter looks at the one
// served every kStateWaitMs, and passes the turn of a thread that is gone.
constexpr uint32_t kOwnerRing = 64;  // threads in the module at once, at most; more only wait longer
std::atomic<uint32_t> g_nextTicket{0};
std::atomic<uint32_t> g_serving{0};
std::atomic<uint32_t> g_owners[kOwnerRing];

// Whether the thread that took `ticket` is gone. A slot still 0 after a
// whole wait belongs to a thread ended between its ticket and its name;
// our own name on another ticket is a thread gone whose number we reuse.
bool TurnIsGone(uint32_t ticket, uint32_t self, bool unknownBefore) {
    const uint32_t owner = g_owners[ticket % kOwnerRing].load(std::memory_order_acquire);
    if (owner == 0) return unknownBefore;
    return owner == self || !ThreadRuns(owner);
}

// Holds the journal's state for one caller at a time, callers served in the
// order they came. Nothing inside calls the host, so a host that calls back
// in never meets it held by itself.
class Guard {
public:
    Guard() {
        const uint32_t self = ThisThread();
        for (;;) {
            ticket_ = g_nextTicket.fetch_add(1, std::memory_order_relaxed);
            g_owners[ticket_ % kOwnerRing].store(self, std::memory_order_release);
            if (Wait(self)) return;
            // Our turn was passed over (we looked gone): a new ticket.
        }
    }
    ~Guard() {
        uint32_t self = ThisThread();
        g_owners[ticket_ % kOwnerRing].compare_exchange_strong(self, 0, std::memory_order_relaxed);
        uint32_t mine = ticket_;
        g_serving.compare_exchange_strong(mine, ticket_ + 1, std::memory_order_release);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    // True when our turn came; false when it went by.
    bool Wait(uint32_t self) {
        uint32_t lookedTurn = g_serving.load(std::memory_order_acquire);
        long long lookedAt = NowMs();
        bool unknown = false;
        for (int attempt = 0;; ++attempt) {
            const uint32_t serving = g_serving.load(std::memory_order_acquire);
            if (serving == ticket_) return true;
            if (static_cast<int32_t>(serving - ticket_) > 0) return false;
            if (serving != lookedTurn) {
                lookedTurn = serving;
                lookedAt = NowMs();
                unknown = false;
            } else if (NowMs() - lookedAt >= kStateWaitMs) {
                AtSeam(Seam::StateWaitedOut);
                // The one served has had it kStateWaitMs: gone, or busy.
                // (Its name is in the ring only while fewer than
                // kOwnerRing tickets stand between us.)
                if (ticket_ - serving < kOwnerRing && TurnIsGone(serving, self, unknown)) {
                    uint32_t expected = serving;
                    g_serving.compare_exchange_strong(expected, serving + 1, std::memory_order_acq_rel);
                }
                unknown = g_owners[serving % kOwnerRing].load(std::memory_order_relaxed) == 0;
                lookedAt = NowMs();
            }
            Pause(attempt >= 8);
        }
    }

    uint32_t ticket_ = 0;
};

LogSlot& SlotFor(Journal& journal, const char* path) {
    LogSlot* oldest = &journal.slots[0];
    for (LogSlot& slot : journal.slots) {
        if (slot.used && std::strcmp(slot.path.c_str(), path) == 0) {
            slot.used = ++journal.clock;
            return slot;
        }
        if (slot.used < oldest->used) oldest = &slot;
    }
    EmptySlot(*oldest);
    FillSlot(*oldest, path);
    oldest->used = ++journal.clock;
    return *oldest;
}

LogSlot* FindSlot(Journal& journal, std::string_view path) {
    for (LogSlot& slot : journal.slots) {
        if (slot.used && slot.path == path) return &slot;
    }
    return nullptr;
}

// ---- a spill's header and its bound --------------------------------------

// A fold or a shift moves a spill's lines this many bytes at a time.
constexpr std::size_t kChunk = kFoldChunk;

bool ReadAtOf(void* file, uint64_t offset, char* out, std::size_t size) {
    return static_cast<AppendSession*>(file)->ReadAt(offset, out, size);
}

bool WriteHeader(AppendSession& spill, const SpillState& state) {
    char bytes[kSpillHeaderSize];
    return spill.WriteAt(0, std::string_view(bytes, SpillHeaderBytes(state, bytes)));
}

// Copies [from, size) to the body and cuts the file after it. The two
// never overlap (see DropOldest), so a copy cut short by a kill is done
// again whole from the header's shiftFrom.
bool Shift(AppendSession& spill, SpillState& state, std::string& buffer) {
    const int64_t size = spill.Size();
    const uint64_t from = *state.shiftFrom;
    if (from < state.body) return false;
    if (size > int64_t(from)) {
        buffer.resize(kChunk);
        for (uint64_t at = from; at < uint64_t(size);) {
            const std::size_t take = std::min<uint64_t>(kChunk, uint64_t(size) - at);
            if (!spill.ReadAt(at, &buffer[0], take) ||
                !spill.WriteAt(state.body + (at - from), std::string_view(buffer.data(), take))) {
                return false;
            }
            at += take;
        }
        if (!spill.CutTo(state.body + (uint64_t(size) - from))) return false;
    }
    state.shiftFrom.reset();
    return WriteHeader(spill, state);
}

// Where the line that holds byte `at` ends (after its LF), or `size`.
uint64_t LineEndAfter(AppendSession& spill, uint64_t at, uint64_t size, std::string& buffer) {
    buffer.resize(64 << 10);
    while (at < size) {
        const std::size_t take = std::min<uint64_t>(buffer.size(), size - at);
        if (!spill.ReadAt(at, &buffer[0], take)) return size;
        const std::size_t end = std::string_view(buffer.data(), take).find('\n');
        if (end != std::string_view::npos) return at + end + 1;
        at += take;
    }
    return size;
}

uint64_t CountLines(AppendSession& spill, uint64_t from, uint64_t to, std::string& buffer) {
    buffer.resize(kChunk);
    uint64_t lines = 0;
    for (uint64_t at = from; at < to;) {
        const std::size_t take = std::min<uint64_t>(kChunk, to - at);
        if (!spill.ReadAt(at, &buffer[0], take)) break;
        lines += std::count(buffer.begin(), buffer.begin() + take, '\n');
        at += take;
    }
    return lines;
}

// Drops the oldest lines of a full spill, so that at most half of
// kSpillLimit is left, and never more than what goes (so that the moved
// lines never overwrite their own source). Answers how many went that were
// not in the log already (those before a fold's foldFrom are).
uint64_t DropOldest(AppendSession& spill, SpillState& state, std::string& buffer) {
    const uint64_t size = uint64_t(spill.Size());
    const uint64_t body = state.body;
    uint64_t from = size > kSpillLimit / 2 ? std::max(body, size - kSpillLimit / 2) : body;
    if (size - from > from - body) from = body + (size - body + 1) / 2;
    from = LineEndAfter(spill, from == body ? body : from - 1, size, buffer);
    if (from == body) return 0;
    const uint64_t folded = state.foldFrom && state.foldAt ? std::min(*state.foldFrom, from) : body;
    const uint64_t dropped = CountLines(spill, folded, from, buffer);
    state.dropped += dropped;
    state.shiftFrom = from;
    if (state.foldFrom && *state.foldFrom >= from) {
        *state.foldFrom -= from - body;
    } else if (state.foldFrom) {
        // Lines of the chunk under way went: the next fold finds the first
        // one kept in the log's tail, or folds it.
        *state.foldFrom = body;
    }
    if (!WriteHeader(spill, state)) return 0;
    Shift(spill, state, buffer);
    return dropped;
}

// A spill that does not end in a line end holds a fragment of a line whose
// writer was killed before it could report it: it is cut off, so that
// nothing torn reaches the log.
void CutFragment(AppendSession& spill, uint64_t body, std::string& buffer) {
    const int64_t size = spill.Size();
    char last = '\n';
    if (size <= int64_t(body) || !spill.ReadAt(uint64_t(size - 1), &last, 1) || last == '\n') return;
    buffer.resize(64 << 10);
    for (uint64_t end = uint64_t(std::max<int64_t>(size, 0)); end > body;) {
        const std::size_t take = std::min<uint64_t>(buffer.size(), end - body);
        if (!spill.ReadAt(end - take, &buffer[0], take)) return;
        const std::size_t lineEnd = std::string_view(buffer.data(), take).rfind('\n');
        if (lineEnd != std::string_view::npos) {
            if (end - take + lineEnd + 1 != uint64_t(size)) spill.CutTo(end - take + lineEnd + 1);
            return;
        }
        end -= take;
        if (end == body) spill.CutTo(body);
    }
}

// What a spill about to be read or written is.
enum class SpillKind {
    Empty,    // no bytes: ours to begin
    Ours,     // a header whose fields fit the file (any interrupted shift finished)
    Foreign,  // anything else: no spill of ours, never folded or written to
};

SpillKind Prepare(AppendSession& spill, SpillState& state, std::string& buffer) {
    const int64_t size = spill.Size();
    if (size == 0) return SpillKind::Empty;
    char bytes[kSpillHeaderSize];
    const std::size_t have = std::size_t(std::min<int64_t>(std::max<int64_t>(size, 0), kSpillHeaderSize));
    std::optional<SpillState> read;
    if (have >= kOldSpillHeaderSize && spill.ReadAt(0, bytes, have)) read = ReadSpillHeader(std::string_view(bytes, have));
    if (!read) return SpillKind::Foreign;
    state = *read;
    if (state.shiftFrom && !Shift(spill, state, buffer)) return SpillKind::Foreign;
    return SpillStateFits(state, uint64_t(spill.Size())) ? SpillKind::Ours : SpillKind::Foreign;
}

// Appends to a spill under its lock: the header first when it is new (in
// the same write as the lines), the oldest lines dropped when it is full.
// A spill not of ours takes nothing (`foreign`).
std::size_t AppendToSpill(AppendSession& spill, LogSlot& slot, std::string_view lines, bool& foreign) {
    std::string buffer;
    SpillState state;
    const SpillKind kind = Prepare(spill, state, buffer);
    foreign = kind == SpillKind::Foreign;
    if (foreign) return 0;
    if (kind == SpillKind::Empty) {
        SpillState fresh;
        fresh.dropped = slot.droppedUnsaid;
        const SpillHeader header = MakeSpillHeader(fresh);
        buffer.assign(reinterpret_cast<const char*>(&header), sizeof header);
        buffer.append(lines.data(), lines.size());
        const std::size_t written = spill.Append(buffer);
        if (written < sizeof header) return 0;
        slot.droppedUnsaid = 0;
        return written - sizeof header;
    }
    CutFragment(spill, state.body, buffer);
    if (uint64_t(spill.Size()) + lines.size() > state.body + kSpillLimit) {
        slot.dropped += DropOldest(spill, state, buffer);
    }
    if (slot.droppedUnsaid) {
        state.dropped += slot.droppedUnsaid;
        if (WriteHeader(spill, state)) slot.droppedUnsaid = 0;
    }
    return spill.Append(lines);
}

// ---- folds ---------------------------------------------------------------

// Moves a spill's lines into the log, both under their locks: Emptied when
// the spill is empty then. Before each chunk it records in the header where
// the chunk comes from and where in the log it goes, so that a fold cut
// short is taken up where it was (FoldedAlready). A spill not of ours is
// left as it is.
enum class Folding { Emptied, Stopped, NotOurs };

Folding FoldOne(AppendSession& log, AppendSession& spill) {
    std::string buffer;
    SpillState state;
    if (Prepare(spill, state, buffer) == SpillKind::Foreign) return Folding::NotOurs;
    const int64_t size = spill.Size();
    if (size < 0) return Folding::Stopped;
    if (uint64_t(size) > state.body) {
        const int64_t logSize = log.Size();
        if (logSize < 0) return Folding::Stopped;
        const Folded done = FoldedAlready({ReadAtOf, &log}, uint64_t(logSize), {ReadAtOf, &spill}, uint64_t(size),
                                          state, buffer);
        uint64_t at = state.foldFrom && state.foldAt ? *state.foldFrom + done.bytes : state.body;
        // The rest of a line torn at the log's end goes on it; else a
        // fragment there (another writer's) is ended first.
        int64_t end = done.atLogEnd ? logSize : log.EndFragment();
        if (end < 0) return Folding::Stopped;
        const bool old = state.body == kOldSpillHeaderSize;
        if (old && !(state.foldAt && done.bytes)) {
            // An old header records only where in the log the fold began.
            state.foldAt = uint64_t(end);
            state.foldFrom = state.body;
            if (!WriteHeader(spill, state)) return Folding::Stopped;
        }
        buffer.resize(kChunk);
        while (at < uint64_t(size)) {
            std::size_t take = std::min<uint64_t>(kChunk, uint64_t(size) - at);
            if (!spill.ReadAt(at, &buffer[0], take)) return Folding::Stopped;
            // Whole lines at a time, so that a short write stops at a line's
            // end; a fragment at the very end (a writer killed in the middle
            // of a line it never reported) is left out.
            const bool last = at + take == uint64_t(size);
            const std::size_t lineEnd = std::string_view(buffer.data(), take).rfind('\n');
            if (lineEnd != std::string_view::npos) {
                take = lineEnd + 1;
            } else if (last) {
                break;
            }
            AtSeam(Seam::FoldChunk);
            if (!old) {
                state.foldAt = uint64_t(end);
                state.foldFrom = at;
                if (!WriteHeader(spill, state)) return Folding::Stopped;
            }
            if (log.Append(std::string_view(buffer.data(), take), &end) != take) return Folding::Stopped;
            at += take;
        }
    }
    if (!spill.CutTo(0)) return Folding::Stopped;
    spill.RemoveWhenDone();
    return Folding::Emptied;
}

// True when no spill of the log holds lines now: each that does is folded
// in first, the one beside before the one in the temporary folder (another
// process may have put lines in either). A spill that cannot be opened now
// stays, for a later line; a file of that name not of ours is set aside.
// A fold that stops short (the log takes no more) is not tried again for
// a second unless the log's size changes: its lines wait in the spill.
bool FoldSpills(LogSlot& slot, AppendSession& log) {
    for (const bool temporary : {false, true}) {
        const std::string& name = temporary ? slot.temporary : slot.beside;
        if (name.empty() || FileSizeOf(name.c_str(), slot.ascii) <= 0) continue;
        bool foreign = false;
        {
            AppendSession spill(name.c_str(), AppendSession::Mode::Fold, AppendSession::Wait::Once, nullptr,
                                slot.ascii);
            if (spill.ready()) {
                const Folding folding = FoldOne(log, spill);
                if (folding == Folding::Stopped) {
                    slot.stuckSize = log.Size();
                    slot.stuckUntil = NowMs() + 1000;
                    return false;
                }
                foreign = folding == Folding::NotOurs;
            } else if (spill.notOurs()) {
                foreign = true;
            } else if (FileSizeOf(name.c_str()) > 0) {
                return false;
            }
        }
        if (foreign) SetAside(name);
    }
    slot.spilled = slot.temporaryInUse = false;
    slot.stuckSize = -1;
    slot.lookedAt = g_journal.lineMoment;
    return true;
}

// ---- placing lines -------------------------------------------------------

std::size_t ToSpill(LogSlot& slot, std::string_view lines) {
    // A spill's lock is held only for an append or a fold: not worth a
    // long wait, and none once the log's own wait ran out.
    const AppendSession::Wait wait = slot.busy ? AppendSession::Wait::Once : AppendSession::Wait::Brief;
    std::size_t placed = 0;
    for (const bool temporary : {false, true}) {
        // Once the temporary one holds lines, it takes the later ones too.
        if (!temporary && slot.temporaryInUse) continue;
        const std::string& name = temporary ? slot.temporary : slot.beside;
        if (name.empty()) continue;
        // A file there not of ours is set aside, and the name used afresh.
        for (int attempt = 0; attempt < 2 && placed < lines.size(); ++attempt) {
            bool foreign = false;
            {
                AppendSession spill(name.c_str(), AppendSession::Mode::Spill, wait);
                if (spill.ready()) {
                    AtSeam(Seam::SpillLocked);
                    const std::size_t written = AppendToSpill(spill, slot, lines.substr(placed), foreign);
                    if (written > 0) (temporary ? slot.temporaryInUse : slot.spilled) = true;
                    placed += written;
                } else {
                    foreign = spill.notOurs();
                }
            }
            if (!foreign) break;
            SetAside(name);
        }
        if (placed == lines.size()) break;
    }
    return placed;
}

// Whole lines to the log, or what it does not take to a spill: answers how
// many of their bytes are on disk (whole lines).
std::size_t Place(LogSlot& slot, std::string_view lines) {
    std::size_t placed = 0;
    {
        AppendSession log(slot.path.c_str(), AppendSession::Mode::Log,
                          slot.busy ? AppendSession::Wait::Once : AppendSession::Wait::Patient, slot.turn, slot.ascii);
        if (log.ready()) {
            slot.busy = false;
            // The spill beside is looked for where it may hold lines: this
            // process put some there, or another writer wrote to the log
            // since this one's last line (it may have spilled too), or a
            // while has gone.
            // (Its size only: a fragment there may be a fold's, to go on.)
            const int64_t size = log.Size();
            const bool look = slot.spilled || slot.temporaryInUse || size != slot.knownEnd ||
                              g_journal.lineMoment - slot.lookedAt >= kSpillLookSeconds ||
                              g_journal.lineMoment < slot.lookedAt;  // a clock set back
            const bool stuck = size == slot.stuckSize && NowMs() < slot.stuckUntil;
            if (!look || (!stuck && FoldSpills(slot, log))) placed = log.Append(lines, &slot.knownEnd);
        } else if (log.waitedOut()) {
            slot.busy = true;
        }
    }
    if (placed < lines.size()) placed += ToSpill(slot, lines.substr(placed));
    return placed;
}

// ---- lines in memory -----------------------------------------------------

void Keep(Journal& journal, std::string_view path, std::string_view line) {
    journal.kept.push_back(Kept{std::string(path), std::string(line)});
    journal.keptBytes += line.size();
    while (journal.keptBytes > kBacklogLimit && journal.kept.size() > 1) {
        const Kept& oldest = journal.kept.front();
        if (LogSlot* slot = FindSlot(journal, oldest.path)) {
            ++slot->dropped;
            ++slot->droppedUnsaid;
        }
        journal.keptBytes -= oldest.line.size();
        journal.kept.pop_front();
    }
}

bool KeepsLinesOf(const Journal& journal, std::string_view path) {
    return std::any_of(journal.kept.begin(), journal.kept.end(), [&](const Kept& k) { return k.path == path; });
}

// The lines of `slot`'s log kept in memory go to a file, in order, as far
// as one takes them.
void PlaceKept(Journal& journal, LogSlot& slot) {
    std::string lines;
    for (const Kept& kept : journal.kept) {
        if (kept.path == slot.path) lines += kept.line;
    }
    std::size_t placed = Place(slot, lines);
    std::deque<Kept> still;
    for (Kept& kept : journal.kept) {
        if (kept.path == slot.path && placed >= kept.line.size()) {
            placed -= kept.line.size();
            journal.keptBytes -= kept.line.size();
        } else {
            if (kept.path == slot.path) placed = 0;
            still.push_back(std::move(kept));
        }
    }
    journal.kept.swap(still);
}

}  // namespace

void WriteLogLine(const char* path, std::string_view line) {
    Guard guard;
    AtSeam(Seam::StateHeld);
    Journal& journal = g_journal;
    LogSlot& slot = SlotFor(journal, path);
    if (!journal.kept.empty() && KeepsLinesOf(journal, path)) {
        Keep(journal, path, line);
        PlaceKept(journal, slot);
        return;
    }
    if (Place(slot, line) < line.size()) Keep(journal, path, line);
}

void LineStamp(int64_t moment, char* out) {
    Guard guard;
    Journal& journal = g_journal;
    journal.lineMoment = moment;
    if (moment < journal.minuteFrom || moment >= journal.minuteTo) {
        const LocalTime local = ToLocalTime(moment);
        WriteStamp(local, out);
        if (local.year == 0 || local.second > 59) return;
        std::memcpy(journal.minute, out, kStampSize);
        journal.minuteFrom = moment - local.second;
        journal.minuteTo = journal.minuteFrom + 60;
        return;
    }
    // The minute's stamp, its seconds written anew.
    std::memcpy(out, journal.minute, kStampSize);
    const int second = static_cast<int>(moment - journal.minuteFrom);
    out[12] = static_cast<char>('0' + second / 10);
    out[13] = static_cast<char>('0' + second % 10);
}

LogTally TallyOf(const char* path) {
    Guard guard;
    LogTally tally;
    for (const Kept& kept : g_journal.kept) tally.inMemory += kept.path == path;
    if (const LogSlot* slot = FindSlot(g_journal, path)) tally.dropped = slot->dropped;
    return tally;
}

void SpillBacklog() {
    Guard guard;
    Journal& journal = g_journal;
    while (!journal.kept.empty()) {
        const std::string path = journal.kept.front().path;
        LogSlot& slot = SlotFor(journal, path.c_str());
        slot.busy = false;  // one patient try more
        PlaceKept(journal, slot);
        // What could go nowhere is gone with the process.
        journal.kept.erase(std::remove_if(journal.kept.begin(), journal.kept.end(),
                                          [&](const Kept& kept) { return kept.path == path; }),
                           journal.kept.end());
    }
    journal.keptBytes = 0;
    for (LogSlot& slot : journal.slots) EmptySlot(slot);
    journal.clock = 0;
}

#if defined(PLUMETA_TEST_SEAMS)
void SetTestSeam(void (*hook)(Seam)) { g_seam.store(hook, std::memory_order_release); }
#endif

}  // namespace plumeta
