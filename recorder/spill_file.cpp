#include "recorder/spill_file.h"

#include <cstring>

namespace plumeta {
namespace {

constexpr std::string_view kLogExtension = ".txt";

template <std::size_t N>
void Put(char (&field)[N], std::string_view text) {
    static_assert(N > 0);
    std::memcpy(field, text.data(), N);
}

// Writes `value` right-aligned in zeros, or all '-' when empty.
template <std::size_t N>
void PutNumber(char (&field)[N], std::optional<uint64_t> value) {
    std::memset(field, '-', N);
    if (!value) return;
    uint64_t rest = *value;
    for (std::size_t i = N; i-- > 0;) {
        field[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
}

// Nothing when it is all '-'; false when it is neither that nor digits.
template <std::size_t N>
bool GetNumber(const char (&field)[N], std::optional<uint64_t>& value) {
    value.reset();
    if (std::string_view(field, N).find_first_not_of('-') == std::string_view::npos) return true;
    uint64_t number = 0;
    for (char c : field) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (c < '0' || c > '9' || number > (UINT64_MAX - digit) / 10) return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

std::string_view WithoutExtension(std::string_view log) {
    if (log.size() >= kLogExtension.size() && log.substr(log.size() - kLogExtension.size()) == kLogExtension) {
        log.remove_suffix(kLogExtension.size());
    }
    return log;
}

}  // namespace

SpillHeader MakeSpillHeader(const SpillState& state) {
    SpillHeader header;
    Put(header.magic, "#plumeta-zalegle ");
    Put(header.foldKey, "od=");
    PutNumber(header.foldAt, state.foldAt);
    Put(header.droppedKey, " usuniete=");
    PutNumber(header.dropped, state.dropped);
    Put(header.shiftKey, " przesuw=");
    PutNumber(header.shiftFrom, state.shiftFrom);
    Put(header.end, "\r\n");
    return header;
}

std::optional<SpillState> ReadSpillHeader(std::string_view bytes) {
    if (bytes.size() < kSpillHeaderSize) return std::nullopt;
    SpillHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    const SpillHeader shape = MakeSpillHeader({});
    if (std::memcmp(header.magic, shape.magic, sizeof header.magic) != 0 ||
        std::memcmp(header.foldKey, shape.foldKey, sizeof header.foldKey) != 0 ||
        std::memcmp(header.droppedKey, shape.droppedKey, sizeof header.droppedKey) != 0 ||
        std::memcmp(header.shiftKey, shape.shiftKey, sizeof header.shiftKey) != 0 ||
        std::memcmp(header.end, shape.end, sizeof header.end) != 0) {
        return std::nullopt;
    }
    SpillState state;
    std::optional<uint64_t> dropped;
    if (!GetNumber(header.foldAt, state.foldAt) || !GetNumber(header.dropped, dropped) ||
        !GetNumber(header.shiftFrom, state.shiftFrom)) {
        return std::nullopt;
    }
    state.dropped = dropped.value_or(0);
    return state;
}

std::string SpillBeside(std::string_view log) {
    return std::string(WithoutExtension(log)) + kSpillWord + kSpillExtension;
}

std::string SpillInFolder(std::string_view folder, std::string_view log, std::string_view fullLog) {
    if (folder.empty()) return "";
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char byte : fullLog) hash = (hash ^ byte) * 1099511628211ull;
    char number[9];
    for (int i = 0; i < 8; ++i) number[i] = "0123456789abcdef"[(hash >> (28 - 4 * i)) & 0xF];
    number[8] = '\0';
    const std::size_t slash = log.find_last_of("\\/");
    if (slash != std::string_view::npos) log.remove_prefix(slash + 1);
    return std::string(folder) + std::string(WithoutExtension(log)) + kSpillWord + "-" + number + kSpillExtension;
}

}  // namespace plumeta
