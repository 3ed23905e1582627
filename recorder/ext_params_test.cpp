#include "recorder/ext_params.h"

#include <gtest/gtest.h>

namespace plumeta {
namespace {

TEST(ExtParams, SetsOrReplacesTheFirstEntry) {
    struct Row {
        const char* ext;
        const char* name;
        const char* value;
        const char* expected;
    };
    const Row rows[] = {
        {"", "Display", "Ty", "\x1A" "Display=Ty"},
        {"\x1A" "Display=x", "Display", "y", "\x1A" "Display=y"},
        {"\x1A" "A=1\x1A" "Display=x\x1A" "B=2", "Display", "y", "\x1A" "A=1\x1A" "Display=y\x1A" "B=2"},
        {"\x1A" "A=1\x1A" "Display=x", "Display", "y", "\x1A" "A=1\x1A" "Display=y"},
        // Not recognised without its separator.
        {"Display=x", "Display", "y", "Display=x\x1A" "Display=y"},
        // Only the first of two is replaced.
        {"\x1A" "Display=a\x1A" "Display=b", "Display", "y", "\x1A" "Display=y\x1A" "Display=b"},
        // A prefix of a longer name does not match.
        {"\x1A" "Display=x", "Disp", "y", "\x1A" "Display=x\x1A" "Disp=y"},
        {"", "Display", "", "\x1A" "Display="},
        {"\x1A" "A=1", "", "y", "\x1A" "A=1"},
        // A separator in the value would read back as a second entry.
        {"", "Display", "Ania\x1A" "Evil=1", "\x1A" "Display=AniaEvil=1"},
        {"\x1A" "Display=x\x1A" "B=2", "Display", "\x1A\x1A", "\x1A" "Display=\x1A" "B=2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(SetExtParam(row.ext, row.name, row.value), row.expected);
    }
}

}  // namespace
}  // namespace plumeta
