#include "eventlog/event_message.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/text.h"
#include "eventlog/no_lookups.h"

namespace zkq {
namespace {

// Registry, environment and message tables as a machine with a few sources
// registered would answer; counts what it is asked.
class MemoryTables : public NoMessageTables {
 public:
  std::u16string Environment(std::u16string_view name) override {
    if (name == u"SystemRoot") return u"C:\\Windows";
    if (name == u"Lib") return u"D:\\lib";
    return u"";
  }
  std::optional<std::u16string> SourceValue(std::u16string_view log, std::u16string_view source,
                                            std::u16string_view name) override {
    ++valueReads;
    const auto it = values.find(std::u16string(log) + u"|" + std::u16string(source) + u"|" +
                                std::u16string(name));
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::u16string> ModuleMessage(std::u16string_view path, std::uint32_t id) override {
    ++moduleLookups;
    const auto it = messages.find({std::u16string(path), id});
    if (it == messages.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::u16string> SystemMessage(std::uint32_t id) override {
    if (id == 2) return u"The system cannot find the file specified.\r\n";
    return std::nullopt;
  }
  void ReleaseModules() override { ++releases; }
  std::optional<std::u16string> PublisherMessage(std::u16string_view log,
                                                 std::u16string_view provider,
                                                 std::uint64_t record) override {
    asked.push_back(std::u16string(log) + u"|" + std::u16string(provider) + u"|" +
                    FromUtf8(std::to_string(record)));
    if (provider == u"Microsoft-Windows-Windows Defender") return u"Malware found.\r\n  Name: X";
    return std::nullopt;
  }
  std::vector<std::u16string> asked;

  std::map<std::u16string, std::u16string> values = {
      {u"System|Service Control Manager|EventMessageFile",
       u"%SystemRoot%\\gone.dll ; %SystemRoot%\\netevent.dll;"},
      {u"System|Service Control Manager|ParameterMessageFile", u"%Lib%\\%Unset%\\params.dll"},
      {u"System|NoFile|EventMessageFile", u"C:\\missing.dll"},
      {u"Microsoft-Windows-Windows Defender/Operational|Registered|EventMessageFile",
       u"%SystemRoot%\\netevent.dll"},
  };
  std::map<std::pair<std::u16string, std::uint32_t>, std::u16string> messages = {
      {{u"C:\\Windows\\netevent.dll", 0x40001B7C}, u"The %1 service entered the %2 state.\r\n"},
      {{u"C:\\Windows\\netevent.dll", 0xC0001B58},
       u"The %1 service failed to start due to the following error: %n%2\r\n"},
      {{u"C:\\Windows\\netevent.dll", 1},
       u"Logon Type:%t%1!u!%nElevated:%t%2!s!%n%3 and %4%0 never shown"},
      {{u"C:\\Windows\\netevent.dll", 2}, u"100%% %. %! %r done at 100% d\r\nx%%%%1936"},
      {{u"C:\\Windows\\netevent.dll", 3},
       u"Lines:\r\n\r\n  A \t\r\n\tB\x01"
       u"C\x7f\r\n"},
      {{u"C:\\Windows\\netevent.dll", 4}, u"Ten:%n1%n2%n3%n4%n5%n6%n7%n8%n9%n10%n11"},
      {{u"C:\\Windows\\netevent.dll", 5}, u"Long %1"},
      {{u"C:\\Windows\\netevent.dll", 6}, u"%1"},
      {{u"C:\\Windows\\netevent.dll", 8}, u"%1%n%2"},
      {{u"D:\\lib\\%Unset%\\params.dll", 1936}, u"Yes%0"},
      {{u"D:\\lib\\%Unset%\\params.dll", 1937}, u"%%1936 or no\r\n"},
  };
  int valueReads = 0, moduleLookups = 0, releases = 0;
};

std::u16string Strings(std::initializer_list<std::u16string_view> each) {
  std::u16string out;
  for (std::u16string_view s : each) {
    out.append(s);
    out.push_back(u'\0');
  }
  return out;
}

TEST(EventMessages, DetailLinesOfEachKindOfRecord) {
  const std::u16string longWord(1200, u'x');
  struct Case {
    const char* name;
    std::u16string source;
    std::uint32_t code;
    std::u16string strings, detail;
  };
  const std::vector<Case> cases = {
      {"inserts, second file after a missing one", u"Service Control Manager", 0x40001B7C,
       Strings({u"Print Spooler", u"stopped"}),
       u"    The Print Spooler service entered the stopped state.\r\n"},
      {"%%n in a string from the system", u"Service Control Manager", 0xC0001B58,
       Strings({u"Spooler", u"%%2"}),
       u"    The Spooler service failed to start due to the following error:\r\n"
       u"    The system cannot find the file specified.\r\n"},
      {"!fmt! dropped, a missing insert as written, %0 ends", u"Service Control Manager", 1,
       Strings({u"2", u"%%1936", u"three"}),
       u"    Logon Type: 2\r\n    Elevated: Yes\r\n    three and %4\r\n"},
      {"escapes; escapes already applied stay; a parameter in the message",
       u"Service Control Manager", 2, u"", u"    100% . !\r\n     done at 100% d\r\n    x%Yes\r\n"},
      {"parameters are not resolved twice; an unknown one stays", u"Service Control Manager",
       0xC0001B58, Strings({u"A", u"%%1937 %%99 %%"}),
       u"    The A service failed to start due to the following error:\r\n"
       u"    %%1936 or no %%99 %%\r\n"},
      {"empty lines and trailing blanks dropped, TAB a blank, controls ?",
       u"Service Control Manager", 3, u"", u"    Lines:\r\n      A\r\n     B?C?\r\n"},
      {"ten lines at most", u"Service Control Manager", 4, u"",
       u"    Ten:\r\n    1\r\n    2\r\n    3\r\n    4\r\n    5\r\n    6\r\n    7\r\n    8\r\n"
       u"    9…\r\n"},
      {"1,000 characters at most", u"Service Control Manager", 5, Strings({longWord}),
       u"    Long " + longWord.substr(0, 994) + u"…\r\n"},
      {"1,000 characters, then more", u"Service Control Manager", 8,
       Strings({longWord.substr(0, 1000), u"more"}), u"    " + longWord.substr(0, 999) + u"…\r\n"},
      {"a message of blanks gives way to the strings", u"Service Control Manager", 6,
       Strings({u" "}), u""},
      {"no message for the ID: the strings", u"Service Control Manager", 7000,
       Strings({u"a", u"", u"b\r\nc"}), u"    a / b\r\n    c\r\n"},
      {"message file missing: the strings", u"NoFile", 1, Strings({u"x"}), u"    x\r\n"},
      {"no source key: the strings", u"Plain", 1, Strings({u"x\ty"}), u"    x y\r\n"},
      {"neither", u"Plain", 1, u"", u""},
  };
  MemoryTables tables;
  EventMessages messages(tables);
  for (const Case& c : cases) {
    std::u16string out = u"line\r\n";
    messages.AppendDetail(out, u"System", c.source, c.code, c.strings);
    EXPECT_EQ(out, u"line\r\n" + c.detail) << c.name << "\n" << ToUtf8(out);
  }
}

// One cycle's records of one source cost one registry read and one lookup per
// module and ID, and the modules are released with the cycle.
TEST(EventMessages, LooksEachSourceAndMessageUpOncePerCycle) {
  MemoryTables tables;
  {
    EventMessages messages(tables);
    std::u16string out;
    for (int i = 0; i < 1000; ++i) {
      messages.AppendDetail(out, u"System", u"Service Control Manager", 0x40001B7C,
                            Strings({u"S", u"running"}));
      messages.AppendDetail(out, u"System", u"Service Control Manager", 1,
                            Strings({u"2", u"%%1936"}));
    }
    EXPECT_EQ(tables.valueReads, 2);     // EventMessageFile, ParameterMessageFile
    EXPECT_EQ(tables.moduleLookups, 5);  // two files for two IDs, one parameter
    EXPECT_EQ(tables.releases, 0);
  }
  EXPECT_EQ(tables.releases, 1);
}

// A provider with a manifest and no message file has its message asked of
// the manifest; a record that carries its message (forwarded) never asks.
TEST(EventMessages, ManifestMessagesForSourcesWithoutAMessageFile) {
  struct Row {
    std::u16string source;
    std::uint32_t eventCode;
    std::u16string strings, message;
    std::uint64_t recordNumber;
  };
  struct Case {
    const char* name;
    Row row;
    std::u16string detail;
  };
  const Case cases[] = {
      {"manifest message", {u"Microsoft-Windows-Windows Defender", 1116, Strings({u"s"}), u"", 42},
       u"    Malware found.\r\n      Name: X\r\n"},
      {"no manifest either: the strings", {u"Plain", 1, Strings({u"x"}), u"", 43}, u"    x\r\n"},
      {"a message file wins", {u"Registered", 0x40001B7C, Strings({u"A", u"b"}), u"", 44},
       u"    The A service entered the b state.\r\n"},
      {"forwarded: the carried message", {u"Microsoft-Windows-Windows Defender", 1116, u"",
       u"Rendered there.", 45}, u"    Rendered there.\r\n"},
      {"no record number: not asked", {u"Microsoft-Windows-Windows Defender", 1116, u"", u"", 0},
       u""},
  };
  MemoryTables tables;
  EventMessages messages(tables);
  for (const Case& c : cases) {
    std::u16string out;
    messages.AppendDetail(out, u"Microsoft-Windows-Windows Defender/Operational", c.row);
    EXPECT_EQ(out, c.detail) << c.name << "\n" << ToUtf8(out);
  }
  EXPECT_EQ(tables.asked, (std::vector<std::u16string>{
                              u"Microsoft-Windows-Windows Defender/Operational|Microsoft-Windows-Windows Defender|42",
                              u"Microsoft-Windows-Windows Defender/Operational|Plain|43"}));
}

}  // namespace
}  // namespace zkq
