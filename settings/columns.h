// The plug-in's identifiers and its settings columns, defined once: the
// registration, the validation, the readers and the host emulator all take
// them from here.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace plumeta {

inline constexpr char kPluginName[] = "Plumeta";
constexpr uint32_t kOwnNetwork = 267;
constexpr uint32_t kSpeechNetwork = 78;
constexpr uint32_t kIconId = 267100;
constexpr uint32_t kIconResource = 101;

// Columns of the host's tables that we read or register.
enum Column : uint32_t {
    // contacts table, filled by the host and the speech plug-in
    ContactUid = 0,
    ContactNet = 1,
    ContactDisplay = 8,
    ContactGender = 20,
    ContactSpokenName = 78203,
    // ours
    ContactRecordChanges = 267600,
    SaveToHistory = 267602,
    SaveToFile = 267603,
    LogFileName = 267604,
    HistoryDisplayName = 267605,
    ReadAloud = 267607,
    ContactReadAloud = 267608,
};

enum class DefaultSource : uint8_t {
    Integer,       // defaultInteger
    Text,          // defaultText, a constant of the module
    HostRequest2,  // the host's answer to request 2, passed on unchanged
};

struct ColumnSpec {
    Column id;
    const char* name;
    uint8_t table;  // kSettingsTable or kContactsTable
    uint32_t valueType;
    DefaultSource source;
    int32_t defaultInteger;
    const char* defaultText;
    // Text columns that may not be emptied: what is put back, and the
    // warning shown. The two warnings differ in one letter; each keeps its own.
    const char* resetText;
    const char* emptyWarning;
};

inline constexpr char kOwnHistoryName[] = "!Twoje opisy!";

// In registration order.
inline constexpr ColumnSpec kColumns[] = {
    {ContactRecordChanges, "ContactRecordChanges", 1, 0, DefaultSource::Integer, 1, nullptr, nullptr, nullptr},
    {SaveToHistory, "SaveToHistory", 0, 0, DefaultSource::Integer, 1, nullptr, nullptr, nullptr},
    {SaveToFile, "SaveToFile", 0, 0, DefaultSource::Integer, 0, nullptr, nullptr, nullptr},
    {ReadAloud, "ReadAloud", 0, 0, DefaultSource::Integer, 0, nullptr, nullptr, nullptr},
    {ContactReadAloud, "ContactReadAloud", 1, 0, DefaultSource::Integer, 1, nullptr, nullptr, nullptr},
    {LogFileName, "LogFileName", 0, 1, DefaultSource::HostRequest2, 0, nullptr, "statusy",
     "Ta komórka nie może być pusta !!"},
    {HistoryDisplayName, "HistoryDisplayName", 0, 1, DefaultSource::Text, 0, kOwnHistoryName,
     kOwnHistoryName, "Ta komórka nie moźe być pusta !!"},
};

// The host's contact cells, by name (for tools and transcripts).
struct ContactCellName {
    Column id;
    const char* name;
};
inline constexpr ContactCellName kContactCells[] = {
    {ContactUid, "ContactUid"},         {ContactNet, "ContactNet"},
    {ContactDisplay, "ContactDisplay"}, {ContactGender, "ContactGender"},
    {ContactSpokenName, "ContactSpokenName"},
};

// Top eight bits of the element id of a control bound to a column.
constexpr uint32_t kSettingsControl = 0x11000000;
constexpr uint32_t kContactControl = 0x13000000;

// 21001: registers the columns in kColumns order; answers 1.
int32_t RegisterColumns();
// 22100: registers the icon group; answers 1.
int32_t RegisterIcon();
// 22200: puts the reset text back into a notice that empties LogFileName or
// HistoryDisplayName, then warns. `notice` is the host's, may be null.
void ValidateTextSetting(ValidationNotice* notice);

}  // namespace plumeta
