#include "tests/fake_host.h"

#include <cstring>
#include <ctime>

namespace plumeta::testing {

FakeHost::FakeHost()
    : operations_{&DefaultTargetOp, &ReportUnhandledOp, &SendOp, &SendToOp, &GetCellOp},
      link_{{&operations_}, this} {
    SetHostInterface(&link_.iface);
}

FakeHost::~FakeHost() { SetHostInterface(nullptr); }

FakeHost& FakeHost::Of(HostInterface* self) { return *reinterpret_cast<Link*>(self)->owner; }

void FakeHost::Record(RecordedCall call) {
    calls.push_back(call);
    if (onCall) onCall(call);
}

uint32_t PLUMETA_HOSTCALL FakeHost::DefaultTargetOp(HostInterface* self) {
    FakeHost& host = Of(self);
    host.Record(RecordedCall{RecordedCall::Op::DefaultTarget});
    return host.defaultTarget;
}

int32_t PLUMETA_HOSTCALL FakeHost::ReportUnhandledOp(HostInterface* self, int32_t code) {
    RecordedCall call{RecordedCall::Op::ReportUnhandled};
    call.code = code;
    Of(self).Record(call);
    return 0;
}

RecordedCall FakeHost::Capture(RecordedCall::Op op, const MessageRecord* message) const {
    RecordedCall call{op};
    const auto* raw = reinterpret_cast<const uint8_t*>(message);
    call.bytes.assign(raw, raw + message->header.size);
    std::memcpy(&call.message, raw, std::min<std::size_t>(message->header.size, sizeof call.message));
    const uint32_t id = message->header.id;
    if (id == 1102) {
        ColumnRecord column;
        std::memcpy(&column, raw, sizeof column);
        if (column.valueType == kValueText && column.defaultValue) {
            call.text = FromWord<const char>(column.defaultValue);
        }
    } else if (id == 10201 || id == 78700) {
        call.textNull = message->p1 == 0;
        if (!call.textNull) call.text = FromWord<const char>(message->p1);
    } else if (id == 10101) {
        const auto* item = FromWord<const uint8_t>(message->p1);
        uint16_t size;
        std::memcpy(&size, item, sizeof size);
        call.itemBytes.assign(item, item + size);
        std::memcpy(&call.item, item, std::min<std::size_t>(size, sizeof call.item));
        if (call.item.text) call.text = call.item.text;
        call.textNull = call.item.text == nullptr;
    } else if (id == 13004) {
        const auto* request = FromWord<const HistoryAddRequest>(message->p1);
        const auto* requestRaw = reinterpret_cast<const uint8_t*>(request);
        call.requestBytes.assign(requestRaw, requestRaw + sizeof *request);
        std::memcpy(&call.request, request, sizeof call.request);
        const auto* entryRaw = reinterpret_cast<const uint8_t*>(call.request.entry);
        call.entryBytes.assign(entryRaw, entryRaw + sizeof(HistoryEntry));
        std::memcpy(&call.entry, entryRaw, sizeof call.entry);
        call.folder = call.request.folder;
        call.historyNameNull = call.request.historyName == nullptr;
        if (!call.historyNameNull) call.historyName = call.request.historyName;
        call.body = call.entry.body;
        call.ext = call.entry.ext;
    }
    return call;
}

int32_t PLUMETA_HOSTCALL FakeHost::SendOp(HostInterface* self, MessageRecord* message) {
    FakeHost& host = Of(self);
    host.Record(host.Capture(RecordedCall::Op::Send, message));
    return host.onSend ? host.onSend(*message) : 0;
}

int32_t PLUMETA_HOSTCALL FakeHost::SendToOp(HostInterface* self, uint32_t target,
                                            MessageRecord* message) {
    FakeHost& host = Of(self);
    RecordedCall call = host.Capture(RecordedCall::Op::SendTo, message);
    call.target = target;
    host.Record(call);
    return host.onSendTo ? host.onSendTo(target, *message) : 0;
}

int32_t PLUMETA_HOSTCALL FakeHost::GetCellOp(HostInterface* self, uint32_t table, uint32_t row,
                                             uint32_t column, CellValue* cell) {
    FakeHost& host = Of(self);
    RecordedCall call{RecordedCall::Op::GetCell};
    call.table = table;
    call.row = row;
    call.column = column;
    call.cellIn = *cell;
    host.Record(call);

    if (cell->valueType == kValueInteger) {
        if (table == kSettingsTable && host.settingInts_.count(column)) {
            cell->value = static_cast<HostWord>(host.settingInts_[column]);
        } else if (table == kContactsTable && host.contactInts_.count({row, column})) {
            cell->value = static_cast<HostWord>(host.contactInts_[{row, column}]);
        }
        return 0;
    }
    std::optional<std::string>* text = nullptr;
    if (table == kSettingsTable && host.settingTexts_.count(column)) {
        text = &host.settingTexts_[column];
    } else if (table == kContactsTable && host.contactTexts_.count({row, column})) {
        text = &host.contactTexts_[{row, column}];
    }
    if (!text) return 0;
    if (!text->has_value()) {
        cell->value = 0;
    } else if (cell->value == 0) {
        cell->value = ToWord((*text)->c_str());
    } else if (cell->bufferSize > 0) {
        char* buffer = FromWord<char>(cell->value);
        const std::string& value = **text;
        if (host.copyWithoutTerminator && !value.empty()) {
            for (uint32_t i = 0; i < cell->bufferSize; ++i) buffer[i] = value[i % value.size()];
        } else {
            const std::size_t n = std::min<std::size_t>(value.size(), cell->bufferSize - 1);
            std::memcpy(buffer, value.data(), n);
            buffer[n] = '\0';
        }
    }
    return 0;
}

std::vector<uint32_t> FakeHost::SentIds() const {
    std::vector<uint32_t> ids;
    for (const RecordedCall& call : calls) {
        if (call.op == RecordedCall::Op::Send || call.op == RecordedCall::Op::SendTo) {
            ids.push_back(call.id());
        }
    }
    return ids;
}

std::vector<RecordedCall> FakeHost::Sent(uint32_t id) const {
    std::vector<RecordedCall> sent;
    for (const RecordedCall& call : calls) {
        if ((call.op == RecordedCall::Op::Send || call.op == RecordedCall::Op::SendTo) &&
            call.id() == id) {
            sent.push_back(call);
        }
    }
    return sent;
}

std::vector<std::string> FakeHost::Trace() const {
    std::vector<std::string> trace;
    for (const RecordedCall& call : calls) {
        switch (call.op) {
            case RecordedCall::Op::DefaultTarget:
                trace.push_back("DefaultTarget");
                break;
            case RecordedCall::Op::ReportUnhandled:
                trace.push_back("ReportUnhandled " + std::to_string(call.code));
                break;
            case RecordedCall::Op::Send:
                trace.push_back("Send " + std::to_string(call.id()));
                break;
            case RecordedCall::Op::SendTo:
                trace.push_back("SendTo " + std::to_string(call.target) + " " +
                                std::to_string(call.id()));
                break;
            case RecordedCall::Op::GetCell:
                trace.push_back("GetCell " + std::to_string(call.table) + "/" +
                                std::to_string(call.row) + "/" + std::to_string(call.column));
                break;
        }
    }
    return trace;
}

int64_t LocalMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
#if defined(_WIN32)
    return _mktime64(&local);  // the runtime's mktime stops in 2038
#else
    return std::mktime(&local);
#endif
}

std::vector<uint8_t> Bytes(const void* data, std::size_t size) {
    const auto* raw = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(raw, raw + size);
}

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(value & 0xFF);
    out.push_back(value >> 8);
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((value >> shift) & 0xFF);
}

void PutU64(std::vector<uint8_t>& out, uint64_t value) {
    PutU32(out, static_cast<uint32_t>(value));
    PutU32(out, static_cast<uint32_t>(value >> 32));
}

void PutAddress(std::vector<uint8_t>& out, const void* address) { PutU32(out, ToWord(address)); }

}  // namespace plumeta::testing
