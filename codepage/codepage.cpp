#include "codepage/codepage.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace plumeta {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

bool IsAscii(std::string_view text) {
    // Eight bytes at a time: a file name is looked at for every line.
    std::size_t at = 0;
    for (uint64_t word; at + 8 <= text.size(); at += 8) {
        std::memcpy(&word, text.data() + at, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; at < text.size(); ++at) {
        if (static_cast<unsigned char>(text[at]) >= 0x80) return false;
    }
    return true;
}

#if defined(_WIN32)

namespace {
constexpr UINT kCp1250 = 1250;
}  // namespace

std::optional<std::wstring> Cp1250ToUtf16(std::string_view cp1250) {
    if (cp1250.empty()) return std::wstring();
    const int size = static_cast<int>(cp1250.size());
    const int length = MultiByteToWideChar(kCp1250, 0, cp1250.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(kCp1250, 0, cp1250.data(), size, &wide[0], length);
    return wide;
}

std::optional<std::string> Utf16ToCp1250(std::wstring_view utf16) {
    if (utf16.empty()) return std::string();
    const int size = static_cast<int>(utf16.size());
    BOOL lossy = FALSE;
    const int length =
        WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, utf16.data(), size, nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return std::nullopt;
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, utf16.data(), size, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

Cp1250Converter::Cp1250Converter() : toCp1250_(nullptr) {
    for (int i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t wide = 0;
        int length = 0;
        // The system maps the unassigned bytes to C1 controls, which
        // Windows-1250 has none of.
        if (MultiByteToWideChar(kCp1250, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) == 1 &&
            (wide < 0x80 || wide > 0x9F)) {
            length = WideCharToMultiByte(CP_UTF8, 0, &wide, 1, high_[i], 4, nullptr, nullptr);
        }
        if (length <= 0) {
            std::memcpy(high_[i], kReplacement, 3);
            length = 3;
        }
        highLength_[i] = static_cast<uint8_t>(length);
    }
}

Cp1250Converter::~Cp1250Converter() = default;

std::optional<std::string> Cp1250Converter::ToCp1250(std::string_view utf8) const {
    if (IsAscii(utf8)) return std::string(utf8);
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, &wide[0], length);
    BOOL lossy = FALSE;
    const int narrowLength = WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                                 nullptr, 0, nullptr, &lossy);
    if (lossy || narrowLength <= 0) return std::nullopt;
    std::string narrow(static_cast<std::size_t>(narrowLength), '\0');
    WideCharToMultiByte(kCp1250, WC_NO_BEST_FIT_CHARS, wide.data(), length, &narrow[0],
                        narrowLength, nullptr, &lossy);
    if (lossy) return std::nullopt;
    return narrow;
}

#else

namespace {

iconv_t Descriptor(void* handle) { return static_cast<iconv_t>(handle); }
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Converts all of `in` with `converter`, from its initial state. Empty when
// any of it cannot be converted.
std::optional<std::string> Convert(iconv_t converter, std::string_view in, std::size_t outSize) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string out(outSize, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = &out[0];
    std::size_t outLeft = out.size();
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

Cp1250Converter::Cp1250Converter() {
    const iconv_t toUtf8 = iconv_open("UTF-8", "CP1250");
    for (int i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        std::optional<std::string> utf8;
        if (toUtf8 != kNoConverter) utf8 = Convert(toUtf8, std::string_view(&byte, 1), 4);
        // iconv refuses the unassigned bytes.
        if (!utf8 || utf8->empty()) utf8 = kReplacement;
        std::memcpy(high_[i], utf8->data(), utf8->size());
        highLength_[i] = static_cast<uint8_t>(utf8->size());
    }
    if (toUtf8 != kNoConverter) iconv_close(toUtf8);
    const iconv_t toCp1250 = iconv_open("CP1250", "UTF-8");
    toCp1250_ = toCp1250 == kNoConverter ? nullptr : toCp1250;
}

Cp1250Converter::~Cp1250Converter() {
    if (toCp1250_) iconv_close(Descriptor(toCp1250_));
}

std::optional<std::string> Cp1250Converter::ToCp1250(std::string_view utf8) const {
    if (IsAscii(utf8)) return std::string(utf8);
    if (!toCp1250_) return std::nullopt;
    // Windows-1250 never takes more bytes than UTF-8.
    return Convert(Descriptor(toCp1250_), utf8, utf8.size());
}

#endif

void Cp1250Converter::AppendUtf8(std::string& out, std::string_view cp1250) const {
    const char* run = cp1250.data();
    const char* end = run + cp1250.size();
    for (const char* p = run; p != end; ++p) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        if (byte < 0x80) continue;
        out.append(run, p);
        out.append(high_[byte - 0x80], highLength_[byte - 0x80]);
        run = p + 1;
    }
    out.append(run, end);
}

std::string Cp1250Converter::ToUtf8(std::string_view cp1250) const {
    std::string out;
    out.reserve(cp1250.size() + cp1250.size() / 4);
    AppendUtf8(out, cp1250);
    return out;
}

}  // namespace plumeta
