#include "recorder/status_log.h"

#include <cstdio>

#include "host/host_link.h"
#include "recorder/append_file.h"
#include "recorder/status_words.h"
#include "settings/columns.h"

namespace plumeta {
namespace {

constexpr char kLogExtension[] = ".txt";
constexpr char kHeVerb[] = " zmienil status na ";
constexpr char kSheVerb[] = " zmienila status na ";
constexpr char kOwnOpening[] = "Zmianiles status ";
constexpr char kOnNetworkPhrase[] = "na sieci ";
constexpr char kOnStatusPhrase[] = " na ";
constexpr char kFeminineMark = '1';

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
#if defined(_WIN32)
    // The Windows runtime keeps this buffer per thread.
    if (const std::tm* converted = std::localtime(&moment)) local = *converted;
#else
    localtime_r(&moment, &local);
#endif
    return local;
}

std::string ContactText(uint32_t row, uint32_t column) {
    return TextOrEmpty(GetContactText(row, column, nullptr, kTextSizeUnlimited));
}

// The gender cell is read only when the status has words at all.
char GenderMarkFor(uint32_t row, uint32_t status) {
    return HasStatusWord(status) ? ContactText(row, ContactGender).c_str()[0] : '\0';
}

std::string DescriptionSuffix(const char* description) {
    return description ? " [" + std::string(description) + "]" : std::string();
}

// The line as a text-mode stream would store it: CR LF for every LF, the
// description's own included. Written with one append, so that two writers
// never interleave inside a line.
void WriteLine(const std::string& fileName, const std::string& line) {
    std::string bytes;
    bytes.reserve(line.size() + 8);
    for (char c : line) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    AppendToFile(fileName, bytes);
}

std::string LogFilePath() {
    return TextOrEmpty(GetSettingText(LogFileName, nullptr, 0)) + std::string(kLogExtension);
}

}  // namespace

std::string FormatStamp(const std::tm& local) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d.%02d %02d:%02d.%02d ", local.tm_mday,
                  local.tm_mon + 1, local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             std::time_t now) {
    if (GetSettingInt(SaveToFile) != 1) return;
    if (GetContactInt(subject, ContactRecordChanges) == 0) return;
    const std::string path = LogFilePath();

    std::string line = FormatStamp(LocalTime(now));
    line += ContactText(subject, ContactDisplay);
    line += "(";
    line += ContactText(subject, ContactUid);
    const std::string network = NetworkNameOfText(ContactText(subject, ContactNet).c_str());
    if (!network.empty()) line += "@" + network + ")";
    const char mark = GenderMarkFor(subject, status);
    const std::string word = LogStatusWord(status, mark);
    if (!word.empty()) line += (mark == kFeminineMark ? kSheVerb : kHeVerb) + word;
    line += DescriptionSuffix(description);
    line += "\n";
    WriteLine(path, line);
}

void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         std::time_t now) {
    if (GetSettingInt(SaveToFile) != 1) return;
    const std::string path = LogFilePath();

    std::string line = kOwnOpening;
    line += FormatStamp(LocalTime(now));
    line += kOnNetworkPhrase;
    line += NetworkNameOfText(ContactText(subject, ContactNet).c_str());
    line += kOnStatusPhrase;
    line += LogStatusWord(status, GenderMarkFor(subject, status));
    line += DescriptionSuffix(description);
    line += "\n";
    WriteLine(path, line);
}

}  // namespace plumeta
