// The status log file: one dated Polish line per status change, appended to
// LogFileName + ".txt" while SaveToFile is on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recorder/clock.h"

namespace plumeta {

// Both read their switches and cells at the moment of the call, and `clock`
// once, for the stamp. Every change is exactly one line ending in CR LF: in
// the texts the line copies from outside (display name, identifier,
// description) each run of CR and LF is written as " / " and every other
// control byte but TAB is left out. A file that cannot be written loses the
// line and nothing else.
void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             Clock clock);
void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         Clock clock);

// Writes "DD.MM hh:mm.ss " into the kStampSize bytes at `out`: the local
// hour, no year, no NUL.
constexpr std::size_t kStampSize = 15;
void WriteStamp(const LocalTime& local, char* out);

}  // namespace plumeta
