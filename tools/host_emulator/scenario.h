// Scenario files: plain UTF-8 text (a byte-order mark at the top is skipped),
// one directive a line, '#' starts a comment. Texts are in double quotes with
// \n \r \t \" \\ and \xHH escapes; they are held here converted to
// Windows-1250, and \xHH is that Windows-1250 byte itself (01 to FF: a text
// cannot hold a NUL). Numbers are decimal and must fit their field.
//
//   setting COLUMN VALUE           a settings cell (name or number); VALUE
//                                  is a 32-bit integer or a "text"
//   contact ROW COLUMN VALUE       a contact's cell
//   plugin ID net NUMBER           plug-in ID answers NUMBER to 30010
//   default-target ID              the host's default target plug-in
//   speech on|off                  the speech plug-in on net 78 runs or not
//   may-record NUMBER              the answer to 33006 (default 1)
//   default-log-name "TEXT"        the answer to request 2 (default "statusy")
//   status ROW CODE ["TEXT"]       a contact's change (24011); no text: none
//   own ID CODE ["TEXT"]           an own change (24012)
//   edit COLUMN "TEXT"             the user types TEXT into a text field (22200)
//   pages                          the host asks for the option pages (22000)
//   message ID                     any other message
//   repeat COUNT DIRECTIVE         DIRECTIVE COUNT times over; {n} in its
//                                  texts counts 1, 2, ... COUNT
//   hold "FILE" read|lock          another program holds FILE: opens it for
//                                  reading, sharing only reading (read), or
//                                  takes its append lock (lock); Linux has no
//                                  share modes, so there both take the lock.
//                                  Held until free, or to the process's end
//   free "FILE"                    lets go of FILE
//   show "FILE"                    prints FILE's lines as they are now
//   reload                         the host frees the module, loads it again
//                                  and starts it up again
//   background COUNT status ROW CODE ["TEXT"]
//                                  a second thread of the host sends the
//                                  change COUNT times ({n} counts) while the
//                                  scenario goes on, with no transcript. The
//                                  host ends with it still logging (Windows:
//                                  the process's end stops it wherever it
//                                  is); on Linux the host waits for it first
//
// Every contact has the cells the module registered, at their defaults,
// until the scenario sets them.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "codepage/codepage.h"

namespace emulator {

struct Directive {
    enum class Kind {
        Setting, Contact, Plugin, DefaultTarget, Speech, MayRecord, DefaultLogName,
        Status, Own, Edit, Pages, Message, Hold, Free, Show, Reload,
    };
    Kind kind = Kind::Pages;
    uint32_t row = 0;     // contact row, plug-in id or subject
    uint32_t column = 0;  // column, status code or message id
    int32_t number = 0;   // an integer value, on/off, or lock/read
    std::optional<std::string> text;  // a text value or description (Windows-1250)
    uint32_t repeat = 1;  // how many times it runs
    bool background = false;  // on a thread of its own

    // Whether it changes what the host answers, rather than sending a message.
    bool Configures() const { return kind <= Kind::DefaultLogName; }
};

// The placeholder a repeated directive's texts count with.
constexpr char kRepeatCounter[] = "{n}";

// Reads a scenario one directive at a time, so that a long one takes no
// more memory than a short one.
class ScenarioReader {
public:
    ScenarioReader(const std::string& path, const plumeta::Cp1250Converter& codepage);
    // The next directive; false at the end of the file or at the first
    // error, which error() then tells as "FILE:LINE: what is wrong".
    bool Next(Directive& directive);
    const std::string& error() const { return error_; }

private:
    std::string path_;
    const plumeta::Cp1250Converter& codepage_;
    std::ifstream file_;
    int lineNumber_ = 0;
    std::string error_;
};

// Reads the whole file once, before anything runs: "" when every line is
// right, or the first error.
std::string CheckScenario(const std::string& path, const plumeta::Cp1250Converter& codepage);

// Column number by name (ours and the host's contact cells), or by digits.
std::optional<uint32_t> ColumnByName(const std::string& word);
// Name of a known column, or its number.
std::string ColumnName(uint32_t column);

}  // namespace emulator
