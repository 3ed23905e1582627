// A spill file: the lines a log could not take when they were made, kept on
// disk until a later writer folds them into the log. Its name is the log's
// with kSpillWord and kSpillExtension in place of ".txt", so that no log
// can ever be called like it (every log's name ends in ".txt"). It begins
// with one header line, then holds the lines as the log would:
//
//   offset  size  field
//   0       17    magic      "#plumeta-zalegle "
//   17      3                "od="
//   20      20    foldAt     the log's size where the fold under way began,
//                            20 decimal digits, or 20 '-' when none is
//   40      10               " usuniete="
//   50      10    dropped    how many of its oldest lines were dropped to
//                            keep it within kSpillLimit, 10 decimal digits
//   60      9                " przesuw="
//   69      20    shiftFrom  where the lines kept when the oldest were
//                            dropped began, while they move to offset 91;
//                            20 digits, or 20 '-'
//   89      2                "\r\n"
//
// Every field has its fixed place, so the header is rewritten in place.
// A file that does not begin with the magic holds lines only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
    char end[2];
};
#pragma pack(pop)
static_assert(sizeof(SpillHeader) == 91);
static_assert(offsetof(SpillHeader, foldKey) == 17);
static_assert(offsetof(SpillHeader, foldAt) == 20);
static_assert(offsetof(SpillHeader, droppedKey) == 40);
static_assert(offsetof(SpillHeader, dropped) == 50);
static_assert(offsetof(SpillHeader, shiftKey) == 60);
static_assert(offsetof(SpillHeader, shiftFrom) == 69);
static_assert(offsetof(SpillHeader, end) == 89);
constexpr std::size_t kSpillHeaderSize = sizeof(SpillHeader);

// The header's fields as numbers; a field of '-' is empty.
struct SpillState {
    std::optional<uint64_t> foldAt;
    uint64_t dropped = 0;
    std::optional<uint64_t> shiftFrom;
};

SpillHeader MakeSpillHeader(const SpillState& state);
// The state in the first bytes of a spill, or nothing when they are no
// header (then the file holds lines only).
std::optional<SpillState> ReadSpillHeader(std::string_view bytes);

// "statusy.txt" -> "statusy-zalegle.log" (a name without ".txt" keeps all of it).
std::string SpillBeside(std::string_view log);
// In `folder` (ending in its separator): the log's base name, kSpillWord,
// "-", 8 hex digits of a hash of `fullLog` (the log's absolute name), and
// kSpillExtension. "" when there is no folder.
std::string SpillInFolder(std::string_view folder, std::string_view log, std::string_view fullLog);

}  // namespace plumeta
