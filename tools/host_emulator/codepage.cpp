#include "tools/host_emulator/codepage.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace emulator {

#if defined(_WIN32)

namespace {
constexpr UINT kCp1250 = 1250;

std::optional<std::wstring> Widen(UINT codePage, DWORD flags, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), int(text.size()), &wide[0], length);
    return wide;
}
}  // namespace

std::optional<std::string> ToCp1250(const std::string& utf8) {
    const std::optional<std::wstring> wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
    if (!wide) return std::nullopt;
    if (wide->empty()) return std::string();
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, wide->data(),
                                           int(wide->size()), nullptr, 0, nullptr, &lossy);
    std::string narrow(length, '\0');
    WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, wide->data(), int(wide->size()), &narrow[0],
                        length, nullptr, &lossy);
    if (lossy || length <= 0) return std::nullopt;
    return narrow;
}

std::string ToUtf8(const std::string& cp1250) {
    const std::wstring wide = Widen(kCp1250, 0, cp1250).value_or(L"");
    if (wide.empty()) return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

#else

namespace {
std::optional<std::string> Convert(const char* to, const char* from, const std::string& text) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = &out[0];
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}
}  // namespace

std::optional<std::string> ToCp1250(const std::string& utf8) {
    return Convert("CP1250", "UTF-8", utf8);
}

std::string ToUtf8(const std::string& cp1250) {
    // Unassigned bytes stop iconv: convert byte by byte, with U+FFFD for those.
    if (std::optional<std::string> whole = Convert("UTF-8", "CP1250", cp1250)) return *whole;
    std::string utf8;
    for (char byte : cp1250) {
        utf8 += Convert("UTF-8", "CP1250", std::string(1, byte)).value_or("\xEF\xBF\xBD");
    }
    return utf8;
}

#endif

}  // namespace emulator
