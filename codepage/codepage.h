// Windows-1250 <-> UTF-8 (and UTF-16 on Windows) through the platform's own
// converter: iconv on Linux, the Windows API on Windows. The one place in the
// tree that converts code pages; the module (for log file names) and both
// tools use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plumeta {

// ASCII reads the same in every code page involved: no conversion needed.
bool IsAscii(std::string_view text);

// Opens the converters once; keep one per tool and reuse it for every text.
class Cp1250Converter {
public:
    Cp1250Converter();
    ~Cp1250Converter();
    Cp1250Converter(const Cp1250Converter&) = delete;
    Cp1250Converter& operator=(const Cp1250Converter&) = delete;

    // Appends the UTF-8 form of `cp1250`. Every byte has a character but the
    // five that Windows-1250 leaves unassigned (0x81 0x83 0x88 0x90 0x98):
    // those come out as U+FFFD.
    void AppendUtf8(std::string& out, std::string_view cp1250) const;
    std::string ToUtf8(std::string_view cp1250) const;
    // The UTF-8 of one byte of 0x80..0xFF, for who converts byte by byte.
    std::string_view HighByteUtf8(unsigned char byte) const {
        return std::string_view(high_[byte - 0x80], highLength_[byte - 0x80]);
    }
    // Empty when `utf8` is not valid UTF-8, or holds a character that
    // Windows-1250 has no byte for.
    std::optional<std::string> ToCp1250(std::string_view utf8) const;

private:
    // The UTF-8 of bytes 0x80..0xFF, as the platform converts them.
    char high_[128][4];
    uint8_t highLength_[128];
    void* toCp1250_;  // Linux: the iconv descriptor, or null when unavailable
};

#if defined(_WIN32)
// The UTF-16 form, for the system's wide functions; empty when the system
// cannot convert from Windows-1250.
std::optional<std::wstring> Cp1250ToUtf16(std::string_view cp1250);
// The Windows-1250 form; empty when a character has no byte there.
std::optional<std::string> Utf16ToCp1250(std::wstring_view utf16);
#endif

}  // namespace plumeta
