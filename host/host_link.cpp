#include "host/host_link.h"

#include <atomic>
#include <cstring>

namespace plumeta {
namespace {

// One of the two pieces of state the module keeps (the other is the log's
// backlog, recorder/log_backlog.h): set by message 20001, never
// released (the host owns the object). The host may hand over another one,
// or none, from inside any of its operations, so every wrapper reads it once
// and calls only through that copy.
std::atomic<HostInterface*> g_host{nullptr};

HostInterface* Host() { return g_host.load(std::memory_order_acquire); }

constexpr uint32_t kGroupKindBit = 0x10;
const char kEmptyText[] = "";

MessageRecord MakeMessage(uint32_t id, uint32_t net, uint32_t type, HostWord p1, HostWord p2) {
    MessageRecord message{};
    message.header.size = kMessageRecordSize;
    message.header.id = id;
    message.header.net = net;
    message.header.type = type;
    message.p1 = p1;
    message.p2 = p2;
    return message;
}

int32_t Send(MessageRecord& message) {
    HostInterface* host = Host();
    return host ? host->operations->Send(host, &message) : 0;
}

HostWord ReadCell(uint32_t table, uint32_t row, uint32_t column, uint16_t valueType,
                  HostWord value, uint32_t bufferSize) {
    CellValue cell{valueType, value, bufferSize};
    if (HostInterface* host = Host()) host->operations->GetCell(host, table, row, column, &cell);
    return cell.value;
}

}  // namespace

int32_t SetHostInterface(HostInterface* host) {
    g_host.store(host, std::memory_order_release);
    return 1;
}

bool HostLinked() { return Host() != nullptr; }

void ReportUnhandled(int32_t code) {
    if (HostInterface* host = Host()) host->operations->ReportUnhandled(host, code);
}

int32_t GetSettingInt(uint32_t column) {
    return static_cast<int32_t>(ReadCell(kSettingsTable, 0, column, kValueInteger, 0, 0));
}

const char* GetSettingText(uint32_t column, char* buffer, uint32_t bufferSize) {
    return FromWord<const char>(
        ReadCell(kSettingsTable, 0, column, kValueText, ToWord(buffer), bufferSize));
}

int32_t GetContactInt(uint32_t contact, uint32_t column) {
    return static_cast<int32_t>(ReadCell(kContactsTable, contact, column, kValueInteger, 0, 0));
}

const char* GetContactText(uint32_t contact, uint32_t column, char* buffer, uint32_t bufferSize) {
    return FromWord<const char>(
        ReadCell(kContactsTable, contact, column, kValueText, ToWord(buffer), bufferSize));
}

int32_t SendToNet(uint32_t id, uint32_t net, uint32_t type, HostWord p1, HostWord p2) {
    MessageRecord message = MakeMessage(id, net, type, p1, p2);
    return Send(message);
}

int32_t SendToHost(uint32_t id, HostWord p1, HostWord p2) { return SendToNet(id, 0, 0, p1, p2); }

int32_t SendToPlugin(uint32_t id, uint32_t target, HostWord p1, HostWord p2) {
    HostInterface* host = Host();
    if (!host) return 0;
    if (target == 0) target = host->operations->DefaultTarget(host);
    MessageRecord message = MakeMessage(id, 0, 0, p1, p2);
    return host->operations->SendTo(host, target, &message);
}

int32_t RegisterColumn(uint8_t table, uint32_t column, uint32_t valueType, HostWord defaultValue,
                       uint32_t extra) {
    ColumnRecord record{};
    record.header.size = kColumnRecordSize;
    record.header.id = kMsgRegisterColumn;
    record.table = table;
    record.column = column;
    record.valueType = valueType;
    record.defaultValue = defaultValue;
    record.extra = extra;
    return Send(*reinterpret_cast<MessageRecord*>(&record));
}

void InitOptionItem(OptionItem& item, uint32_t parent, uint32_t id, uint32_t kind,
                    const char* text, uint32_t param, uint16_t w1, uint16_t w2, uint32_t param2,
                    uint32_t param3) {
    item.size = kOptionItemShortSize;
    item.id = id;
    item.parent = parent;
    item.fixed10 = 0xFFFFFFFE;
    item.fixed14 = 0xFFFFFFFF;
    item.fixed30 = 863;
    item.kind = kind;
    item.fixed38 = 0xFFFFFFFF;
    item.fixed46 = 0;
    item.text = text;
    item.param3 = param3;
    item.param = param;
    item.param2 = param2;
    item.w1 = w1;
    item.w2 = w2;
}

int32_t AddOptionItem(uint32_t parent, uint32_t id, uint32_t kind, const char* text, uint32_t param,
                      uint16_t w1, uint16_t w2, uint32_t param2, uint32_t param3) {
    OptionItem item{};
    InitOptionItem(item, parent, id, kind, text, param, w1, w2, param2, param3);
    return SendToHost(kMsgAddOptionItem, ToWord(&item), 0);
}

int32_t AddOptionItemEx(uint32_t parent, uint32_t id, uint32_t kind, const char* text,
                        uint32_t param, uint16_t x1, uint16_t x2, uint16_t w1, uint16_t w2,
                        uint32_t param2, uint32_t param3) {
    OptionItem item{};
    InitOptionItem(item, parent, id, kind, text, param, w1, w2, param2, param3);
    item.size = kOptionItemLongSize;
    item.x1 = x1;
    item.x2 = x2;
    return SendToHost(kMsgAddOptionItem, ToWord(&item), 0);
}

int32_t AddOptionGroup(uint32_t parent, uint32_t id, uint32_t kind, const char* text,
                       uint32_t param, uint16_t w1, uint16_t w2, uint32_t param2, uint32_t param3) {
    return AddOptionItem(parent, id, kind | kGroupKindBit, text, param, w1, w2, param2, param3);
}

void InitHistoryEntry(HistoryEntry& entry) {
    entry = HistoryEntry{};
    entry.size = kHistoryEntrySize;
    entry.text14 = kEmptyText;
    entry.text18 = kEmptyText;
    entry.body = kEmptyText;
    entry.ext = kEmptyText;
    entry.field42 = 0xFFFFFFFE;
}

StatusChangeRecord TakeStatusChangeView(const MessageRecord* incoming) {
    uint16_t size = 0;
    std::memcpy(&size, incoming, sizeof size);
    if (size < kStatusChangeRecordSize) {
        HostMessageException error{};
        error.code = 0;
        error.record = incoming;
        throw error;
    }
    StatusChangeRecord view;
    std::memcpy(&view, incoming, sizeof view);
    view.header.size = kStatusChangeRecordSize;
    return view;
}

}  // namespace plumeta
