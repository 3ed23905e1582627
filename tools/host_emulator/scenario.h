// Scenario files: plain UTF-8 text, one directive a line, '#' starts a
// comment. Texts are in double quotes with \n \r \t \" \\ and \xHH escapes,
// and are held here already converted to Windows-1250.
//
//   setting COLUMN VALUE           a settings cell (name or number); VALUE
//                                  is an integer or a "text"
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
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codepage/codepage.h"

namespace emulator {

struct Directive {
    enum class Kind {
        Setting, Contact, Plugin, DefaultTarget, Speech, MayRecord, DefaultLogName,
        Status, Own, Edit, Pages, Message,
    };
    explicit Directive(Kind what) : kind(what) {}
    Kind kind;
    uint32_t row = 0;     // contact row, plug-in id or subject
    uint32_t column = 0;  // column, status code or message id
    int64_t number = 0;   // an integer value, or on/off
    std::optional<std::string> text;  // a text value or description (Windows-1250)

    // Whether it changes what the host answers, rather than sending a message.
    bool Configures() const { return kind <= Kind::DefaultLogName; }
};

struct ScenarioError {
    std::string message;  // "FILE:LINE: what is wrong"
};

// Reads and checks the whole file before anything runs. On failure, answers
// the first error.
bool ReadScenario(const std::string& path, const plumeta::Cp1250Converter& codepage,
                  std::vector<Directive>& out, ScenarioError& error);

// Column number by name (ours and the host's contact cells), or by digits.
std::optional<uint32_t> ColumnByName(const std::string& word);
// Name of a known column, or its number.
std::string ColumnName(uint32_t column);

}  // namespace emulator
