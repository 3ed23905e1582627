// The status log file: one dated Polish line per status change, appended to
// LogFileName + ".txt" while SaveToFile is on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "recorder/clock.h"

namespace plumeta {

// The fixed texts of a line, also for whoever reads the log back.
inline constexpr char kLogHeVerb[] = " zmienil status na ";
inline constexpr char kLogSheVerb[] = " zmienila status na ";
inline constexpr char kLogOwnOpening[] = "Zmianiles status ";
inline constexpr char kLogOnNetwork[] = "na sieci ";
inline constexpr char kLogOnStatus[] = " na ";
inline constexpr char kLogDescriptionOpen[] = " [";
inline constexpr char kLogDescriptionClose = ']';
inline constexpr char kLogLineBreak[] = " / ";  // what a line break in a text becomes
inline constexpr char kLogExtension[] = ".txt";

// Both read their switches and cells at the moment of the call, and `clock`
// once, for the stamp. Every change is exactly one line ending in CR LF: in
// the texts the line copies from outside (display name, identifier,
// description) each run of CR and LF is written as " / " and every other
// control byte but TAB is left out. A line the file cannot take now is kept
// and written later (log_backlog.h).
void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             Clock clock);
void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         Clock clock);

// Writes "DD.MM hh:mm.ss " into the kStampSize bytes at `out`: the local
// hour, no year, no NUL.
constexpr std::size_t kStampSize = 15;
void WriteStamp(const LocalTime& local, char* out);

}  // namespace plumeta
