// Coverage-guided fuzzing of the module through IMessageProc, around a
// hostile host. The input is read as a world (what the host answers: cells,
// texts up to 64 KiB holding every byte value, other plug-ins' answers) and
// then a sequence of messages, some delivered back into the module from
// inside the host's own operations.
//
// Oracles, on every input:
// - nothing escapes the entry; a status record shorter than 34 bytes makes
//   no host call;
// - each status message's line is built independently below (its own word
//   tables, its own stamp); after every message every line built stands
//   exactly once and in order in the log file and then its spills (beside
//   it, in the temporary folder), while the host makes the log come and
//   go (a folder at its name, a file where its folder should be);
// - every appended line ends in CR LF and holds no other CR, LF or 0x1A;
// - every ext string is one Display entry or empty;
// - no leak (LeakSanitizer).
//
// Everything here is ASCII: expected Windows-1250 bytes are written as \x.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/host_link.h"
#include "codepage/codepage.h"
#include "recorder/append_file.h"
#include "recorder/log_backlog.h"

extern "C" int32_t PLUMETA_HOSTCALL IMessageProc(plumeta::MessageRecord* message);

namespace {

using plumeta::CellValue;
using plumeta::HostInterface;
using plumeta::HostOperations;
using plumeta::HostWord;
using plumeta::MessageRecord;

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "ORACLE: %s %.600s\n", what, detail.c_str());
    std::abort();
}

// ---- the world the host answers from -------------------------------------

struct Text {
    enum class Kind { Untouched, Null, Bytes } kind = Kind::Untouched;
    std::string bytes;
};

// LogFileName is one of these, so that the files stay in the fuzzer's own
// folder; `file` is the name the file gets (Unicode names are UTF-8 here).
// `blocker` is what the host puts in the file's way to make it unwritable.
struct LogName {
    const char* setting;  // Windows-1250, or null for a null text
    const char* file;
    const char* blocker;  // made a folder, or (when the name has one) a file
};
const LogName kLogNames[] = {
    {"log", "log.txt", "log.txt"},
    {"", ".txt", ".txt"},
    {"\xB3\xF3" "d\x9F", "\xC5\x82\xC3\xB3" "d\xC5\xBA.txt", "\xC5\x82\xC3\xB3" "d\xC5\xBA.txt"},
    {"missing/folder/log", "missing/folder/log.txt", "missing"},
    {nullptr, ".txt", ".txt"},
};

constexpr uint32_t kRows = 4;
constexpr uint32_t kIntColumns[] = {1, 267600, 267608};
constexpr uint32_t kTextColumns[] = {0, 1, 8, 20, 78203};
constexpr uint32_t kSettingColumns[] = {267602, 267603, 267607};

struct World {
    std::map<uint32_t, int32_t> settings;
    const LogName* logName = &kLogNames[0];
    Text historyName;
    std::map<uint32_t, int32_t> ints[kRows];
    std::map<uint32_t, Text> texts[kRows];
    int32_t speechAnswer = 0, mayRecord = 1, netAnswer = 0;
    uint32_t defaultTarget = 0;
    bool brimFull = false;  // buffered reads fill the buffer with no NUL
};

int32_t Extreme(FuzzedDataProvider& in) {
    const int32_t picks[] = {0, 1, -1, 2, 78, 10, 12, 15, INT32_MIN, INT32_MAX};
    return in.ConsumeBool() ? in.PickValueInArray(picks) : in.ConsumeIntegral<int32_t>();
}

Text MakeText(FuzzedDataProvider& in) {
    Text text;
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: return text;
        case 1: text.kind = Text::Kind::Null; return text;
        case 2: {  // a pattern repeated, up to 64 KiB
            text.kind = Text::Kind::Bytes;
            const std::string pattern = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(1, 8));
            const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(0, 65536);
            while (!pattern.empty() && text.bytes.size() < size) text.bytes += pattern;
            break;
        }
        default:
            text.kind = Text::Kind::Bytes;
            text.bytes = in.ConsumeRandomLengthString(64);
            break;
    }
    text.bytes = text.bytes.c_str();  // a text ends at its first NUL
    return text;
}

void MakeWorld(FuzzedDataProvider& in, World& world) {
    world = World{};
    for (uint32_t column : kSettingColumns) {
        if (in.ConsumeBool()) world.settings[column] = in.ConsumeBool() ? 1 : Extreme(in);
    }
    world.logName = &kLogNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kLogNames) - 1)];
    world.historyName = MakeText(in);
    for (uint32_t row = 0; row < kRows; ++row) {
        for (uint32_t column : kIntColumns) {
            if (in.ConsumeBool()) world.ints[row][column] = Extreme(in);
        }
        for (uint32_t column : kTextColumns) world.texts[row][column] = MakeText(in);
        if (in.ConsumeBool()) {  // a realistic network text
            const char* nets[] = {"10", "12", "15", "105", "1", "13"};
            world.texts[row][1] = Text{Text::Kind::Bytes, in.PickValueInArray(nets)};
        }
    }
    world.speechAnswer = Extreme(in);
    world.mayRecord = Extreme(in);
    world.netAnswer = Extreme(in);
    world.defaultTarget = in.ConsumeIntegralInRange<uint32_t>(0, kRows);
    world.brimFull = in.ConsumeBool();
}

// ---- messages ------------------------------------------------------------

struct Message {
    std::vector<uint8_t> bytes;  // exactly the record's size (at least 6: the id is always read)
    std::unique_ptr<std::vector<uint8_t>> notice;  // 22200: the notice p1 points to
    std::unique_ptr<std::string> text;             // a description or notice text
    int interface = -1;  // 20001: 0 the host, 1 its twin, 2 none
    uint32_t id() const {
        uint32_t id;
        std::memcpy(&id, bytes.data() + 2, 4);
        return id;
    }
    uint16_t size() const { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }
};

void Put(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
    if (at + 4 <= bytes.size()) std::memcpy(bytes.data() + at, &value, 4);
}

Message MakeMessage(FuzzedDataProvider& in, HostInterface* host, HostInterface* twin) {
    const uint32_t known[] = {20001, 20002, 20020, 21001, 22000, 22100, 22101, 22200, 24011,
                              24012, 24011, 24012, 24011, 30010, 30012, 30016, 30017};
    Message message;
    const uint32_t id = in.ConsumeBool() ? in.PickValueInArray(known) : in.ConsumeIntegral<uint32_t>();
    const bool status = id == 24011 || id == 24012;
    uint16_t size = status ? 34 : 30;
    if (in.ConsumeIntegralInRange(0, 3) == 0) size = in.ConsumeIntegralInRange<uint16_t>(0, 48);
    message.bytes.resize(std::max<std::size_t>(size, 6));
    for (std::size_t i = 6; i < message.bytes.size(); ++i) message.bytes[i] = in.ConsumeIntegral<uint8_t>();
    message.bytes[0] = size & 0xFF;
    message.bytes[1] = size >> 8;
    std::memcpy(message.bytes.data() + 2, &id, 4);
    if (id == 20001) {
        message.interface = in.ConsumeIntegralInRange(0, 2);
        HostInterface* const choices[] = {host, twin, nullptr};
        Put(message.bytes, 22, plumeta::ToWord(choices[message.interface]));
    } else if (id == 22200) {
        const uint16_t noticeSize = in.ConsumeIntegralInRange<uint16_t>(2, 34);
        message.notice = std::make_unique<std::vector<uint8_t>>(noticeSize);
        for (auto& byte : *message.notice) byte = in.ConsumeIntegral<uint8_t>();
        (*message.notice)[0] = noticeSize & 0xFF;
        (*message.notice)[1] = noticeSize >> 8;
        const uint32_t columns[] = {267604, 267605, 267602, 267600};
        Put(*message.notice, 2, (in.ConsumeBool() ? 0x11000000u : 0x13000000u) | in.PickValueInArray(columns));
        if (in.ConsumeBool()) Put(*message.notice, 14, 100);
        message.text = std::make_unique<std::string>(in.ConsumeBool() ? "" : in.ConsumeRandomLengthString(8));
        Put(*message.notice, 22, in.ConsumeIntegralInRange(0, 5) ? plumeta::ToWord(message.text->c_str()) : 0);
        Put(message.bytes, 22, plumeta::ToWord(message.notice->data()));
    } else if (status) {
        const uint32_t codes[] = {0, 1, 33, 34, 64, 65, 66, 67, 68, 2, 241};
        Put(message.bytes, 22, in.ConsumeIntegralInRange<uint32_t>(0, kRows));
        Put(message.bytes, 26, in.ConsumeBool() ? in.PickValueInArray(codes) : in.ConsumeIntegral<uint32_t>());
        const Text description = MakeText(in);
        if (description.kind == Text::Kind::Bytes) message.text = std::make_unique<std::string>(description.bytes);
        Put(message.bytes, 30, message.text ? plumeta::ToWord(message.text->c_str()) : 0);
    }
    return message;
}

// ---- the line the module must write, built independently -----------------

const char* LogWord(uint32_t status, char mark) {
    struct Words { uint32_t status; const char* he; const char* she; };
    static const Words kWords[] = {
        {0, "niedost\xEApny", "niedost\xEApna"}, {1, "zablokowany", "zablokowana"},
        {33, "not-available", "not-available"}, {34, "nie przeszkadzac", "nie przeszkadzac"},
        {64, "dostepny", "dostepna"},            {65, "zaraz wracam", "zaraz wracam"},
        {66, "ukryty", "ukryta"},                {67, "freeForChat", "freeForChat"},
        {68, "zaraz wracam", "zaraz wracam"},
    };
    if (mark != '0' && mark != '1' && mark != '2') return "";
    for (const Words& words : kWords) {
        if (words.status == status) return mark == '1' ? words.she : words.he;
    }
    return "";
}

const char* NetWord(const std::string& net) {
    if (net.size() >= 2 && net[0] == '1') {
        if (net[1] == '0') return "GG";
        if (net[1] == '2') return "JABBER";
        if (net[1] == '5') return "LAN";
    }
    return "";
}

// What a line keeps of an outside text: line breaks (with the dropped bytes
// among them) fold into " / ", other control bytes but TAB vanish.
std::string Clean(const std::string& text) {
    std::string kept;
    for (unsigned char c : text) {
        if (c == '\t' || c == '\r' || c == '\n' || (c >= 0x20 && c != 0x7F)) kept += static_cast<char>(c);
    }
    std::string out;
    for (std::size_t i = 0; i < kept.size();) {
        if (kept[i] != '\r' && kept[i] != '\n') {
            out += kept[i++];
            continue;
        }
        while (i < kept.size() && (kept[i] == '\r' || kept[i] == '\n')) ++i;
        out += " / ";
    }
    return out;
}

struct ExpectedLine {
    std::string file;  // where it goes
    std::string before, after;  // around the stamp
};

// ---- the hostile host ----------------------------------------------------

struct FuzzHost;

struct Link {
    HostInterface iface;
    FuzzHost* owner;
};

struct Pending {
    Message message;
    std::size_t atOperation;  // delivered from inside this host operation
};

struct FuzzHost {
    World world;
    Link primary, twin;  // two interfaces of one host: both answer the same
    HostOperations operations;
    HostInterface* linked = nullptr;  // what the module should hold now
    std::size_t operationsSeen = 0;
    std::vector<Pending> pending;
    int depth = 0;
    bool unlinkedDuring = false;
    std::vector<ExpectedLine> expected;
    std::time_t clockFrom = 0;

    void Operation();
    int32_t Deliver(Message& message);
    std::optional<std::string> TextCell(uint32_t table, uint32_t row, uint32_t column) const;
};

FuzzHost& Of(HostInterface* self) { return *reinterpret_cast<Link*>(self)->owner; }

std::optional<std::string> FuzzHost::TextCell(uint32_t table, uint32_t row, uint32_t column) const {
    const Text* text = nullptr;
    Text logName;
    if (table == 0 && column == 267604) {
        logName.kind = world.logName->setting ? Text::Kind::Bytes : Text::Kind::Null;
        logName.bytes = world.logName->setting ? world.logName->setting : "";
        text = &logName;
    } else if (table == 0 && column == 267605) {
        text = &world.historyName;
    } else if (table == 1 && row < kRows) {
        auto found = world.texts[row].find(column);
        if (found != world.texts[row].end()) text = &found->second;
    }
    if (!text || text->kind != Text::Kind::Bytes) return std::nullopt;
    return text->bytes;
}

void FuzzHost::Operation() {
    ++operationsSeen;
    for (Pending& next : pending) {
        if (next.atOperation == operationsSeen && depth < 3) {
            next.atOperation = 0;
            Deliver(next.message);
        }
    }
}

uint32_t PLUMETA_HOSTCALL DefaultTargetOp(HostInterface* self) {
    FuzzHost& host = Of(self);
    host.Operation();
    return host.world.defaultTarget;
}

int32_t PLUMETA_HOSTCALL ReportUnhandledOp(HostInterface* self, int32_t) {
    Of(self).Operation();
    return 0;
}

void CheckExt(const char* ext, const std::string& display) {
    const std::string text = ext;
    const std::string entry = "\x1A" "Display=";
    if (text.empty() && display.empty()) return;
    if (text.compare(0, entry.size(), entry) != 0 || text.find('\x1A', 1) != std::string::npos) {
        Fail("ext string is not one Display entry");
    }
    std::string kept;
    for (char c : display) {
        if (c != '\x1A') kept += c;
    }
    if (text.substr(entry.size()) != kept) Fail("ext value");
}

int32_t PLUMETA_HOSTCALL SendOp(HostInterface* self, MessageRecord* message) {
    FuzzHost& host = Of(self);
    host.Operation();
    const uint32_t id = message->header.id;
    if (id == 13004) {
        const auto* request = plumeta::FromWord<const plumeta::HistoryAddRequest>(message->p1);
        const plumeta::HistoryEntry* entry = request->entry;
        if (std::strlen(entry->body) > (1u << 20) || std::strcmp(request->folder, "opisy") != 0) {
            Fail("history request");
        }
        if (request->historyName) {  // an own change
            (void)std::strlen(request->historyName);
            if (std::strcmp(entry->ext, "\x1A" "Display=Ty") != 0) Fail("own ext string");
        } else {
            CheckExt(entry->ext, host.TextCell(1, request->contact, 8).value_or(""));
        }
    } else if (id == 78700 || id == 10201) {
        (void)std::strlen(plumeta::FromWord<const char>(message->p1));
    } else if (id == 10101) {
        const auto* item = plumeta::FromWord<const plumeta::OptionItem>(message->p1);
        if (item->text) (void)std::strlen(item->text);
    } else if (id == 30010) {
        return message->header.net == 78 ? host.world.speechAnswer : 0;
    } else if (id == 33006) {
        return host.world.mayRecord;
    }
    return 1;
}

int32_t PLUMETA_HOSTCALL SendToOp(HostInterface* self, uint32_t, MessageRecord*) {
    FuzzHost& host = Of(self);
    host.Operation();
    return host.world.netAnswer;
}

int32_t PLUMETA_HOSTCALL GetCellOp(HostInterface* self, uint32_t table, uint32_t row,
                                   uint32_t column, CellValue* cell) {
    FuzzHost& host = Of(self);
    host.Operation();
    const World& world = host.world;
    if (cell->valueType == 0) {
        const std::map<uint32_t, int32_t>* ints =
            table == 0 ? &world.settings : row < kRows ? &world.ints[row] : nullptr;
        if (ints && ints->count(column)) cell->value = static_cast<HostWord>(ints->at(column));
        return 0;
    }
    const std::optional<std::string> text = host.TextCell(table, row, column);
    const Text* stored = nullptr;
    if (table == 0 && column == 267605) stored = &world.historyName;
    if (table == 1 && row < kRows && world.texts[row].count(column)) stored = &world.texts[row].at(column);
    if (table == 0 && column == 267604) {
        cell->value = world.logName->setting ? plumeta::ToWord(world.logName->setting) : 0;
    } else if (!stored || stored->kind == Text::Kind::Untouched) {
        // left as it came
    } else if (stored->kind == Text::Kind::Null) {
        cell->value = 0;
    } else if (cell->value == 0) {
        cell->value = plumeta::ToWord(stored->bytes.c_str());
    } else if (cell->bufferSize > 0) {
        char* buffer = plumeta::FromWord<char>(cell->value);
        const std::string& bytes = stored->bytes;
        if (world.brimFull && !bytes.empty()) {
            for (uint32_t i = 0; i < cell->bufferSize; ++i) buffer[i] = bytes[i % bytes.size()];
        } else {
            const std::size_t n = std::min<std::size_t>(bytes.size(), cell->bufferSize - 1);
            std::memcpy(buffer, bytes.data(), n);
            buffer[n] = '\0';
        }
    }
    return 0;
}

int32_t FuzzHost::Deliver(Message& message) {
    const uint32_t id = message.id();
    const bool status = id == 24011 || id == 24012;
    const std::size_t operationsBefore = operationsSeen;
    HostInterface* const linkedBefore = linked;
    ++depth;
    int32_t answer = 0;
    try {
        answer = IMessageProc(reinterpret_cast<MessageRecord*>(message.bytes.data()));
    } catch (...) {
        Fail("an exception escaped the entry");
    }
    --depth;
    if (id == 20001 && message.size() >= 30) {
        HostInterface* const choices[] = {&primary.iface, &twin.iface, nullptr};
        linked = choices[message.interface];
        if (!linked) unlinkedDuring = true;
    }
    if (status && message.size() < 34 && operationsSeen != operationsBefore) {
        Fail("a short status record reached the host");
    }
    if (!status || message.size() < 34 || !linkedBefore) return answer;

    // The line this change must have written, if any.
    uint32_t subject, code, description;
    std::memcpy(&subject, message.bytes.data() + 22, 4);
    std::memcpy(&code, message.bytes.data() + 26, 4);
    std::memcpy(&description, message.bytes.data() + 30, 4);
    auto setting = [&](uint32_t column) {
        return world.settings.count(column) ? world.settings.at(column) : 0;
    };
    auto contactInt = [&](uint32_t column) {
        return subject < kRows && world.ints[subject].count(column) ? world.ints[subject].at(column) : 0;
    };
    auto contactText = [&](uint32_t column) { return TextCell(1, subject, column).value_or(""); };
    if (setting(267603) != 1) return answer;
    if (id == 24011 && contactInt(267600) == 0) return answer;
    const bool hasWord = *LogWord(code, '0') != '\0';
    const char mark = hasWord ? contactText(20).c_str()[0] : '\0';
    const std::string word = LogWord(code, mark);
    std::string suffix;
    if (description) suffix = " [" + Clean(plumeta::FromWord<const char>(description)) + "]";
    ExpectedLine line{world.logName->file, "", ""};
    if (id == 24011) {
        const std::string net = NetWord(contactText(1));
        line.after = Clean(contactText(8)) + "(" + Clean(contactText(0)) +
                     (net.empty() ? "" : "@" + net + ")") +
                     (word.empty() ? "" : (mark == '1' ? " zmienila status na " : " zmienil status na ") + word) +
                     suffix + "\r\n";
    } else {
        line.before = "Zmianiles status ";
        line.after = "na sieci " + std::string(NetWord(contactText(1))) + " na " + word + suffix + "\r\n";
    }
    expected.push_back(line);
    return answer;
}

// ---- one run -------------------------------------------------------------

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Stamp(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d %02d:%02d.%02d ", local.tm_mday, local.tm_mon + 1,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

// The input's log file and its spills, and what must stand in them: every
// line built, exactly once and in order, in the log and then in the spill
// beside it and the one in the temporary folder, after every message.
struct LogModel {
    const LogName* name = nullptr;
    bool blocked = false;
    bool exact = true;             // false once a line's text cannot be foreseen
    std::vector<ExpectedLine> made;
    std::set<std::string> stamps;  // every stamp a line could carry

    static std::size_t Size(const ExpectedLine& line) { return line.before.size() + 15 + line.after.size(); }
    static std::string Aside(const std::string& path) { return path + ".aside"; }
    // The spills' names on disk (UTF-8), from the log's Windows-1250 name.
    static std::vector<std::string> Spills(const LogName& log) {
        const std::string cp1250 = std::string(log.setting ? log.setting : "") + ".txt";
        const plumeta::Cp1250Converter codepage;
        return {codepage.ToUtf8(plumeta::SpillBeside(cp1250)),
                codepage.ToUtf8(plumeta::SpillInTemporaryFolder(cp1250.c_str()))};
    }
    static void Clear(const LogName& log) {
        std::filesystem::remove_all(log.file);
        std::filesystem::remove_all(Aside(log.file));
        for (const std::string& spill : Spills(log)) std::filesystem::remove(spill);
    }
    void Add(const ExpectedLine& line) { made.push_back(line); }
    // Folders stand in the way: the file (or its folder) moves aside meanwhile.
    void Block(bool block) {
        const std::string blocker = name->blocker, aside = Aside(blocker);
        const bool folderOfName = blocker != name->file;
        if (block == blocked) return;
        if (block) {
            std::rename(blocker.c_str(), aside.c_str());
            if (folderOfName) {
                std::ofstream(blocker) << "x";
            } else {
                mkdir(blocker.c_str(), 0755);
            }
        } else {
            std::filesystem::remove(blocker);
            std::rename(aside.c_str(), blocker.c_str());
        }
        blocked = block;
    }
    // What the log holds now, wherever it stands aside.
    std::string LogNow() const {
        if (!blocked) return ReadFile(name->file);
        if (std::string(name->blocker) == name->file) return ReadFile(Aside(name->file).c_str());
        const std::string inFolder = Aside(name->blocker) + std::string(name->file).substr(std::strlen(name->blocker));
        return ReadFile(inFolder.c_str());
    }
    void Check() const {
        std::string all = LogNow();
        for (const std::string& spill : Spills(*name)) {
            const std::string lines = ReadFile(spill.c_str());
            if (lines.empty()) continue;
            if (!plumeta::ReadSpillHeader(lines)) Fail("a spill without its header", spill);
            all += lines.substr(plumeta::kSpillHeaderSize);
        }
        std::size_t at = 0, count = 0;
        while (at < all.size()) {
            const std::size_t end = all.find("\r\n", at);
            if (end == std::string::npos) Fail("a line without CR LF", name->file);
            const std::string line = all.substr(at, end + 2 - at);
            if (line.find_first_of("\r\n\x1A") != line.size() - 2) Fail("CR, LF or 0x1A inside a line");
            at = end + 2;
            if (!exact) continue;
            if (count >= made.size()) Fail("a line nobody asked for, or twice", line.substr(0, 280));
            const ExpectedLine& want = made[count++];
            const std::size_t stampAt = want.before.size();
            if (line.size() != Size(want) || line.compare(0, stampAt, want.before) != 0 ||
                line.compare(stampAt + 15, std::string::npos, want.after) != 0 ||
                !stamps.count(line.substr(stampAt, 15))) {
                Fail("the line differs", "\nwant: " + (want.before + "<stamp>" + want.after).substr(0, 280) +
                                             "\ngot:  " + line.substr(0, 280));
            }
        }
        if (exact && count != made.size()) Fail("a line is missing", name->file);
    }
};

FuzzHost* TheHost() {
    // Lives for the whole run: the module may still hold its address.
    static FuzzHost* host = [] {
        auto* made = new FuzzHost;
        made->operations = {&DefaultTargetOp, &ReportUnhandledOp, &SendOp, &SendToOp, &GetCellOp};
        made->primary = {{&made->operations}, made};
        made->twin = {{&made->operations}, made};
        return made;
    }();
    return host;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Log files land in a folder of the fuzzer's own.
    char folder[] = "/tmp/plumeta-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0) std::abort();
    TheHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    FuzzHost& host = *TheHost();
    MakeWorld(in, host.world);
    std::filesystem::remove_all("missing");
    std::filesystem::remove_all("missing.aside");
    for (const LogName& name : kLogNames) LogModel::Clear(name);
    LogModel log;
    log.name = host.world.logName;
    // Start linked to the host.
    Message link;
    link.bytes.assign(30, 0);
    link.bytes[0] = 30;
    const uint32_t hostInterface = 20001;
    std::memcpy(link.bytes.data() + 2, &hostInterface, 4);
    link.interface = 0;
    Put(link.bytes, 22, plumeta::ToWord(&host.primary.iface));
    host.linked = nullptr;
    host.Deliver(link);

    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange(0, 7) == 0) {  // the file comes or goes
            log.Block(!log.blocked);
            continue;
        }
        Message message = MakeMessage(in, &host.primary.iface, &host.twin.iface);
        host.pending.clear();
        const int nested = in.ConsumeIntegralInRange(0, 2);
        for (int i = 0; i < nested; ++i) {
            const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(1, 24);
            host.pending.push_back(Pending{MakeMessage(in, &host.primary.iface, &host.twin.iface), at});
        }
        host.operationsSeen = 0;
        host.unlinkedDuring = false;
        host.expected.clear();
        const std::time_t from = std::time(nullptr);
        host.Deliver(message);
        const std::time_t to = std::time(nullptr);
        for (std::time_t moment = from; moment <= to; ++moment) log.stamps.insert(Stamp(moment));
        // A host unlinked halfway answers nothing more: only the form holds.
        if (host.unlinkedDuring) log.exact = false;
        for (const ExpectedLine& line : host.expected) log.Add(line);
        log.Check();
    }
    // The file back for good, and the module's unload: nothing moves.
    log.Block(false);
    plumeta::SpillBacklog();
    log.Check();
    host.pending.clear();
    return 0;
}
