// The status log file: one dated Polish line per status change, appended to
// LogFileName + ".txt" while SaveToFile is on.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace plumeta {

// Both read their switches and cells at the moment of the call. `now` is the
// moment of the change, written in local time. A file that cannot be opened
// loses the line and nothing else.
void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             std::time_t now);
void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         std::time_t now);

// "DD.MM hh:mm.ss ": 15 characters, the local hour.
std::string FormatStamp(const std::tm& local);

}  // namespace plumeta
