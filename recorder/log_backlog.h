// The log's backlog: the lines that could not be written when they were
// made (the file held by another program, read-only, its folder not to be
// made, the disk full), kept in order with the file each was meant for.
// With the host interface pointer it is the only state the module keeps,
// here and nowhere else; it is guarded for hosts that log from several
// threads.
//
// - While it is empty, a line is written at once, waiting as append_file.h
//   says. Once lines wait, every later line joins them and each file that
//   has any is tried exactly once, without waiting for a held file: its
//   lines go in whole, once, in their order, the new one last.
// - At most kBacklogLimit bytes of lines are kept; past that the oldest are
//   dropped first (the newest line is always kept).
// - When the module is unloaded, what still cannot be written goes to a
//   spill file beside its log (the log's name with kSpillWord before its
//   ".txt"), or, where that folder cannot be written either, to the user's
//   temporary folder (kSpillWord, then a number made from the log's full
//   name). The first time a later load writes to that log, under the log's
//   append lock, it first moves both spills' lines into it and removes
//   them: two looks per log name and load, none per line.
// - The backlog allocates only while it is used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plumeta {

constexpr std::size_t kBacklogLimit = 1 << 20;
inline constexpr char kSpillWord[] = "-zalegle";

// Writes `line` (one whole line ending in CR LF) to the log file `path`
// (NUL-terminated, Windows-1250), after the lines kept before it, or keeps
// it. Copies what it keeps; nothing is thrown but std::bad_alloc.
void WriteLogLine(const char* path, std::string_view line);

// How many lines are kept now.
std::size_t KeptLines();

// Tries once more to write every kept line, then puts what is still kept
// into spill files and forgets it, also when nothing could take it. Runs
// when the module is unloaded.
void SpillBacklog();

// The spill file beside the log `path`: "statusy.txt" -> "statusy-zalegle.txt".
std::string SpillBeside(std::string_view path);
// The spill file in the temporary folder, or "" when there is none.
std::string SpillInTemporaryFolder(const char* path);

}  // namespace plumeta
