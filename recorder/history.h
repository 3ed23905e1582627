// Status changes into the host's history (folder "opisy"), and a contact's
// change into a sentence for the speech plug-in.
#pragma once

#include "host/host_records.h"
#include "recorder/clock.h"

namespace plumeta {

// 24011: one entry under the contact's display name, and, with both speech
// switches on, the spoken sentence. `clock` is read once, before the texts
// are built, to stamp the entry. The entry, the request and every text live
// on this call's stack or heap until the host returns.
void ContactChangeToHistory(const StatusChangeRecord& change, Clock clock);
// 24012: one entry under the HistoryDisplayName, the text opened by the
// network prefix that the plug-in `change.subject` answers for. Never spoken.
void OwnChangeToHistory(const StatusChangeRecord& change, Clock clock);

}  // namespace plumeta
