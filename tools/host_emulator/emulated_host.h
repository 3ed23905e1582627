// The host around the module: its tables, the other plug-ins' answers, the
// five operations the module calls, and a transcript line for each call.
// What it keeps grows with the number of contacts and columns, not with the
// number of messages, so a burst of any length runs in flat memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "codepage/codepage.h"
#include "host/host_link.h"
#include "tools/host_emulator/pages_html.h"
#include "tools/host_emulator/scenario.h"

namespace emulator {

class EmulatedHost {
public:
    // Frees the module and loads it again: its new entry, or null.
    using Reloader = std::function<plumeta::MessageProc()>;
    // Without a transcript (`quiet`) only the summary is printed.
    EmulatedHost(plumeta::MessageProc module, Reloader reload, std::FILE* out, bool quiet);
    EmulatedHost(const EmulatedHost&) = delete;
    EmulatedHost& operator=(const EmulatedHost&) = delete;
    ~EmulatedHost();

    // Hands over the interface, asks who the module is, registers its columns
    // (applying their defaults), its icon and its option pages.
    void StartUp();
    // Runs a directive as many times as it repeats.
    void Run(const Directive& directive);
    // History entries, sentences, warnings, and the log files in `logFolder`
    // read back.
    void PrintSummary(const std::string& logFolder);
    // The option pages of the latest 22000, with the cell values of that
    // moment, as a static HTML page; false when not written.
    bool WritePagesHtml(const std::string& path) const;
    // The host's end with exit code `code`: answers it, or, where a second
    // thread still logs on Windows, ends the process there and then.
    int EndWith(int code);
    // The background directive's changes, on the calling thread.
    void RunBackground();
    // What the module is handling now, for the crash report; always a whole
    // NUL-terminated text.
    const char* current() const { return current_; }

private:
    struct Link {
        plumeta::HostInterface iface;
        EmulatedHost* owner;
    };
    // The first entries of a list the summary shows, and how many there were.
    struct Listing {
        uint64_t count = 0;
        std::vector<std::string> first;
        void Add(const char* text);
    };
    static EmulatedHost& Of(plumeta::HostInterface* self);
    static uint32_t PLUMETA_HOSTCALL DefaultTargetOp(plumeta::HostInterface* self);
    static int32_t PLUMETA_HOSTCALL ReportUnhandledOp(plumeta::HostInterface* self, int32_t code);
    static int32_t PLUMETA_HOSTCALL SendOp(plumeta::HostInterface* self, plumeta::MessageRecord* m);
    static int32_t PLUMETA_HOSTCALL SendToOp(plumeta::HostInterface* self, uint32_t target,
                                             plumeta::MessageRecord* m);
    static int32_t PLUMETA_HOSTCALL GetCellOp(plumeta::HostInterface* self, uint32_t table,
                                              uint32_t row, uint32_t column, plumeta::CellValue* cell);

    int32_t Deliver(const plumeta::MessageRecord& message, std::string& what);
    int32_t Call(const std::string& title, plumeta::MessageRecord* message, bool answersText = false);
    int32_t CallSimple(const std::string& title, uint32_t id, plumeta::HostWord p1 = 0);
    void RunOnce(const Directive& directive);
    void StatusChange(uint32_t id, const Directive& directive);
    void Edit(const Directive& directive);
    void SnapshotPages();
    void Line(const std::string& text);         // transcript
    void SummaryLine(const std::string& text);  // always printed
    void ReadBack(const std::string& path, const std::string& name, const std::string& tally = "");
    void Hold(const Directive& directive);
    void Free(const std::string& name);
    // The log file a status change now goes to (UTF-8), or "" when the
    // module is not to write a line for it.
    std::string LogFileFor(uint32_t id, uint32_t row) const;
    const std::string* Cell(uint32_t table, uint32_t row, uint32_t column) const;
    std::string CellLabel(uint32_t table, uint32_t row, uint32_t column) const;
    // A Windows-1250 text for the transcript: UTF-8, quoted, control bytes as {1A}.
    std::string Shown(const std::string& cp1250) const;
    std::string TextOrNull(const char* text) const { return text ? Shown(text) : "null"; }

    plumeta::Cp1250Converter codepage_;
    plumeta::MessageProc module_;
    Reloader reload_;
    // A second thread's changes (background): what it sends, and the thread.
    void StartBackground(const Directive& directive);
    Directive background_;
    intptr_t backgroundThread_ = 0;
    bool backgroundStarted_ = false;
    std::FILE* out_;
    bool quiet_;
    plumeta::HostOperations operations_;
    Link link_;
    char current_[160] = "start-up";

    // Every cell is kept as text; an integer read parses it.
    std::map<uint32_t, std::string> settings_;
    std::map<std::pair<uint32_t, uint32_t>, std::string> contacts_;
    std::map<uint32_t, std::string> contactDefaults_;  // registered contact columns
    std::map<uint32_t, int32_t> pluginNets_;  // plug-in id -> network
    uint32_t defaultTarget_ = 0;
    bool speech_ = false;
    int32_t mayRecord_ = 1;
    std::string defaultLogName_ = "statusy";
    std::string answerShown_;  // set by Deliver when the answer reads better as text

    struct Item {
        plumeta::OptionItem record;
        std::string text;  // Windows-1250
        bool hasText;
    };
    std::vector<Item> items_;  // of the 22000 being handled
    bool collectingPages_ = false;
    std::vector<PageElement> pages_;  // the latest 22000, with its moment's values
    std::map<std::pair<std::string, std::string>, uint64_t> historyCounts_;  // folder, name
    Listing spoken_, warnings_;
    // Files held as another program would (UTF-8 name -> handle or descriptor).
    std::map<std::string, intptr_t> held_;
    // Per log file (UTF-8 name): its lines and its spills' before the run's
    // first change to it, and how many changes the run sent it.
    struct Waiting {
        uint64_t lines = 0;
        uint64_t dropped = 0;
    };
    Waiting SpilledFor(const std::string& utf8) const;
    struct Tally {
        uint64_t linesBefore = 0;
        Waiting spilledBefore;
        uint64_t changes = 0;
    };
    std::map<std::string, Tally> tallies_;
};

}  // namespace emulator
