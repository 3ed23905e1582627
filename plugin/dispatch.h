// The dispatch of host messages: answers the start-up and identity questions,
// and hands everything else to the module that handles it.
#pragma once

#include <cstdint>

#include "host/host_records.h"
#include "recorder/clock.h"

namespace plumeta {

// Handles one message and answers the host. Reads the id of every record,
// p1/p2 only when its size is at least 30. Throws HostMessageException for a
// status-change message shorter than 34 bytes; the exported entry point
// catches it. Each half of a status change reads `clock` itself.
int32_t HandleMessage(const MessageRecord* message, Clock clock = &SystemClock);

}  // namespace plumeta
