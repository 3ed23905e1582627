// UTF-8 <-> Windows-1250, through the platform's converter (iconv, or the
// Windows API under Wine).
#pragma once

#include <optional>
#include <string>

namespace emulator {

// Empty optional when `utf8` is not valid UTF-8 or holds a character that
// Windows-1250 has no byte for.
std::optional<std::string> ToCp1250(const std::string& utf8);
// Every Windows-1250 byte has a character, but 0x81, 0x83, 0x88, 0x90 and
// 0x98 are unassigned: those come back as U+FFFD.
std::string ToUtf8(const std::string& cp1250);

}  // namespace emulator
