// A spill file: the lines a log could not take when they were made, kept on
// disk until a later writer folds them into the log. Its name is the log's
// with kSpillWord and kSpillExtension in place of ".txt", so that no log
// can ever be called like it (every log's name ends in ".txt"). It begins
// with one header line, then holds the lines as the log would:
//
//   offset  size  field
//   0       17    magic      "#plumeta-zalegle "
//   17      3                "od="
//   20      20    foldAt     the log's size where the lines from foldFrom
//                            began to go in, 20 decimal digits, or 20 '-'
//                            when no fold is under way
//   40      10               " usuniete="
//   50      10    dropped    how many of its oldest lines were dropped to
//                            keep it within kSpillLimit, 10 decimal digits
//   60      9                " przesuw="
//   69      20    shiftFrom  where the lines kept when the oldest were
//                            dropped began, while they move to the body;
//                            20 digits, or 20 '-'
//   89      8                " doszlo="
//   97      20    foldFrom   how far a fold under way came: every line
//                            before this offset is in the log; 20 digits,
//                            or 20 '-'
//   117     2                "\r\n"
//
// Every field has its fixed place, so the header is rewritten in place. A
// fold records foldAt and foldFrom before each chunk it appends, so that a
// fold cut short is completed from where it was, whatever became of the
// log meanwhile (FoldedAlready). The first spills had no " doszlo=" (their
// header ended at 89, kOldSpillHeaderSize bytes): they are read, and keep
// their shape. A spill that is not empty and does not begin with a header
// whose fields fit the file is no spill of ours: nobody folds it or
// writes to it; the module sets it aside (SpillAsideName). Nor is a link
// or a folder at a spill's name: the module opens no spill through a link
// (O_NOFOLLOW; FILE_FLAG_OPEN_REPARSE_POINT, a reparse point refused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recorder/clock.h"

namespace plumeta {

inline constexpr char kSpillWord[] = "-zalegle";
inline constexpr char kSpillExtension[] = ".log";
// What one spill holds at most; past it, its oldest lines go until half
// of it is left.
constexpr uint64_t kSpillLimit = 64ull << 20;

#pragma pack(push, 1)
struct SpillHeader {
    char magic[17];
    char foldKey[3];
    char foldAt[20];
    char droppedKey[10];
    char dropped[10];
    char shiftKey[9];
    char shiftFrom[20];
    char progressKey[8];
    char foldFrom[20];
    char end[2];
};
#pragma pack(pop)
static_assert(sizeof(SpillHeader) == 119);
static_assert(offsetof(SpillHeader, foldKey) == 17);
static_assert(offsetof(SpillHeader, foldAt) == 20);
static_assert(offsetof(SpillHeader, droppedKey) == 40);
static_assert(offsetof(SpillHeader, dropped) == 50);
static_assert(offsetof(SpillHeader, shiftKey) == 60);
static_assert(offsetof(SpillHeader, shiftFrom) == 69);
static_assert(offsetof(SpillHeader, progressKey) == 89);
static_assert(offsetof(SpillHeader, foldFrom) == 97);
static_assert(offsetof(SpillHeader, end) == 117);
constexpr std::size_t kSpillHeaderSize = sizeof(SpillHeader);
constexpr std::size_t kOldSpillHeaderSize = offsetof(SpillHeader, progressKey) + 2;

// The header's fields as numbers; a field of '-' is empty.
struct SpillState {
    std::optional<uint64_t> foldAt;
    std::optional<uint64_t> foldFrom;  // an old header: its body, while foldAt is set
    uint64_t dropped = 0;
    std::optional<uint64_t> shiftFrom;
    std::size_t body = kSpillHeaderSize;  // where its lines begin: the header's size
};

SpillHeader MakeSpillHeader(const SpillState& state);
// The header's bytes, in the shape `state.body` says: `out` holds
// kSpillHeaderSize bytes; answers how many are the header.
std::size_t SpillHeaderBytes(const SpillState& state, char* out);
// The state in the first bytes of a spill, or nothing when they are no
// header. Whether its offsets fit the file is SpillStateFits's to say.
std::optional<SpillState> ReadSpillHeader(std::string_view bytes);
// Whether the offsets of `state` can stand in a spill of `size` bytes
// (with no shift under way): a header that says otherwise is not ours.
bool SpillStateFits(const SpillState& state, uint64_t size);

// Reads exactly `size` bytes at `offset` of a file into `out`.
struct ReadAtFn {
    bool (*read)(void* file, uint64_t offset, char* out, std::size_t size);
    void* file;
};

// What a fold cut short put into the log already, of the spill's lines
// from foldFrom on: found where the header says it began (the log's size
// then), else (the log changed meanwhile: lines deleted or inserted above,
// or it was replaced) in the log's last kFoldChunk + kFoldTailSlack bytes,
// where the first of those lines begins the longest run of them (the last
// such place on a tie). A run ends at the log's end (`atLogEnd`; the rest
// of a line torn there is still to come) or at a line end before a line of
// another writer. Nothing when no fold was under way, or nothing is found.
// The module's next fold and the reader both go by it.
constexpr std::size_t kFoldChunk = 1 << 20;      // a fold appends this much at a time, at most
constexpr std::size_t kFoldTailSlack = 64 << 10;  // for lines other writers put after it
struct Folded {
    uint64_t bytes = 0;  // from foldFrom on
    bool atLogEnd = false;
};
Folded FoldedAlready(ReadAtFn log, uint64_t logSize, ReadAtFn spill, uint64_t spillSize, const SpillState& state,
                     std::string& buffer);

// "statusy.txt" -> "statusy-zalegle.log" (a name without ".txt" keeps all of it).
std::string SpillBeside(std::string_view log);
// In `folder` (ending in its separator): the log's base name, kSpillWord,
// "-", 16 hex digits of a 64-bit hash of `fullLog` (the log's absolute
// name), and kSpillExtension. "" when there is no folder.
std::string SpillInFolder(std::string_view folder, std::string_view log, std::string_view fullLog);

// Where a file found at a spill's name that is no spill of ours is moved,
// so that it is never folded, cut or written to, and the name is free
// again: "statusy-zalegle.log" -> "statusy-zalegle-zly-20261210-230412.log"
// (`when`, local time), with "-N" after the time when `attempt` N > 0.
std::string SpillAsideName(std::string_view spill, const LocalTime& when, int attempt);

// The user's temporary folder, ending in its separator, in Windows-1250
// (empty when unknown).
std::string TemporaryFolder();
// The absolute form of `path` in Windows-1250 (`path` itself when unknown).
std::string AbsolutePath(const char* path);
// The spill of the log `path` in the temporary folder (SpillInFolder), or ""
// when there is none.
std::string SpillInTemporaryFolder(const char* path);

}  // namespace plumeta
