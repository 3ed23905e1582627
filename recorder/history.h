// Status changes into the host's history (folder "opisy"), and a contact's
// change into a sentence for the speech plug-in.
#pragma once

#include <ctime>

#include "host/host_records.h"

namespace plumeta {

// 24011: one entry under the contact's display name, and, with both speech
// switches on, the spoken sentence. `now` stamps the entry. The entry, the
// request and every text live on this call's stack until the host returns.
void ContactChangeToHistory(const StatusChangeRecord& change, std::time_t now);
// 24012: one entry under the HistoryDisplayName, the text opened by the
// network prefix that the plug-in `change.subject` answers for. Never spoken.
void OwnChangeToHistory(const StatusChangeRecord& change, std::time_t now);

}  // namespace plumeta
