#include "reader/collation.h"

#include <array>
#include <cstdint>

namespace plumeta::reader {
namespace {

// The alphabet, defined once: small letters and capitals in the same
// order (the sources' texts are Windows-1250 once built: a byte a letter).
constexpr char kSmall[] = "aąbcćdeęfghijklłmnńoópqrsśtuvwxyzźż";
constexpr char kCapital[] = "AĄBCĆDEĘFGHIJKLŁMNŃOÓPQRSŚTUVWXYZŹŻ";
static_assert(sizeof kSmall == sizeof kCapital && sizeof kSmall == 36, "one byte a letter");

constexpr uint8_t kSpace = 0x10, kOther = 0x18, kNumber = 0x20, kLetter = 0x30, kForeign = 0x60;

// Each byte's place: a letter's rank, or 0 for what is no letter.
std::array<uint8_t, 256> Ranks() {
    std::array<uint8_t, 256> ranks{};
    for (std::size_t i = 0; i + 1 < sizeof kSmall; ++i) {
        ranks[static_cast<unsigned char>(kSmall[i])] = static_cast<uint8_t>(kLetter + i);
        ranks[static_cast<unsigned char>(kCapital[i])] = static_cast<uint8_t>(kLetter + i);
    }
    return ranks;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string CollationKey(std::string_view name) {
    static const std::array<uint8_t, 256> ranks = Ranks();
    std::string key;
    key.reserve(name.size() + 4);
    for (std::size_t at = 0; at < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[at]);
        if (IsDigit(name[at])) {
            std::size_t end = at;
            while (end < name.size() && IsDigit(name[end])) ++end;
            std::size_t first = at;
            while (first + 1 < end && name[first] == '0') ++first;  // 007 is 7
            key += static_cast<char>(kNumber);
            key += static_cast<char>(std::min<std::size_t>(end - first, 0xFF));
            key.append(name.substr(first, end - first));
            at = end;
            continue;
        }
        if (ranks[c]) {
            key += static_cast<char>(ranks[c]);
        } else if (c == ' ') {
            key += static_cast<char>(kSpace);
        } else if (c >= 0x80) {
            key += static_cast<char>(kForeign);  // other letters after ż, by their bytes
            key += static_cast<char>(c);
        } else {
            key += static_cast<char>(kOther);
            key += static_cast<char>(c);
        }
        ++at;
    }
    return key;
}

bool PolishLess(std::string_view a, std::string_view b) {
    const std::string ka = CollationKey(a), kb = CollationKey(b);
    return ka != kb ? ka < kb : a < b;
}

}  // namespace plumeta::reader
