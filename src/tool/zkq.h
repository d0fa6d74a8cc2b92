#pragma once
// The zkq command line: the monitor's own reading and matching, run over
// exported .evt and .evtx files and printed as UTF-8.
#include <string>
#include <string_view>
#include <vector>

#include "base/ports.h"
#include "eventlog/ports.h"

namespace zkq {

// Where zkq writes; main hands it stdout and stderr.
class Output {
 public:
  virtual ~Output() = default;
  virtual void Write(std::string_view bytes) = 0;
};

inline constexpr char kZkqUsage[] =
    "usage: zkq rows FILE.evt|FILE.evtx [--since \"yyyy/mm/dd hh:mm:ss\"] [--messages]\n"
    "       zkq rows FILE.evtx --xml\n"
    "       zkq check --rules RULES --dir DIR [--since \"yyyy/mm/dd hh:mm:ss\"]\n"
    "                 [--state FILE] [--no-messages]\n"
    "\n"
    "rows   prints the event rows the monitor lists for the log file, newest\n"
    "       first, one a line: type, date, time, source, category, event ID,\n"
    "       user and computer, separated by tabs.\n"
    "--xml  rows prints each record of an .evtx file as its XML, newest first.\n"
    "check  prints the alert text that one monitoring cycle over System.evtx,\n"
    "       Security.evtx and Application.evtx of DIR (else System.evt,\n"
    "       Security.evt and Application.evt) makes with the rules file\n"
    "       RULES (an absent log file is an empty log), with CR LF line ends.\n"
    "       A channel the rules name is read from its file as Windows names it,\n"
    "       \"/\" written as \"%4\": Microsoft-Windows-Windows Defender%4Operational.evtx\n"
    "       for Microsoft-Windows-Windows Defender/Operational.\n"
    "       Under each event's line come its message text's lines, as the\n"
    "       monitor mails them: indented by four blanks, at most 10 lines and\n"
    "       1,000 characters (cut with \"…\"), else the event's strings joined\n"
    "       with \" / \".\n"
    "--since  only records written at or after this moment (the examination\n"
    "       stamp), in this machine's local time like the stamp in the settings\n"
    "       file; without it every record counts. Dates and times shown are Japan\n"
    "       time (UTC+9), as the monitor shows them.\n"
    "--state  keeps in FILE, as the monitor does, the newest record checked in\n"
    "       each log; the next check alerts only records after it, and tells of\n"
    "       a log cleared or overwritten in between. FILE is created when\n"
    "       absent; a first check counts the records --since allows.\n"
    "--messages  rows prints each record's message text (or its strings) after\n"
    "       its row, indented by four blanks, as check does.\n"
    "--no-messages  check prints the alert without the message lines, as the\n"
    "       monitor does with AlertDetail=0.\n"
    "\n"
    "On Windows, accounts, categories and message texts are looked up on this\n"
    "computer, as the monitor does; those that cannot be, and all of them\n"
    "elsewhere, show as the SID text (S-1-5-...), \"なし\" and the event's strings.\n"
    "Exit status: 0 done, 1 a file could not be read or is no event log or rules\n"
    "file, 2 wrong arguments. check tells on stderr which rules lines it skipped\n"
    "and why.\n";

// One line "zkq: " a b on output (UTF-8).
void Tell(Output& output, std::u16string_view a, std::u16string_view b = {});

// Message boxes of the reused program code become such lines (on stderr).
class BoxesAsLines : public MessageBoxes {
 public:
  explicit BoxesAsLines(Output& output) : output_(output) {}
  void Show(const std::u16string& text, MessageIcon icon) override;
  int Shown() const { return shown_; }

 private:
  Output& output_;
  int shown_ = 0;
};

// Runs one command (args without the program name); returns the exit status.
// Without lookups, accounts show as their SID text and categories as "なし".
int RunZkq(const std::vector<std::u16string>& args, Output& out, Output& err);
int RunZkq(const std::vector<std::u16string>& args, Output& out, Output& err,
           AccountNames& accounts, MessageTables& tables, TimeZone& zone);

// On Windows: RunZkq with the machine's own account names and category texts,
// as the monitor itself resolves them.
int RunZkqWithSystemLookups(const std::vector<std::u16string>& args, Output& out, Output& err);

}  // namespace zkq
