#include "recorder/spill_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace plumeta {
namespace {

std::string Bytes(const SpillHeader& header) {
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

TEST(SpillFile, HeaderImage) {
    SpillState state;
    EXPECT_EQ(Bytes(MakeSpillHeader(state)),
              "#plumeta-zalegle od=-------------------- usuniete=0000000000 przesuw=-------------------- "
              "doszlo=--------------------\r\n");
    state.foldAt = 1234;
    state.foldFrom = 119;
    state.dropped = 56;
    state.shiftFrom = UINT64_MAX;
    const std::string image = Bytes(MakeSpillHeader(state));
    EXPECT_EQ(image,
              "#plumeta-zalegle od=00000000000000001234 usuniete=0000000056 przesuw=18446744073709551615 "
              "doszlo=00000000000000000119\r\n");
    const std::optional<SpillState> back = ReadSpillHeader(image + "01.02 03:04.05 Ania(1@GG)\r\n");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->foldAt, 1234u);
    EXPECT_EQ(back->foldFrom, 119u);
    EXPECT_EQ(back->dropped, 56u);
    EXPECT_EQ(back->shiftFrom, UINT64_MAX);
    EXPECT_EQ(back->body, kSpillHeaderSize);
    // The first spills' header, without " doszlo=": read, and written back in its shape.
    const std::string old = "#plumeta-zalegle od=00000000000000000077 usuniete=0000000003 przesuw=--------------------\r\n";
    const std::optional<SpillState> first = ReadSpillHeader(old + "01.02 03:04.05 Ania(1@GG)\r\n");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->body, kOldSpillHeaderSize);
    EXPECT_EQ(first->foldAt, 77u);
    EXPECT_EQ(first->foldFrom, kOldSpillHeaderSize);
    EXPECT_EQ(first->dropped, 3u);
    char bytes[kSpillHeaderSize];
    EXPECT_EQ(std::string(bytes, SpillHeaderBytes(*first, bytes)), old);
}

// Anything else is no header; offsets that cannot stand in the file are no
// spill of ours.
TEST(SpillFile, NotAHeader) {
    const std::string good = Bytes(MakeSpillHeader({}));
    const struct {
        std::size_t at;
        char byte;
    } edits[] = {{0, '!'}, {18, 'x'}, {25, '7'}, {55, '-'}, {55, 'a'}, {88, '9'}, {89, '\n'}, {100, '5'}, {117, '\n'}};
    for (const auto& edit : edits) {
        std::string bad = good;
        bad[edit.at] = edit.byte;
        EXPECT_FALSE(ReadSpillHeader(bad)) << edit.at;
    }
    std::string overflow = good;
    overflow.replace(20, 20, "99999999999999999999");
    EXPECT_FALSE(ReadSpillHeader(overflow));
    EXPECT_FALSE(ReadSpillHeader(good.substr(0, good.size() - 1)));
    EXPECT_FALSE(ReadSpillHeader("01.02 03:04.05 Ania(1@GG)\r\n"));
    EXPECT_FALSE(ReadSpillHeader(std::string(300, '\0')));

    SpillState state;
    EXPECT_TRUE(SpillStateFits(state, kSpillHeaderSize));
    EXPECT_FALSE(SpillStateFits(state, kSpillHeaderSize - 1));
    state.foldAt = 0;
    state.foldFrom = 100;  // inside the header
    EXPECT_FALSE(SpillStateFits(state, 500));
    state.foldFrom = 501;  // past the end
    EXPECT_FALSE(SpillStateFits(state, 500));
    state.foldFrom = 500;
    EXPECT_TRUE(SpillStateFits(state, 500));
}

// No log can be called like a spill: every log's name ends in ".txt".
TEST(SpillFile, Names) {
    EXPECT_EQ(SpillBeside("statusy.txt"), "statusy-zalegle.log");
    EXPECT_EQ(SpillBeside("C:\\logi\\statusy-zalegle.txt"), "C:\\logi\\statusy-zalegle-zalegle.log");
    EXPECT_EQ(SpillBeside("bez"), "bez-zalegle.log");
    const std::string temporary = SpillInFolder("/tmp/", "logi/statusy.txt", "/home/a/logi/statusy.txt");
    // 64 bits of FNV-1a over the full name; earlier versions kept the last 8 digits.
    EXPECT_EQ(temporary, "/tmp/statusy-zalegle-1eb1f961a2a857db.log");
    EXPECT_NE(temporary, SpillInFolder("/tmp/", "logi/statusy.txt", "/home/b/logi/statusy.txt"));
    EXPECT_EQ(SpillInFolder("", "statusy.txt", "/statusy.txt"), "");
    const LocalTime when{2026, 12, 10, 23, 4, 12};
    EXPECT_EQ(SpillAsideName("C:\\logi\\statusy-zalegle.log", when, 0),
              "C:\\logi\\statusy-zalegle-zly-20261210-230412.log");
    EXPECT_EQ(SpillAsideName(temporary, when, 2), "/tmp/statusy-zalegle-1eb1f961a2a857db-zly-20261210-230412-2.log");
}

}  // namespace
}  // namespace plumeta
