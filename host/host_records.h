// Records exchanged with the host. The host reads and writes them in place at
// the address we pass, so each one is byte-packed, little-endian, and its size
// and every field offset are pinned below. The module is 32-bit on every
// target: a text field is a 4-byte pointer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plumeta {

static_assert(sizeof(void*) == 4, "the host speaks 32-bit records");

// A 32-bit message parameter: an integer or an address.
using HostWord = uint32_t;

inline HostWord ToWord(const void* address) {
    return static_cast<HostWord>(reinterpret_cast<uintptr_t>(address));
}
template <typename T>
inline T* FromWord(HostWord word) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(word));
}

// Message ids: those the host sends the module, and those the module sends
// the host or, through it, other plug-ins.
enum MessageId : uint32_t {
    kMsgDefaultLogName = 2,  // answered with the address of a text
    kMsgRegisterColumn = 1102,
    kMsgAddOptionItem = 10101,
    kMsgRegisterIcon = 10109,
    kMsgShowWarning = 10201,
    kMsgAddHistoryEntry = 13004,
    kMsgHostInterface = 20001,
    kMsgStarted = 20002,
    kMsg20020 = 20020,
    kMsgColumnsWanted = 21001,
    kMsgOptionPagesWanted = 22000,
    kMsgIconWanted = 22100,
    kMsg22101 = 22101,
    kMsgValidateText = 22200,
    kMsgContactStatus = 24011,
    kMsgOwnStatus = 24012,
    kMsgNetNumber = 30010,  // a plug-in answers its network number
    kMsgMayRecord = 33006,
    kMsgSpeak = 78700,
};

#pragma pack(push, 1)

// The 22-byte header every record begins with.
//   0 u16 size   whole record, in bytes
//   2 u32 id     message id
//   6 u32 aux1   0 in what we send; never read
//  10 u32 net    receiver's network: 0 = the host itself
//  14 u32 type   second selector of the receiver; 0xFFFFFFFF = any
//  18 u32 aux2   0 in what we send; never read
struct RecordHeader {
    uint16_t size;
    uint32_t id;
    uint32_t aux1;
    uint32_t net;
    uint32_t type;
    uint32_t aux2;
};
constexpr std::size_t kHeaderSize = 2 + 4 + 4 + 4 + 4 + 4;
static_assert(sizeof(RecordHeader) == kHeaderSize);
static_assert(offsetof(RecordHeader, size) == 0);
static_assert(offsetof(RecordHeader, id) == 2);
static_assert(offsetof(RecordHeader, aux1) == 6);
static_assert(offsetof(RecordHeader, net) == 10);
static_assert(offsetof(RecordHeader, type) == 14);
static_assert(offsetof(RecordHeader, aux2) == 18);

// A message in either direction.
//   0 header (22)
//  22 u32 p1   first parameter, integer or address
//  26 u32 p2   second parameter
struct MessageRecord {
    RecordHeader header;
    HostWord p1;
    HostWord p2;
};
constexpr std::size_t kMessageRecordSize = kHeaderSize + 4 + 4;
static_assert(sizeof(MessageRecord) == kMessageRecordSize);
static_assert(offsetof(MessageRecord, p1) == 22);
static_assert(offsetof(MessageRecord, p2) == 26);

// Our own copy of a status-change message (24011, 24012).
//   0 header (22)
//  22 u32  subject      contact id; for an own change a plug-in id and a row
//  26 u32  status       new presence code
//  30 text description  may be null
struct StatusChangeRecord {
    RecordHeader header;
    uint32_t subject;
    uint32_t status;
    const char* description;
};
constexpr std::size_t kStatusChangeRecordSize = kHeaderSize + 4 + 4 + 4;
static_assert(sizeof(StatusChangeRecord) == kStatusChangeRecordSize);
static_assert(offsetof(StatusChangeRecord, subject) == 22);
static_assert(offsetof(StatusChangeRecord, status) == 26);
static_assert(offsetof(StatusChangeRecord, description) == 30);

// Registers one column (message 1102).
//   0 header (22)   size 39, id 1102, the rest 0
//  22 u8  table         0 settings, 1 contacts
//  23 u32 column
//  27 u32 valueType     0 integer, 1 text
//  31 u32 defaultValue  the integer, or the address of the text
//  35 u32 extra         always 0
struct ColumnRecord {
    RecordHeader header;
    uint8_t table;
    uint32_t column;
    uint32_t valueType;
    HostWord defaultValue;
    uint32_t extra;
};
constexpr std::size_t kColumnRecordSize = kHeaderSize + 1 + 4 + 4 + 4 + 4;
static_assert(sizeof(ColumnRecord) == kColumnRecordSize);
static_assert(offsetof(ColumnRecord, table) == 22);
static_assert(offsetof(ColumnRecord, column) == 23);
static_assert(offsetof(ColumnRecord, valueType) == 27);
static_assert(offsetof(ColumnRecord, defaultValue) == 31);
static_assert(offsetof(ColumnRecord, extra) == 35);

// One element of an option page (message 10101, address in p1). The short
// form is the first 74 bytes; the long form adds x1 and x2. `size` tells the
// host which one it got. Fields named fixedNN always hold the value given in
// InitOptionItem; unsetNN carry nothing the host relies on (we send 0).
//   0 u16 size        74 or 78
//   2 u32 id          page id, bound-control marker or 0
//   6 u32 parent
//  10 u32 fixed10     0xFFFFFFFE
//  14 u32 fixed14     0xFFFFFFFF
//  18 u32 unset18, 22 unset22, 26 unset26
//  30 u32 fixed30     863
//  34 u32 kind
//  38 u32 fixed38     0xFFFFFFFF
//  42 u32 unset42
//  46 u32 fixed46     0
//  50 text text       caption 0x01 hint; may be null
//  54 u32 unset54
//  58 u32 param3
//  62 u32 param       column id, icon id or group value
//  66 u32 param2
//  70 u16 w1, 72 u16 w2
//  74 u16 x1, 76 u16 x2   long form only
struct OptionItem {
    uint16_t size;
    uint32_t id;
    uint32_t parent;
    uint32_t fixed10;
    uint32_t fixed14;
    uint32_t unset18;
    uint32_t unset22;
    uint32_t unset26;
    uint32_t fixed30;
    uint32_t kind;
    uint32_t fixed38;
    uint32_t unset42;
    uint32_t fixed46;
    const char* text;
    uint32_t unset54;
    uint32_t param3;
    uint32_t param;
    uint32_t param2;
    uint16_t w1;
    uint16_t w2;
    uint16_t x1;
    uint16_t x2;
};
constexpr std::size_t kOptionItemShortSize = 74;
constexpr std::size_t kOptionItemLongSize = kOptionItemShortSize + 2 + 2;
static_assert(sizeof(OptionItem) == kOptionItemLongSize);
static_assert(offsetof(OptionItem, id) == 2);
static_assert(offsetof(OptionItem, parent) == 6);
static_assert(offsetof(OptionItem, fixed10) == 10);
static_assert(offsetof(OptionItem, fixed14) == 14);
static_assert(offsetof(OptionItem, unset18) == 18);
static_assert(offsetof(OptionItem, unset26) == 26);
static_assert(offsetof(OptionItem, fixed30) == 30);
static_assert(offsetof(OptionItem, kind) == 34);
static_assert(offsetof(OptionItem, fixed38) == 38);
static_assert(offsetof(OptionItem, unset42) == 42);
static_assert(offsetof(OptionItem, fixed46) == 46);
static_assert(offsetof(OptionItem, text) == 50);
static_assert(offsetof(OptionItem, unset54) == 54);
static_assert(offsetof(OptionItem, param3) == 58);
static_assert(offsetof(OptionItem, param) == 62);
static_assert(offsetof(OptionItem, param2) == 66);
static_assert(offsetof(OptionItem, w1) == 70);
static_assert(offsetof(OptionItem, w2) == 72);
static_assert(offsetof(OptionItem, x1) == 74);
static_assert(offsetof(OptionItem, x2) == 76);

// A history entry, filled after InitHistoryEntry set its defaults.
//   0 u16  size      58
//   2 u32  field2    0
//   6 u32  net       0
//  10 u32  type      0
//  14 text text14    ""     18 text text18 ""
//  22 text body      ""
//  26 text ext       ""     ext string of 0x1A name=value entries
//  30 u32  flags     0
//  34 u32  field34   0      38 u32 field38 0
//  42 u32  field42   0xFFFFFFFE
//  46 u32  field46   0
//  50 i64  time      0      seconds since 1970-01-01 UTC
struct HistoryEntry {
    uint16_t size;
    uint32_t field2;
    uint32_t net;
    uint32_t type;
    const char* text14;
    const char* text18;
    const char* body;
    const char* ext;
    uint32_t flags;
    uint32_t field34;
    uint32_t field38;
    uint32_t field42;
    uint32_t field46;
    int64_t time;
};
constexpr std::size_t kHistoryEntrySize = 2 + 4 * 3 + 4 * 4 + 4 * 5 + 8;
static_assert(sizeof(HistoryEntry) == kHistoryEntrySize && kHistoryEntrySize == 58);
static_assert(offsetof(HistoryEntry, field2) == 2);
static_assert(offsetof(HistoryEntry, net) == 6);
static_assert(offsetof(HistoryEntry, type) == 10);
static_assert(offsetof(HistoryEntry, text14) == 14);
static_assert(offsetof(HistoryEntry, text18) == 18);
static_assert(offsetof(HistoryEntry, body) == 22);
static_assert(offsetof(HistoryEntry, ext) == 26);
static_assert(offsetof(HistoryEntry, flags) == 30);
static_assert(offsetof(HistoryEntry, field34) == 34);
static_assert(offsetof(HistoryEntry, field38) == 38);
static_assert(offsetof(HistoryEntry, field42) == 42);
static_assert(offsetof(HistoryEntry, field46) == 46);
static_assert(offsetof(HistoryEntry, time) == 50);

// Asks the host to store a history entry (message 13004, address in p1).
//   0 u16  size         22
//   2 ptr  entry        the HistoryEntry
//   6 text folder       history folder
//  10 u32  contact      contact id; 0 for own changes
//  14 text historyName  name shown for own changes; null for contacts
//  18 u32  reserved     0
struct HistoryAddRequest {
    uint16_t size;
    HistoryEntry* entry;
    const char* folder;
    uint32_t contact;
    const char* historyName;
    uint32_t reserved;
};
constexpr std::size_t kHistoryAddRequestSize = 2 + 4 * 5;
static_assert(sizeof(HistoryAddRequest) == kHistoryAddRequestSize);
static_assert(offsetof(HistoryAddRequest, entry) == 2);
static_assert(offsetof(HistoryAddRequest, folder) == 6);
static_assert(offsetof(HistoryAddRequest, contact) == 10);
static_assert(offsetof(HistoryAddRequest, historyName) == 14);
static_assert(offsetof(HistoryAddRequest, reserved) == 18);

// In and out record of a cell read.
//   0 u16 valueType   0 integer, 1 text
//   2 u32 value       in: 0, or the caller's text buffer (may be null);
//                     out: the integer, or the address of the text
//   6 u32 bufferSize  size of the caller's buffer
struct CellValue {
    uint16_t valueType;
    HostWord value;
    uint32_t bufferSize;
};
constexpr std::size_t kCellValueSize = 2 + 4 + 4;
static_assert(sizeof(CellValue) == kCellValueSize);
static_assert(offsetof(CellValue, value) == 2);
static_assert(offsetof(CellValue, bufferSize) == 6);

// The host's validation notice (message 22200, address in p1).
//   0 u16 size
//   2 u32 elementId   0x11 << 24 | column for a settings-bound control
//  14 u32 code        100: the host is about to take the control's new text
//  22 text text       the new text; present when size >= 30; we may replace it
struct ValidationNotice {
    uint16_t size;
    uint32_t elementId;
    uint32_t field6;
    uint32_t field10;
    uint32_t code;
    uint32_t field18;
    const char* text;
    uint32_t field26;
};
constexpr std::size_t kValidationNoticeTextEnd = 30;  // size that carries `text`
static_assert(sizeof(ValidationNotice) == kValidationNoticeTextEnd);
static_assert(offsetof(ValidationNotice, elementId) == 2);
static_assert(offsetof(ValidationNotice, code) == 14);
static_assert(offsetof(ValidationNotice, text) == 22);

#pragma pack(pop)

}  // namespace plumeta
