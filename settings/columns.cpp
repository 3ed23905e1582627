#include "settings/columns.h"

#include "host/host_link.h"

namespace plumeta {
namespace {

constexpr uint32_t kNoticeTakesText = 100;
constexpr uint32_t kMarkerMask = 0xFF000000;
constexpr uint32_t kColumnMask = 0x00FFFFFF;

}  // namespace

int32_t RegisterColumns() {
    for (const ColumnSpec& column : kColumns) {
        HostWord value = 0;
        switch (column.source) {
            case DefaultSource::Integer:
                value = static_cast<HostWord>(column.defaultInteger);
                break;
            case DefaultSource::Text:
                value = ToWord(column.defaultText);
                break;
            case DefaultSource::HostRequest2:
                // The host's answer is an address of its own; we neither read
                // nor copy it.
                value = static_cast<HostWord>(
                    SendToNet(kMsgDefaultLogName, 0, kAnyType, 0, 0));
                break;
        }
        RegisterColumn(column.table, column.id, column.valueType, value, 0);
    }
    return 1;
}

int32_t RegisterIcon() {
    SendToHost(kMsgRegisterIcon, kIconId, kIconResource);
    return 1;
}

void ValidateTextSetting(ValidationNotice* notice) {
    if (!notice || notice->size < offsetof(ValidationNotice, text)) return;
    if ((notice->elementId & kMarkerMask) != kSettingsControl) return;
    const uint32_t columnId = notice->elementId & kColumnMask;
    const ColumnSpec* column = nullptr;
    for (const ColumnSpec& candidate : kColumns) {
        if (candidate.id == columnId && candidate.table == kSettingsTable && candidate.resetText) {
            column = &candidate;
        }
    }
    if (!column || notice->code != kNoticeTakesText) return;
    // A shorter notice carries no text pointer: nothing to check or replace.
    if (notice->size < kValidationNoticeTextEnd) return;
    if (notice->text && notice->text[0] != '\0') return;
    // The host takes the text this pointer names once we have returned; the
    // reset texts live as long as the module.
    notice->text = column->resetText;
    SendToHost(kMsgShowWarning, ToWord(column->emptyWarning), 0);
}

}  // namespace plumeta
