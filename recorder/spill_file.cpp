#include "recorder/spill_file.h"

#include <algorithm>
#include <cstring>

#include "codepage/codepage.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <climits>
#include <cstdlib>
#include <unistd.h>
#endif

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

// `name` without `extension` at its end (as it stands when it has none).
std::string_view WithoutExtension(std::string_view name, std::string_view extension = kLogExtension) {
    if (name.size() >= extension.size() && name.substr(name.size() - extension.size()) == extension) {
        name.remove_suffix(extension.size());
    }
    return name;
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
    Put(header.progressKey, " doszlo=");
    PutNumber(header.foldFrom, state.foldFrom);
    Put(header.end, "\r\n");
    return header;
}

std::size_t SpillHeaderBytes(const SpillState& state, char* out) {
    const SpillHeader header = MakeSpillHeader(state);
    std::memcpy(out, &header, sizeof header);
    if (state.body != kOldSpillHeaderSize) return sizeof header;
    std::memcpy(out + offsetof(SpillHeader, progressKey), "\r\n", 2);  // an old one keeps its shape
    return kOldSpillHeaderSize;
}

std::optional<SpillState> ReadSpillHeader(std::string_view bytes) {
    if (bytes.size() < kOldSpillHeaderSize) return std::nullopt;
    SpillHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(&header, bytes.data(), std::min(bytes.size(), sizeof header));
    const SpillHeader shape = MakeSpillHeader({});
    const bool old = std::memcmp(header.progressKey, "\r\n", 2) == 0;
    if (std::memcmp(header.magic, shape.magic, sizeof header.magic) != 0 ||
        std::memcmp(header.foldKey, shape.foldKey, sizeof header.foldKey) != 0 ||
        std::memcmp(header.droppedKey, shape.droppedKey, sizeof header.droppedKey) != 0 ||
        std::memcmp(header.shiftKey, shape.shiftKey, sizeof header.shiftKey) != 0 ||
        (!old && (bytes.size() < kSpillHeaderSize ||
                  std::memcmp(header.progressKey, shape.progressKey, sizeof header.progressKey) != 0 ||
                  std::memcmp(header.end, shape.end, sizeof header.end) != 0))) {
        return std::nullopt;
    }
    SpillState state;
    std::optional<uint64_t> dropped;
    if (!GetNumber(header.foldAt, state.foldAt) || !GetNumber(header.dropped, dropped) ||
        !GetNumber(header.shiftFrom, state.shiftFrom) || !dropped) {
        return std::nullopt;
    }
    state.dropped = *dropped;
    if (old) {
        // It folded from its body on, recording only where in the log.
        state.body = kOldSpillHeaderSize;
        if (state.foldAt) state.foldFrom = state.body;
    } else if (!GetNumber(header.foldFrom, state.foldFrom) || state.foldAt.has_value() != state.foldFrom.has_value()) {
        return std::nullopt;
    }
    return state;
}

bool SpillStateFits(const SpillState& state, uint64_t size) {
    return size >= state.body && !state.shiftFrom && (!state.foldFrom || (*state.foldFrom >= state.body && *state.foldFrom <= size));
}

namespace {

// How many bytes from `logAt` in the log equal those from `spillAt` in
// the spill, up to either's end.
uint64_t Match(ReadAtFn log, uint64_t logAt, uint64_t logSize, ReadAtFn spill, uint64_t spillAt, uint64_t spillSize,
               std::string& buffer) {
    constexpr std::size_t kStep = 64 << 10;
    buffer.resize(2 * kStep);
    uint64_t matched = 0;
    while (logAt + matched < logSize && spillAt + matched < spillSize) {
        const std::size_t take = std::min<uint64_t>({kStep, logSize - logAt - matched, spillSize - spillAt - matched});
        if (!log.read(log.file, logAt + matched, &buffer[0], take) ||
            !spill.read(spill.file, spillAt + matched, &buffer[kStep], take)) {
            break;
        }
        const auto differ = std::mismatch(buffer.begin(), buffer.begin() + take, buffer.begin() + kStep);
        matched += uint64_t(differ.first - buffer.begin());
        if (differ.first != buffer.begin() + take) break;
    }
    return matched;
}

// A run of the spill's lines found at `logAt`: to the log's end, or to the
// last line end before the two differ.
Folded Run(ReadAtFn log, uint64_t logAt, uint64_t logSize, ReadAtFn spill, uint64_t from, uint64_t spillSize,
           std::string& buffer) {
    const uint64_t matched = Match(log, logAt, logSize, spill, from, spillSize, buffer);
    if (logAt + matched == logSize) return {matched, true};
    if (from + matched == spillSize) return {matched, false};
    // Back to the last line end within the run.
    uint64_t end = matched;
    char byte = 0;
    while (end > 0 && spill.read(spill.file, from + end - 1, &byte, 1) && byte != '\n') --end;
    return {end, false};
}

}  // namespace

Folded FoldedAlready(ReadAtFn log, uint64_t logSize, ReadAtFn spill, uint64_t spillSize, const SpillState& state,
                     std::string& buffer) {
    if (!state.foldAt || !state.foldFrom || *state.foldFrom >= spillSize) return {};
    const uint64_t from = *state.foldFrom;
    std::string lines;  // the first line from foldFrom, with its line end
    {
        const std::size_t take = std::min<uint64_t>(4096, spillSize - from);
        lines.resize(take);
        if (!spill.read(spill.file, from, &lines[0], take)) return {};
        const std::size_t end = lines.find('\n');
        if (end != std::string::npos) lines.resize(end + 1);
    }
    // Where the fold recorded it began.
    Folded there;
    const bool endsThere = *state.foldAt == logSize;  // nothing of it there, or the log changed
    if (*state.foldAt <= logSize) {
        there = Run(log, *state.foldAt, logSize, spill, from, spillSize, buffer);
        if (there.bytes >= lines.size() || (there.atLogEnd && !endsThere)) return there;
    }
    // The log changed: its tail, for the first line at a line's start. (Where
    // the log ends at the place recorded, only a run to its end counts: a
    // line like the first, older, is no proof.)
    const uint64_t tail = std::min<uint64_t>(logSize, kFoldChunk + kFoldTailSlack);
    std::string text(tail, '\0');
    if (tail == 0 || !log.read(log.file, logSize - tail, &text[0], tail)) return there;
    Folded best;
    for (std::size_t at = text.find(lines); at != std::string::npos; at = text.find(lines, at + 1)) {
        const uint64_t logAt = logSize - tail + at;
        if (at == 0 ? logAt != 0 && [&] {
                char before = 0;
                return !log.read(log.file, logAt - 1, &before, 1) || before != '\n';
            }()
                    : text[at - 1] != '\n') {
            continue;  // not at a line's start
        }
        const Folded run = Run(log, logAt, logSize, spill, from, spillSize, buffer);
        if (run.bytes >= best.bytes && (!endsThere || run.atLogEnd)) best = run;
    }
    return best.bytes ? best : there;
}

std::string SpillBeside(std::string_view log) {
    return std::string(WithoutExtension(log)) + kSpillWord + kSpillExtension;
}

std::string SpillInFolder(std::string_view folder, std::string_view log, std::string_view fullLog) {
    if (folder.empty()) return "";
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char byte : fullLog) hash = (hash ^ byte) * 1099511628211ull;
    char number[17];
    for (int i = 0; i < 16; ++i) number[i] = "0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xF];
    number[16] = '\0';
    const std::size_t slash = log.find_last_of("\\/");
    if (slash != std::string_view::npos) log.remove_prefix(slash + 1);
    return std::string(folder) + std::string(WithoutExtension(log)) + kSpillWord + "-" + number + kSpillExtension;
}

std::string SpillAsideName(std::string_view spill, const LocalTime& when, int attempt) {
    // By hand, not printf: the module keeps to the few imports it has.
    std::string stamp = "-zly-";
    auto put = [&](int value, int digits) {
        for (int unit = digits == 4 ? 1000 : 10; unit; unit /= 10) stamp += static_cast<char>('0' + value / unit % 10);
    };
    put(when.year, 4), put(when.month, 2), put(when.day, 2);
    stamp += '-';
    put(when.hour, 2), put(when.minute, 2), put(when.second, 2);
    if (attempt > 0) stamp += "-" + std::to_string(attempt);
    return std::string(WithoutExtension(spill, kSpillExtension)) + stamp + kSpillExtension;
}

#if defined(_WIN32)

std::string TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return "";
    return Utf16ToCp1250(std::wstring_view(folder, length)).value_or("");
}

std::string AbsolutePath(const char* path) {
    const std::optional<std::wstring> wide = Cp1250ToUtf16(path);
    if (!wide) return path;
    const DWORD length = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (length == 0) return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(wide->c_str(), length, &full[0], nullptr);
    if (written == 0 || written >= length) return path;
    full.resize(written);
    return Utf16ToCp1250(full).value_or(path);
}

#else

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    std::string name = folder && *folder ? folder : "/tmp";
    if (!IsAscii(name)) name = Cp1250Converter().ToCp1250(name).value_or("");
    if (!name.empty() && name.back() != '/') name += '/';
    return name;
}

std::string AbsolutePath(const char* path) {
    if (*path == '/') return path;
    char folder[PATH_MAX];
    if (!getcwd(folder, sizeof folder)) return path;
    std::string name = folder;
    if (!IsAscii(name)) {
        const std::optional<std::string> cp1250 = Cp1250Converter().ToCp1250(name);
        if (!cp1250) return path;
        name = *cp1250;
    }
    return name + "/" + path;
}

#endif

std::string SpillInTemporaryFolder(const char* path) {
    return SpillInFolder(TemporaryFolder(), path, AbsolutePath(path));
}

}  // namespace plumeta
