// The log as a journal: every line goes to its log, or, when the log cannot
// take it, to the log's spill file (spill_file.h) before the call returns,
// so that nothing already reported is lost when the host is killed. With
// the host interface pointer, the state kept here is the only state of the
// module, and it lives here and nowhere else: for each of the last
// kLogSlots log names, its spill names, its writers' turn (append_file.h),
// whether its lock was found held, and where this process's last line
// ended; the lines no file could take (a bounded backlog in memory); and
// the stamp of the minute the last line was stamped in.
//
// - Order: while a log's spill holds lines, no later line goes to the log
//   before them. A line looks at the spill beside the log (a look, no open)
//   wherever it may hold lines: while this process has put lines there,
//   when another writer wrote to the log since this one's last line, and
//   once kSpillLookSeconds have gone by the lines' stamps; when it holds
//   lines, they are folded in, under both files' locks, before the line. (A
//   spill another writer made without writing to the log, its lock's wait
//   run out, is so seen within a second.) A spill that cannot be folded
//   now (held, read-only) takes the line instead, and is tried again at
//   the next one; a fold that stopped part way (the log took no more) is
//   tried again after a second, or once the log's size changed.
// - A file at a spill's name that is no spill of ours (spill_file.h) is
//   moved aside under a name that says so, never folded, cut or written.
// - Where a spill goes: beside the log; where that cannot be written, in
//   the user's temporary folder. Once the one in the temporary folder
//   holds lines, later ones join it, and a fold takes the one beside first:
//   they come back in the order they were made.
// - A fold is exactly once, whatever instant it is killed at and whatever
//   became of the log meanwhile: before each chunk it appends, the spill's
//   header records where the chunk comes from and the log's size there; a
//   later fold finds what of it the log holds (there, or in the log's tail
//   when lines were deleted or added above: FoldedAlready), and writes
//   only the rest. The spill is emptied (and removed) only once all of it is in.
//   A log renamed away while a fold has it open (Linux; Windows refuses the
//   rename until the fold lets go) takes the whole fold under its new name.
//   Renamed away after a fold was cut short, the lines from the chunk under
//   way on go to the log found at the name: none twice in one file, the
//   chunk cut short (at most kFoldChunk) possibly in both.
// - A spill holds at most kSpillLimit bytes; past that, its oldest lines
//   go until half is left, counted in its header.
// - The host is held at most one lock wait: after a wait runs out, later
//   lines go to the spill after one try of the lock, until it is found free.
// - Only a line that neither the log nor a spill can take is kept in
//   memory (at most kBacklogLimit bytes, the oldest dropped first, and
//   counted); every later line of that log joins it until it can go.
// - Threads: one caller at a time uses the state, and callers have it in
//   the order they came (a ticket each), so every line of the process goes
//   the one way above, placed in the order its call began: a thread's
//   lines in its own order, lines of threads in the order of their
//   tickets. A caller waits while the one before it works: one lock wait
//   (kAppendLockWaitMs) and its spill's (kBriefLockWaitMs), or a fold (a spill
//   of up to kSpillLimit bytes, streamed). The turn of a thread that is
//   gone (ended inside the module, or by the process's end) is passed on
//   after kStateWaitMs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "recorder/spill_file.h"

namespace plumeta {

constexpr std::size_t kBacklogLimit = 1 << 20;
constexpr std::size_t kLogSlots = 8;
constexpr int kStateWaitMs = 200;
constexpr int64_t kSpillLookSeconds = 1;  // by the lines' own clock

// Writes `line` (one whole line ending in CR LF) to the log file `path`
// (NUL-terminated, Windows-1250), or to its spill, or keeps it. Copies what
// it keeps; nothing is thrown but std::bad_alloc.
void WriteLogLine(const char* path, std::string_view line);

// Writes the stamp of `moment` ("DD.MM hh:mm.ss ", status_log.h) into the
// kStampSize bytes at `out`: the local time is converted once a minute (no
// time zone changes its offset within a minute), so that a burst of
// changes costs one conversion.
void LineStamp(int64_t moment, char* out);

// What this load knows of a log: lines kept in memory now, and lines it
// dropped (from memory, or the oldest of a full spill).
struct LogTally {
    std::size_t inMemory = 0;
    uint64_t dropped = 0;
};
LogTally TallyOf(const char* path);

#if defined(PLUMETA_TEST_SEAMS)
// Test builds only: where a test may stall a caller on purpose, the hook
// called there (by the caller's own thread) with the point it reached.
enum class Seam {
    StateHeld,       // a caller has the state, before it places its line
    StateWaitedOut,  // a caller has waited kStateWaitMs for the one served
    SpillLocked,     // a line is about to go into a spill, under its lock
    FoldChunk,       // a fold is about to append a chunk, under both locks
};
void SetTestSeam(void (*hook)(Seam));
#endif

// Tries once more to place every line kept in memory, then forgets the
// state (what could go nowhere is lost). Runs when the module is unloaded.
void SpillBacklog();

}  // namespace plumeta
