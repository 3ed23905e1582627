#include "recorder/status_log.h"

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
constexpr char kLineBreak[] = " / ";
constexpr char kLineEnd[] = "\r\n";
constexpr char kFeminineMark = '1';
// Room for a usual line, so that it is built without growing.
constexpr std::size_t kUsualLineSize = 256;

bool IsLineBreak(unsigned char byte) { return byte == '\r' || byte == '\n'; }
// Control bytes that a line leaves out: they would end the file for
// text-mode readers (0x1A) or reach a terminal as escape sequences. The NUL
// ends the text and is none of them.
bool IsDropped(unsigned char byte) {
    return (byte != 0 && byte < 0x20 && byte != '\t' && !IsLineBreak(byte)) || byte == 0x7F;
}

// Copies a text from outside the module (a contact or the network set it)
// into the line, so that it can neither end the line nor hide later ones.
void AppendOutsideText(std::string& line, const char* text) {
    if (!text) return;
    const char* p = text;
    while (*p) {
        const char* run = p;
        while (*p && !IsLineBreak(*p) && !IsDropped(*p)) ++p;
        line.append(run, p);
        if (!*p) break;
        if (IsDropped(*p)) {
            ++p;
            continue;
        }
        // A run of breaks, with any dropped bytes among them, is one break.
        while (IsLineBreak(*p) || IsDropped(*p)) ++p;
        line += kLineBreak;
    }
}

void AppendTwoDigits(std::string& line, int value) {
    line += static_cast<char>('0' + value / 10 % 10);
    line += static_cast<char>('0' + value % 10);
}

const char* ContactText(uint32_t row, uint32_t column) {
    return GetContactText(row, column, nullptr, kTextSizeUnlimited);
}

// The gender cell is read only when the status has words at all.
char GenderMarkFor(uint32_t row, uint32_t status) {
    return HasStatusWord(status) ? TextOrEmpty(ContactText(row, ContactGender))[0] : '\0';
}

std::string LogFilePath() {
    std::string path = TextOrEmpty(GetSettingText(LogFileName, nullptr, 0));
    path += kLogExtension;
    return path;
}

void AppendDescription(std::string& line, const char* description) {
    if (!description) return;
    line += " [";
    AppendOutsideText(line, description);
    line += ']';
}

}  // namespace

void AppendStamp(std::string& line, const LocalTime& local) {
    AppendTwoDigits(line, local.day);
    line += '.';
    AppendTwoDigits(line, local.month);
    line += ' ';
    AppendTwoDigits(line, local.hour);
    line += ':';
    AppendTwoDigits(line, local.minute);
    line += '.';
    AppendTwoDigits(line, local.second);
    line += ' ';
}

void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             Clock clock) {
    if (GetSettingInt(SaveToFile) != 1) return;
    if (GetContactInt(subject, ContactRecordChanges) == 0) return;
    const std::string path = LogFilePath();

    std::string line;
    line.reserve(kUsualLineSize);
    AppendStamp(line, ToLocalTime(clock()));
    AppendOutsideText(line, ContactText(subject, ContactDisplay));
    line += '(';
    AppendOutsideText(line, ContactText(subject, ContactUid));
    const char* network = NetworkNameOfText(ContactText(subject, ContactNet));
    if (*network) {
        line += '@';
        line += network;
        line += ')';
    }
    const char mark = GenderMarkFor(subject, status);
    if (const char* word = LogStatusWord(status, mark); *word) {
        line += mark == kFeminineMark ? kSheVerb : kHeVerb;
        line += word;
    }
    AppendDescription(line, description);
    line += kLineEnd;
    AppendToFile(path, line);
}

void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         Clock clock) {
    if (GetSettingInt(SaveToFile) != 1) return;
    const std::string path = LogFilePath();

    std::string line;
    line.reserve(kUsualLineSize);
    line += kOwnOpening;
    AppendStamp(line, ToLocalTime(clock()));
    line += kOnNetworkPhrase;
    line += NetworkNameOfText(ContactText(subject, ContactNet));
    line += kOnStatusPhrase;
    line += LogStatusWord(status, GenderMarkFor(subject, status));
    AppendDescription(line, description);
    line += kLineEnd;
    AppendToFile(path, line);
}

}  // namespace plumeta
