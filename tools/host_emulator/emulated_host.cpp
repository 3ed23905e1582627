#include "tools/host_emulator/emulated_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#if !defined(_WIN32)
#include <thread>
#endif

#include "recorder/append_file.h"
#include "recorder/log_backlog.h"
#include "recorder/spill_file.h"
#include "recorder/status_log.h"
#include "settings/columns.h"
#include "tools/host_emulator/pages_html.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace emulator {

using plumeta::FromWord;
using plumeta::HostWord;
using plumeta::MessageRecord;
using plumeta::ToWord;

namespace {

constexpr uint32_t kHostNet = 0;
// How many sentences, warnings and log lines the summary shows.
constexpr std::size_t kListed = 50;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

template <typename T>
T Copy(const void* address) {
    T value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

// The value of the "Display" parameter of an ext string, or "".
std::string DisplayParam(const std::string& ext) {
    const std::string pattern = "\x1A" "Display=";
    const std::size_t start = ext.find(pattern);
    if (start == std::string::npos) return "";
    const std::size_t from = start + pattern.size();
    return ext.substr(from, ext.find('\x1A', from) - from);
}

// How many lines (LF bytes) a file holds now; 0 when there is none.
uint64_t CountLines(const std::string& utf8) {
    std::ifstream in(std::filesystem::u8path(utf8), std::ios::binary);
    uint64_t lines = 0;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        lines += static_cast<uint64_t>(std::count(chunk, chunk + in.gcount(), '\n'));
    }
    return lines;
}

}  // namespace

// The lines waiting in the spills of the log `utf8` (beside it and in the
// temporary folder), and how many their headers count as dropped.
EmulatedHost::Waiting EmulatedHost::SpilledFor(const std::string& utf8) const {
    Waiting waiting;
    const std::string cp1250 = codepage_.ToCp1250(utf8).value_or(utf8);
    for (const std::string& spill : {plumeta::SpillBeside(cp1250), plumeta::SpillInTemporaryFolder(cp1250.c_str())}) {
        if (spill.empty()) continue;
        const std::string name = codepage_.ToUtf8(spill);
        std::ifstream in(std::filesystem::u8path(name), std::ios::binary);
        char head[plumeta::kSpillHeaderSize];
        if (!in.read(head, sizeof head)) continue;
        if (const auto state = plumeta::ReadSpillHeader(std::string_view(head, sizeof head))) {
            waiting.dropped += state->dropped;
            waiting.lines += CountLines(name) - 1;
        } else {
            waiting.lines += CountLines(name);
        }
    }
    return waiting;
}

std::string EmulatedHost::Shown(const std::string& cp1250) const {
    std::string shown = "\"";
    for (unsigned char byte : cp1250) {
        if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "{%02X}", byte);
            shown += code;
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return codepage_.ToUtf8(shown + "\"");
}

EmulatedHost::EmulatedHost(plumeta::MessageProc module, Reloader reload, std::FILE* out, bool quiet)
    : module_(module),
      reload_(std::move(reload)),
      out_(out),
      quiet_(quiet),
      operations_{&DefaultTargetOp, &ReportUnhandledOp, &SendOp, &SendToOp, &GetCellOp},
      link_{{&operations_}, this} {}

void EmulatedHost::Listing::Add(const char* text) {
    if (first.size() < kListed) first.emplace_back(text);
    ++count;
}

EmulatedHost& EmulatedHost::Of(plumeta::HostInterface* self) {
    return *reinterpret_cast<Link*>(self)->owner;
}

// Flushed line by line: a crash in the module loses none of the transcript.
void EmulatedHost::Line(const std::string& text) {
    if (quiet_) return;
    SummaryLine(text);
}

void EmulatedHost::SummaryLine(const std::string& text) {
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

// A contact has every registered column, at its default until set.
const std::string* EmulatedHost::Cell(uint32_t table, uint32_t row, uint32_t column) const {
    if (table == plumeta::kSettingsTable) {
        auto found = settings_.find(column);
        return found == settings_.end() ? nullptr : &found->second;
    }
    auto found = contacts_.find({row, column});
    if (found != contacts_.end()) return &found->second;
    auto registered = contactDefaults_.find(column);
    return registered == contactDefaults_.end() ? nullptr : &registered->second;
}

std::string EmulatedHost::CellLabel(uint32_t table, uint32_t row, uint32_t column) const {
    if (table == plumeta::kSettingsTable) return "settings " + ColumnName(column);
    return "contact " + std::to_string(row) + " " + ColumnName(column);
}

uint32_t PLUMETA_HOSTCALL EmulatedHost::DefaultTargetOp(plumeta::HostInterface* self) {
    EmulatedHost& host = Of(self);
    host.Line("   DefaultTarget -> " + std::to_string(host.defaultTarget_));
    return host.defaultTarget_;
}

int32_t PLUMETA_HOSTCALL EmulatedHost::ReportUnhandledOp(plumeta::HostInterface* self, int32_t code) {
    Of(self).Line("   ReportUnhandled " + std::to_string(code));
    return 0;
}

int32_t PLUMETA_HOSTCALL EmulatedHost::GetCellOp(plumeta::HostInterface* self, uint32_t table,
                                                 uint32_t row, uint32_t column,
                                                 plumeta::CellValue* cell) {
    EmulatedHost& host = Of(self);
    const std::string* value = host.Cell(table, row, column);
    std::string line = "   GetCell " + host.CellLabel(table, row, column);
    if (cell->valueType == plumeta::kValueInteger) {
        if (value) cell->value = static_cast<HostWord>(std::strtol(value->c_str(), nullptr, 10));
        host.Line(line + " -> " + (value ? std::to_string(int32_t(cell->value)) : "(no value)"));
        return 0;
    }
    if (cell->value != 0) line += " into buffer[" + std::to_string(cell->bufferSize) + "]";
    if (!value) {
        host.Line(line + " -> (no value)");
        return 0;
    }
    if (cell->value == 0) {
        cell->value = ToWord(value->c_str());  // our own copy, valid while unchanged
    } else if (cell->bufferSize > 0) {
        const std::size_t n = std::min<std::size_t>(value->size(), cell->bufferSize - 1);
        char* buffer = FromWord<char>(cell->value);
        std::memcpy(buffer, value->data(), n);
        buffer[n] = '\0';
    }
    host.Line(line + " -> " + host.Shown(*value));
    return 0;
}

int32_t PLUMETA_HOSTCALL EmulatedHost::SendOp(plumeta::HostInterface* self, MessageRecord* message) {
    EmulatedHost& host = Of(self);
    std::string what;
    host.answerShown_.clear();
    const int32_t answer = host.Deliver(*message, what);
    host.Line("   Send " + what + " -> " +
              (host.answerShown_.empty() ? std::to_string(answer) : host.answerShown_));
    return answer;
}

int32_t PLUMETA_HOSTCALL EmulatedHost::SendToOp(plumeta::HostInterface* self, uint32_t target,
                                                MessageRecord* message) {
    EmulatedHost& host = Of(self);
    const uint32_t id = message->header.id;
    int32_t answer = 0;
    std::string what = std::to_string(id);
    auto plugin = host.pluginNets_.find(target);
    if (plugin == host.pluginNets_.end()) {
        what += " (no such plug-in)";
    } else if (id == plumeta::kMsgNetNumber) {
        what += " network number?";
        answer = static_cast<int32_t>(plugin->second);
    }
    host.Line("   SendTo plug-in " + std::to_string(target) + ": " + what + " -> " +
              std::to_string(answer));
    return answer;
}

int32_t EmulatedHost::Deliver(const MessageRecord& message, std::string& what) {
    const uint32_t id = message.header.id;
    const uint32_t net = message.header.net;
    what = std::to_string(id);
    if (net == kHostNet && id == plumeta::kMsgRegisterColumn) {
        const auto record = Copy<plumeta::ColumnRecord>(&message);
        const uint32_t table = record.table, column = record.column;
        const bool text = record.valueType == plumeta::kValueText;
        const std::string value = text ? std::string(FromWord<const char>(record.defaultValue))
                                       : std::to_string(int32_t(record.defaultValue));
        what += std::string(" register column ") + (table ? "contacts " : "settings ") +
                ColumnName(column) + (text ? " text, default " + Shown(value) : " integer, default " + value);
        if (table == plumeta::kSettingsTable) {
            settings_.emplace(column, value);
        } else {
            contactDefaults_[column] = value;
        }
        return 1;
    }
    if (net == kHostNet && id == plumeta::kMsgDefaultLogName) {
        what += " default log name?";
        answerShown_ = "the address of " + Shown(defaultLogName_);
        return static_cast<int32_t>(ToWord(defaultLogName_.c_str()));
    }
    if (net == kHostNet && id == plumeta::kMsgAddOptionItem) {
        Item item{Copy<plumeta::OptionItem>(FromWord<const void>(message.p1)), "", false};
        if (item.record.size < plumeta::kOptionItemLongSize) item.record.x1 = item.record.x2 = 0;
        item.hasText = item.record.text != nullptr;
        if (item.hasText) item.text = item.record.text;
        const plumeta::OptionItem& r = item.record;
        what += " add option [" + std::to_string(r.size) + "] parent " + std::to_string(r.parent) +
                " id " + (r.id >> 24 ? Hex(r.id) : std::to_string(r.id)) + " kind " + Hex(r.kind) + " param " + std::to_string(r.param) +
                " w " + std::to_string(r.w1) + "/" + std::to_string(r.w2) + " x1 " +
                std::to_string(r.x1) + " " + TextOrNull(r.text);
        if (collectingPages_) items_.push_back(item);
        return 1;
    }
    if (net == kHostNet && id == plumeta::kMsgRegisterIcon) {
        what += " register icon " + std::to_string(message.p1) + " from resource " +
                std::to_string(message.p2);
        return 1;
    }
    if (net == kHostNet && id == plumeta::kMsgShowWarning) {
        const char* warning = FromWord<const char>(message.p1);
        what += " show warning " + TextOrNull(warning);
        if (warning) warnings_.Add(warning);
        return 1;
    }
    if (net == kHostNet && id == plumeta::kMsgAddHistoryEntry) {
        const auto request = Copy<plumeta::HistoryAddRequest>(FromWord<const void>(message.p1));
        const auto entry = Copy<plumeta::HistoryEntry>(request.entry);
        std::string name = request.historyName ? request.historyName : DisplayParam(entry.ext);
        if (name.empty()) name = "contact " + std::to_string(request.contact);
        ++historyCounts_[{request.folder ? request.folder : "", name}];
        what += " add history folder " + TextOrNull(request.folder) + " contact " +
                std::to_string(request.contact) + " name " + TextOrNull(request.historyName) +
                " entry{net " + std::to_string(entry.net) + " type " + std::to_string(entry.type) +
                " flags " + std::to_string(entry.flags) + " time=" +
                std::to_string(static_cast<long long>(entry.time)) + " body " +
                TextOrNull(entry.body) + " ext " + TextOrNull(entry.ext) + "}";
        return 1;
    }
    if (net == 10 && id == plumeta::kMsgMayRecord) {
        what += " may record? (net 10, type " + std::to_string(message.header.type) + ")";
        return mayRecord_;
    }
    if (net == plumeta::kSpeechNetwork && !speech_) {
        what += " to net 78 (no speech plug-in)";
        return 0;
    }
    if (net == plumeta::kSpeechNetwork && id == plumeta::kMsgSpeak) {
        const char* sentence = FromWord<const char>(message.p1);
        what += " speak " + TextOrNull(sentence);
        if (sentence) spoken_.Add(sentence);
        return 1;
    }
    if (id == plumeta::kMsgNetNumber) {
        what += " network number? (net " + std::to_string(net) + ")";
        if (net == plumeta::kSpeechNetwork) return static_cast<int32_t>(net);
        for (const auto& plugin : pluginNets_) {
            if (plugin.second == static_cast<int32_t>(net) && net != kHostNet) return static_cast<int32_t>(net);
        }
        return 0;
    }
    what += " to net " + std::to_string(net) + " (nobody answers)";
    return 0;
}

int32_t EmulatedHost::Call(const std::string& title, MessageRecord* message, bool answersText) {
    Line("-> " + title);
    std::snprintf(current_, sizeof current_, "%s", title.c_str());
    const int32_t answer = module_(message);
    std::snprintf(current_, sizeof current_, "%s", "nothing");
    // A text answer is an address in the module; a small number cannot be one.
    const bool address = answersText && HostWord(answer) >= 0x10000;
    Line("<- " + (address ? Shown(FromWord<const char>(HostWord(answer))) : std::to_string(answer)));
    return answer;
}

int32_t EmulatedHost::CallSimple(const std::string& title, uint32_t id, HostWord p1) {
    MessageRecord message{};
    message.header.size = plumeta::kMessageRecordSize;
    message.header.id = id;
    message.p1 = p1;
    return Call(std::to_string(id) + " " + title, &message);
}

void EmulatedHost::StartUp() {
    CallSimple("host interface", plumeta::kMsgHostInterface, ToWord(&link_.iface));
    CallSimple("started", plumeta::kMsgStarted);
    for (uint32_t question : {30016u, 30012u, 30010u}) {
        MessageRecord message{};
        message.header.size = plumeta::kMessageRecordSize;
        message.header.id = question;
        Call(std::to_string(question) + (question == 30010 ? " network number?" : " text?"),
             &message, question != 30010);
    }
    CallSimple("register your columns", plumeta::kMsgColumnsWanted);
    CallSimple("register your icon", plumeta::kMsgIconWanted);
    RunOnce(Directive{});  // the option pages
}

std::string EmulatedHost::LogFileFor(uint32_t id, uint32_t row) const {
    const std::string* save = Cell(plumeta::kSettingsTable, 0, plumeta::SaveToFile);
    if (!save || std::strtol(save->c_str(), nullptr, 10) != 1) return "";
    if (id == plumeta::kMsgContactStatus) {
        const std::string* record = Cell(plumeta::kContactsTable, row, plumeta::ContactRecordChanges);
        if (record && std::strtol(record->c_str(), nullptr, 10) == 0) return "";
    }
    const std::string* name = Cell(plumeta::kSettingsTable, 0, plumeta::LogFileName);
    return codepage_.ToUtf8((name ? *name : "") + plumeta::kLogExtension);
}

void EmulatedHost::StatusChange(uint32_t id, const Directive& d) {
    const std::string log = LogFileFor(id, d.row);
    if (!log.empty()) {
        auto [tally, first] = tallies_.try_emplace(log);
        if (first) {
            tally->second.linesBefore = CountLines(log);
            tally->second.spilledBefore = SpilledFor(log);
        }
        ++tally->second.changes;
    }
    plumeta::StatusChangeRecord change{};
    change.header.size = plumeta::kStatusChangeRecordSize;
    change.header.id = id;
    change.subject = d.row;
    change.status = d.column;
    change.description = d.text ? d.text->c_str() : nullptr;
    const std::string title = std::to_string(id) +
                              (id == plumeta::kMsgContactStatus ? " contact " : " own status, plug-in ") +
                              std::to_string(d.row) + " status " + std::to_string(d.column) +
                              " description " + (d.text ? Shown(*d.text) : "none");
    Call(title, reinterpret_cast<MessageRecord*>(&change));
}

void EmulatedHost::Edit(const Directive& d) {
    const std::string typed = d.text.value_or("");
    plumeta::ValidationNotice notice{};
    notice.size = plumeta::kValidationNoticeTextEnd;
    notice.elementId = plumeta::kSettingsControl | d.column;
    notice.code = 100;
    notice.text = typed.c_str();
    MessageRecord message{};
    message.header.size = plumeta::kMessageRecordSize;
    message.header.id = plumeta::kMsgValidateText;
    message.p1 = ToWord(&notice);
    Call("22200 the user typed " + Shown(typed) + " into " + ColumnName(d.column), &message);
    settings_[d.column] = notice.text ? notice.text : "";
    Line("== host stores settings " + ColumnName(d.column) + " = " + Shown(settings_[d.column]));
}

// The pages as the host shows them now: each bound control with its cell's
// value of this moment. The contact page shows the lowest contact row.
void EmulatedHost::SnapshotPages() {
    const uint32_t firstContact = contacts_.empty() ? 0 : contacts_.begin()->first.first;
    pages_.clear();
    for (const Item& item : items_) {
        PageElement element{item.record.parent, item.record.id,  item.record.kind,
                            item.record.param,  item.hasText,    codepage_.ToUtf8(item.text),
                            ""};
        const uint32_t marker = item.record.id & 0xFF000000;
        const std::string* value = nullptr;
        if (marker == plumeta::kSettingsControl) {
            value = Cell(plumeta::kSettingsTable, 0, item.record.param);
        } else if (marker == plumeta::kContactControl) {
            value = Cell(plumeta::kContactsTable, firstContact, item.record.param);
        }
        if (value) element.value = codepage_.ToUtf8(*value);
        pages_.push_back(element);
    }
    items_.clear();
}

// Stands in for another program: kept open until freed, or to the end of
// the process, so that the module's unload finds the file still held.
void EmulatedHost::Hold(const Directive& d) {
    const std::string name = codepage_.ToUtf8(*d.text);
    const bool lock = d.number == 1;
    Free(name);
#if defined(_WIN32)
    const std::wstring wide = plumeta::Cp1250ToUtf16(*d.text).value_or(L"");
    const DWORD share = lock ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool held = file != INVALID_HANDLE_VALUE;
    if (held && lock) {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(plumeta::kAppendLockOffset);
        where.OffsetHigh = static_cast<DWORD>(plumeta::kAppendLockOffset >> 32);
        held = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where);
    }
    if (held) held_[name] = reinterpret_cast<intptr_t>(file);
#else
    const int file = open(name.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    const bool held = file >= 0 && flock(file, LOCK_EX) == 0;
    if (held) held_[name] = file;
#endif
    Line("== another program holds " + Shown(*d.text) + (lock ? " by its append lock" : " open for reading") +
         (held ? "" : ": it could not"));
}

void EmulatedHost::Free(const std::string& name) {
    auto held = held_.find(name);
    if (held == held_.end()) return;
#if defined(_WIN32)
    CloseHandle(reinterpret_cast<HANDLE>(held->second));
#else
    close(static_cast<int>(held->second));
#endif
    held_.erase(held);
}

// The module is called from this thread as the host's own: no transcript,
// no tallies (the scenario's thread keeps those), only the calls.
void EmulatedHost::RunBackground() {
    const Directive& d = background_;
    for (uint32_t i = 1; i <= d.repeat; ++i) {
        std::string text = d.text.value_or("");
        for (std::size_t at = text.find(kRepeatCounter); at != std::string::npos; at = text.find(kRepeatCounter, at)) {
            text.replace(at, sizeof kRepeatCounter - 1, std::to_string(i));
        }
        plumeta::StatusChangeRecord change{};
        change.header.size = plumeta::kStatusChangeRecordSize;
        change.header.id = plumeta::kMsgContactStatus;
        change.subject = d.row;
        change.status = d.column;
        change.description = d.text ? text.c_str() : nullptr;
        module_(reinterpret_cast<MessageRecord*>(&change));
    }
}

#if defined(_WIN32)
namespace {
DWORD WINAPI BackgroundThread(void* host) {
    static_cast<EmulatedHost*>(host)->RunBackground();
    return 0;
}
}  // namespace
#endif

void EmulatedHost::StartBackground(const Directive& d) {
    if (backgroundStarted_) {
        Line("== a second thread logs already");
        return;
    }
    background_ = d;
    backgroundStarted_ = true;
    Line("== a second thread of the host sends " + std::to_string(d.repeat) + " changes meanwhile");
#if defined(_WIN32)
    backgroundThread_ = reinterpret_cast<intptr_t>(CreateThread(nullptr, 0, &BackgroundThread, this, 0, nullptr));
#else
    backgroundThread_ = reinterpret_cast<intptr_t>(new std::thread([this] { RunBackground(); }));
#endif
}

// Linux, where the module's unload at exit would run under the thread,
// waits for it. On Windows the host ends with it (EndWith).
EmulatedHost::~EmulatedHost() {
#if !defined(_WIN32)
    if (backgroundStarted_) {
        auto* thread = reinterpret_cast<std::thread*>(backgroundThread_);
        thread->join();
        delete thread;
    }
#endif
}

int EmulatedHost::EndWith(int code) {
#if defined(_WIN32)
    // The system stops the second thread wherever it is, then unloads the
    // module, as when a host ends with a thread still logging.
    if (backgroundStarted_) {
        std::fflush(nullptr);
        ExitProcess(static_cast<UINT>(code));
    }
#endif
    return code;
}

void EmulatedHost::Run(const Directive& d) {
    if (d.background) {
        StartBackground(d);
        return;
    }
    const std::size_t counter = d.text ? d.text->find(kRepeatCounter) : std::string::npos;
    if (d.repeat == 1 || counter == std::string::npos) {
        for (uint32_t i = 0; i < d.repeat; ++i) RunOnce(d);
        return;
    }
    Directive each = d;
    for (uint32_t i = 1; i <= d.repeat; ++i) {
        each.text = *d.text;
        for (std::size_t at = each.text->find(kRepeatCounter); at != std::string::npos;
             at = each.text->find(kRepeatCounter, at)) {
            const std::string number = std::to_string(i);
            each.text->replace(at, sizeof kRepeatCounter - 1, number);
            at += number.size();
        }
        RunOnce(each);
    }
}

void EmulatedHost::RunOnce(const Directive& d) {
    using Kind = Directive::Kind;
    const std::string value = d.text ? *d.text : std::to_string(d.number);
    switch (d.kind) {
        case Kind::Setting:
            settings_[d.column] = value;
            Line("== settings " + ColumnName(d.column) + " = " + Shown(value));
            break;
        case Kind::Contact:
            contacts_[{d.row, d.column}] = value;
            Line("== contact " + std::to_string(d.row) + " " + ColumnName(d.column) + " = " + Shown(value));
            break;
        case Kind::Plugin:
            pluginNets_[d.row] = d.number;
            Line("== plug-in " + std::to_string(d.row) + " is on net " + std::to_string(d.number));
            break;
        case Kind::DefaultTarget:
            defaultTarget_ = d.row;
            Line("== default target is plug-in " + std::to_string(d.row));
            break;
        case Kind::Speech:
            speech_ = d.number != 0;
            Line(std::string("== speech plug-in ") + (speech_ ? "runs" : "does not run"));
            break;
        case Kind::MayRecord:
            mayRecord_ = d.number;
            Line("== the answer to 33006 is " + std::to_string(d.number));
            break;
        case Kind::DefaultLogName:
            defaultLogName_ = value;
            Line("== the answer to request 2 is " + Shown(value));
            break;
        case Kind::Status:
            StatusChange(plumeta::kMsgContactStatus, d);
            break;
        case Kind::Own:
            StatusChange(plumeta::kMsgOwnStatus, d);
            break;
        case Kind::Edit:
            Edit(d);
            break;
        case Kind::Pages:
            items_.clear();
            collectingPages_ = true;
            CallSimple("build your option pages", plumeta::kMsgOptionPagesWanted);
            collectingPages_ = false;
            SnapshotPages();
            break;
        case Kind::Message:
            CallSimple("(a message the module does not know)", d.column);
            break;
        case Kind::Hold:
            Hold(d);
            break;
        case Kind::Free:
            Free(codepage_.ToUtf8(*d.text));
            Line("== the other program lets go of " + Shown(*d.text));
            break;
        case Kind::Show:
            ReadBack(codepage_.ToUtf8(*d.text), "== " + codepage_.ToUtf8(*d.text));
            break;
        case Kind::Reload:
            Line("== the host frees the module and loads it again");
            module_ = reload_ ? reload_() : nullptr;
            if (!module_) {
                SummaryLine("host emulator: the module could not be loaded again");
                std::exit(2);
            }
            StartUp();
            break;
    }
}

namespace {

std::string Counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool IsLogFile(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const std::size_t size = sizeof plumeta::kLogExtension - 1;
    return name.size() >= size && name.compare(name.size() - size, size, plumeta::kLogExtension) == 0;
}

}  // namespace

// Reads a log file back in one pass: its lines up to kListed, and how many
// there are.
void EmulatedHost::ReadBack(const std::string& path, const std::string& name, const std::string& tally) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        SummaryLine(name + ": no such file" + tally);
        return;
    }
    uint64_t lines = 0, bare = 0;  // bare: ended by LF alone
    std::vector<std::string> shown;
    std::string line, rest;
    while (std::getline(in, line)) {
        if (in.eof()) {  // no line end at all
            rest = line;
            break;
        }
        const bool crlf = !line.empty() && line.back() == '\r';
        if (crlf) line.pop_back();
        ++lines;
        bare += crlf ? 0 : 1;
        if (shown.size() < kListed) shown.push_back("  " + Shown(line));
    }
    std::string heading = name + ": " + Counted(lines, "line", "lines");
    if (bare) {
        heading += ", " + std::to_string(bare) + " ending in LF alone";
    } else if (lines > 0) {
        heading += lines == 1 ? ", ending in CR LF" : ", each ending in CR LF";
    }
    if (!rest.empty()) heading += ", then " + Shown(rest);
    SummaryLine(heading + tally);
    for (const std::string& text : shown) SummaryLine(text);
    if (lines > shown.size()) SummaryLine("  ... and " + std::to_string(lines - shown.size()) + " more");
}

void EmulatedHost::PrintSummary(const std::string& logFolder) {
    if (!quiet_) SummaryLine("");
    SummaryLine("== summary");
    uint64_t historyTotal = 0;
    for (const auto& group : historyCounts_) historyTotal += group.second;
    SummaryLine("history entries: " + std::to_string(historyTotal));
    for (const auto& group : historyCounts_) {
        SummaryLine("  " + Shown(group.first.first) + " / " + Shown(group.first.second) + ": " +
                    std::to_string(group.second));
    }
    const std::pair<const char*, const Listing*> listings[] = {
        {"sentences handed to speech: ", &spoken_}, {"warnings shown: ", &warnings_}};
    for (const auto& [title, listing] : listings) {
        SummaryLine(title + std::to_string(listing->count));
        for (const std::string& text : listing->first) SummaryLine("  " + Shown(text));
        if (listing->count > listing->first.size()) {
            SummaryLine("  ... and " + std::to_string(listing->count - listing->first.size()) + " more");
        }
    }

    namespace fs = std::filesystem;
    std::vector<fs::path> logs;
    for (const auto& file : fs::directory_iterator(logFolder)) {
        if (file.is_regular_file() && IsLogFile(file.path())) logs.push_back(file.path());
    }
    for (const auto& tally : tallies_) {
        const fs::path log = fs::u8path(tally.first);
        if (std::find(logs.begin(), logs.end(), fs::path(".") / log) == logs.end()) logs.push_back(log);
    }
    std::sort(logs.begin(), logs.end());
    // The module names its files in Unicode on both systems.
    for (const fs::path& log : logs) {
        const std::string name = log.parent_path() == "." ? log.filename().u8string() : log.u8string();
        std::string said;
        auto tally = tallies_.find(name);
        if (tally != tallies_.end()) {
            // Every line of the run's changes and of the spills it found is
            // in the log, in a spill, dropped, or nowhere on disk.
            const Tally& t = tally->second;
            const uint64_t now = CountLines(log.u8string());
            const uint64_t gained = now > t.linesBefore ? now - t.linesBefore : 0;
            const Waiting spilled = SpilledFor(name);
            const uint64_t dropped = spilled.dropped > t.spilledBefore.dropped ? spilled.dropped - t.spilledBefore.dropped : 0;
            const uint64_t accounted = gained + spilled.lines + dropped;
            const uint64_t all = t.changes + t.spilledBefore.lines;
            said = "; of this run's " + Counted(t.changes, "change", "changes") + " and " +
                   std::to_string(t.spilledBefore.lines) + " spilled before: " + std::to_string(gained) +
                   " written, " + std::to_string(spilled.lines) + " waiting in a spill, " +
                   std::to_string(all > accounted ? all - accounted : 0) + " in memory or lost, " +
                   std::to_string(dropped) + " dropped";
        }
        ReadBack(log.u8string(), "log file " + name, said);
    }
}

bool EmulatedHost::WritePagesHtml(const std::string& path) const {
    return WritePagesFile(path, pages_);
}

}  // namespace emulator
