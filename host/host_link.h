// The link to the host: the one stored HostInterface pointer and the thin
// wrappers through which every other module calls the host. Nothing outside
// host_link.cpp touches the table of operations.
#pragma once

#include <cstdint>

#include "host/host_records.h"

#if defined(_WIN32)
#define PLUMETA_HOSTCALL __stdcall
#else
#define PLUMETA_HOSTCALL __attribute__((stdcall))
#endif

namespace plumeta {

struct HostInterface;

// The host's table of operations, in the host's order. Each takes the
// interface object itself first.
struct HostOperations {
    uint32_t(PLUMETA_HOSTCALL* DefaultTarget)(HostInterface* self);
    int32_t(PLUMETA_HOSTCALL* ReportUnhandled)(HostInterface* self, int32_t code);
    int32_t(PLUMETA_HOSTCALL* Send)(HostInterface* self, MessageRecord* message);
    int32_t(PLUMETA_HOSTCALL* SendTo)(HostInterface* self, uint32_t plugin, MessageRecord* message);
    int32_t(PLUMETA_HOSTCALL* GetCell)(HostInterface* self, uint32_t table, uint32_t row,
                                       uint32_t column, CellValue* cell);
};
static_assert(sizeof(HostOperations) == 5 * 4);

// The object the host hands over with message 20001; owned by the host.
struct HostInterface {
    const HostOperations* operations;
};

// The exported entry point's type, for whoever loads the module.
using MessageProc = int32_t(PLUMETA_HOSTCALL*)(MessageRecord* message);

// Raised when a status-change message is shorter than its 34-byte view. Plain
// values: the entry point turns them into an answer of 0.
struct HostException {
    uint32_t code;
};
struct HostMessageException : HostException {
    const void* record;
};

constexpr uint32_t kSettingsTable = 0;
constexpr uint32_t kContactsTable = 1;
constexpr uint32_t kValueInteger = 0;
constexpr uint32_t kValueText = 1;
constexpr uint32_t kAnyType = 0xFFFFFFFF;
constexpr uint32_t kTextSizeUnlimited = 0xFFFFFFFF;

// Stores the host's interface for the life of the module; a later call
// replaces it. Answers 1.
int32_t SetHostInterface(HostInterface* host);
// True once the host has handed over its interface. Without it every wrapper
// below makes no call and answers 0 (text reads answer the caller's buffer).
bool HostLinked();
void ReportUnhandled(int32_t code);

// Cell reads. The text reads answer the address the host left in the cell:
// with a null buffer the host's own copy, valid until the message returns;
// with a buffer of bufferSize bytes, that buffer. May answer null.
int32_t GetSettingInt(uint32_t column);
const char* GetSettingText(uint32_t column, char* buffer, uint32_t bufferSize);
int32_t GetContactInt(uint32_t contact, uint32_t column);
const char* GetContactText(uint32_t contact, uint32_t column, char* buffer, uint32_t bufferSize);

// Message sends; each answers what the receiver answered. Records and texts
// passed by address need to live only until the call returns.
int32_t SendToNet(uint32_t id, uint32_t net, uint32_t type, HostWord p1, HostWord p2);
int32_t SendToHost(uint32_t id, HostWord p1, HostWord p2);
// A target of 0 means the host's default target.
int32_t SendToPlugin(uint32_t id, uint32_t target, HostWord p1, HostWord p2);
int32_t RegisterColumn(uint8_t table, uint32_t column, uint32_t valueType, HostWord defaultValue,
                       uint32_t extra);
int32_t AddOptionItem(uint32_t parent, uint32_t id, uint32_t kind, const char* text, uint32_t param,
                      uint16_t w1, uint16_t w2, uint32_t param2, uint32_t param3);
int32_t AddOptionItemEx(uint32_t parent, uint32_t id, uint32_t kind, const char* text,
                        uint32_t param, uint16_t x1, uint16_t x2, uint16_t w1, uint16_t w2,
                        uint32_t param2, uint32_t param3);
// AddOptionItem with 0x10 set in kind: how a page is sent.
int32_t AddOptionGroup(uint32_t parent, uint32_t id, uint32_t kind, const char* text,
                       uint32_t param, uint16_t w1, uint16_t w2, uint32_t param2, uint32_t param3);

void InitOptionItem(OptionItem& item, uint32_t parent, uint32_t id, uint32_t kind,
                    const char* text, uint32_t param, uint16_t w1, uint16_t w2, uint32_t param2,
                    uint32_t param3);
void InitHistoryEntry(HistoryEntry& entry);

// Copies the first 34 bytes of an incoming 24011/24012 message into our own
// record. Throws HostMessageException (code 0) when its size is below 34;
// nothing beyond the size field and id is read then.
StatusChangeRecord TakeStatusChangeView(const MessageRecord* incoming);

// A text the host gave us, or "" for a null address.
inline const char* TextOrEmpty(const char* text) { return text ? text : ""; }

}  // namespace plumeta
