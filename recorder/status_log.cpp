#include "recorder/status_log.h"

#include "host/host_link.h"
#include "recorder/log_backlog.h"
#include "recorder/status_words.h"
#include "recorder/text_builder.h"
#include "settings/columns.h"

namespace plumeta {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kFeminineMark = '1';
// Room for a usual line and file name on the stack; longer ones grow.
using Line = TextBuilder<512>;
using Path = TextBuilder<272>;

bool IsLineBreak(unsigned char byte) { return byte == '\r' || byte == '\n'; }
// Control bytes that a line leaves out: they would end the file for
// text-mode readers (0x1A) or reach a terminal as escape sequences. The NUL
// ends the text and is none of them.
bool IsDropped(unsigned char byte) {
    return (byte != 0 && byte < 0x20 && byte != '\t' && !IsLineBreak(byte)) || byte == 0x7F;
}

// Copies a text from outside the module (a contact or the network set it)
// into the line, so that it can neither end the line nor hide later ones.
void AppendOutsideText(Line& line, const char* text) {
    if (!text) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (;;) {
        const unsigned char* run = p;
        while (*p >= 0x20 && *p != 0x7F) ++p;
        line.Append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
        if (*p == '\0') return;
        if (*p == '\t') {
            line.Push('\t');
            ++p;
        } else if (IsLineBreak(*p)) {
            // A run of breaks, with any dropped bytes among them, is one break.
            while (IsLineBreak(*p) || IsDropped(*p)) ++p;
            line.Append(kLogLineBreak);
        } else {
            ++p;  // dropped
        }
    }
}

char* WriteTwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

const char* ContactText(uint32_t row, uint32_t column) {
    return GetContactText(row, column, nullptr, kTextSizeUnlimited);
}

// The gender cell is read only when the status has words at all.
char GenderMarkFor(uint32_t row, uint32_t status) {
    return HasStatusWord(status) ? TextOrEmpty(ContactText(row, ContactGender))[0] : '\0';
}

// LogFileName + ".txt", NUL-terminated.
void BuildPath(Path& path) {
    path.Append(TextOrEmpty(GetSettingText(LogFileName, nullptr, 0)));
    path.Append(kLogExtension, sizeof kLogExtension);  // with its NUL
}

void AppendStamp(Line& line, Clock clock) { LineStamp(clock(), line.Extend(kStampSize)); }

void AppendDescription(Line& line, const char* description) {
    if (!description) return;
    line.Append(kLogDescriptionOpen);
    AppendOutsideText(line, description);
    line.Push(kLogDescriptionClose);
}

}  // namespace

void WriteStamp(const LocalTime& local, char* out) {
    out = WriteTwoDigits(out, local.day);
    *out++ = '.';
    out = WriteTwoDigits(out, local.month);
    *out++ = ' ';
    out = WriteTwoDigits(out, local.hour);
    *out++ = ':';
    out = WriteTwoDigits(out, local.minute);
    *out++ = '.';
    out = WriteTwoDigits(out, local.second);
    *out = ' ';
}

void AppendContactStatusLine(uint32_t subject, uint32_t status, const char* description,
                             Clock clock) {
    if (GetSettingInt(SaveToFile) != 1) return;
    if (GetContactInt(subject, ContactRecordChanges) == 0) return;
    Path path;
    BuildPath(path);

    Line line;
    AppendStamp(line, clock);
    AppendOutsideText(line, ContactText(subject, ContactDisplay));
    line.Push('(');
    AppendOutsideText(line, ContactText(subject, ContactUid));
    const char* network = NetworkNameOfText(ContactText(subject, ContactNet));
    if (*network) {
        line.Push('@');
        line.Append(network);
        line.Push(')');
    }
    const char mark = GenderMarkFor(subject, status);
    if (const char* word = LogStatusWord(status, mark); *word) {
        line.Append(mark == kFeminineMark ? kLogSheVerb : kLogHeVerb);
        line.Append(word);
    }
    AppendDescription(line, description);
    line.Append(kLineEnd);
    WriteLogLine(path.data(), line.view());
}

void AppendOwnStatusLine(uint32_t subject, uint32_t status, const char* description,
                         Clock clock) {
    if (GetSettingInt(SaveToFile) != 1) return;
    Path path;
    BuildPath(path);

    Line line;
    line.Append(kLogOwnOpening);
    AppendStamp(line, clock);
    line.Append(kLogOnNetwork);
    line.Append(NetworkNameOfText(ContactText(subject, ContactNet)));
    line.Append(kLogOnStatus);
    line.Append(LogStatusWord(status, GenderMarkFor(subject, status)));
    AppendDescription(line, description);
    line.Append(kLineEnd);
    WriteLogLine(path.data(), line.view());
}

}  // namespace plumeta
