#pragma once
// What happened, in the event's own words: the message its source registered
// for the event ID, with the record's strings inserted and the %%n parameters
// resolved, as the event viewer shows it; and the lines it makes under the
// record's line in an alert.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "eventlog/ports.h"

namespace zkq {

// The most a record adds under its line: lines, and characters of text.
inline constexpr std::size_t kDetailMaxLines = 10;
inline constexpr std::size_t kDetailMaxChars = 1000;
inline constexpr char16_t kDetailIndent[] = u"    ";

// Appends text as detail lines: each line indented, CR LF after it. A TAB
// becomes a blank and other control characters "?"; trailing blanks and empty
// lines are dropped; past kDetailMaxLines lines or kDetailMaxChars characters
// (the mark included) the text is cut and ends in "…". Text without a visible
// character adds nothing.
void AppendDetailLines(std::u16string& out, std::u16string_view text);

// The record's strings (each ended by a NUL) joined with " / "; empty strings
// are left out, since they only make the line longer.
void AppendJoinedStrings(std::u16string& out, std::u16string_view strings);

// Formats the messages of the records one cycle alerts. It remembers each
// source's message files and each module's messages for its lifetime, so a
// thousand records of one source cost one registry read and one lookup per
// event ID; the modules it loaded are released when it ends. Nothing here
// throws: whatever cannot be found falls back to the record's strings.
class EventMessages {
 public:
  explicit EventMessages(MessageTables& tables) : tables_(tables) {}
  EventMessages(const EventMessages&) = delete;
  EventMessages& operator=(const EventMessages&) = delete;
  ~EventMessages() { Release(); }

  // Replaces text with the record's formatted message; false (text then
  // undefined) when the source has no message for eventCode.
  bool Format(std::u16string_view logName, std::u16string_view source, std::uint32_t eventCode,
              std::u16string_view strings, std::u16string& text);

  // Appends the record's detail lines: its message, else its strings; nothing
  // when it has neither. A source without a message file has its message
  // asked of its provider's manifest, by recordNumber (0: not asked).
  void AppendDetail(std::u16string& out, std::u16string_view logName, std::u16string_view source,
                    std::uint32_t eventCode, std::u16string_view strings,
                    std::uint64_t recordNumber = 0) noexcept;
  // A record that carries its message (a forwarded .evtx event) shows that.
  template <class Row>
  void AppendDetail(std::u16string& out, std::u16string_view logName, const Row& row) noexcept {
    if (!row.message.empty() && AppendCarriedMessage(out, row.message)) return;
    AppendDetail(out, logName, row.source, row.eventCode, row.strings, row.recordNumber);
  }

  // The category an alert line shows for row: the name of its task from its
  // provider's manifest where its source has no category texts ("なし"),
  // else its own. A forwarded record (it carries its message) keeps its own.
  template <class Row>
  std::u16string_view AlertCategory(std::u16string_view logName, const Row& row) noexcept {
    if (row.category != u"なし" || row.recordNumber == 0 || !row.message.empty()) return row.category;
    return TaskText(logName, row.source, row.recordNumber, row.category);
  }

  // Forgets what was looked up and lets the tables free the modules.
  void Release() noexcept;

 private:
  std::u16string_view TaskText(std::u16string_view logName, std::u16string_view source,
                               std::uint64_t recordNumber, std::u16string_view fallback) noexcept;
  // False when the message adds no line.
  static bool AppendCarriedMessage(std::u16string& out, std::u16string_view message) noexcept;
  struct SourceFiles {
    std::vector<std::u16string> eventFiles, parameterFiles;
    bool parametersRead = false;
    // Per event ID (or parameter number): the message, nullptr for none.
    std::unordered_map<std::uint32_t, const std::u16string*> messages;
    // Per parameter number: its text as inserted, nothing for none.
    std::unordered_map<std::uint32_t, std::optional<std::u16string>> parameters;
  };
  SourceFiles& Source(std::u16string_view logName, std::u16string_view source);
  std::vector<std::u16string> Files(std::u16string_view logName, std::u16string_view source,
                                    std::u16string_view valueName);
  const std::u16string* ModuleMessage(const std::vector<std::u16string>& files, std::uint32_t id);
  const std::optional<std::u16string>& Parameter(SourceFiles& files, std::u16string_view logName,
                                                 std::u16string_view source, std::uint32_t number);
  void ResolveParameters(std::u16string_view expanded, SourceFiles& files,
                         std::u16string_view logName, std::u16string_view source,
                         std::u16string& text);

  MessageTables& tables_;
  bool loaded_ = false;
  std::unordered_map<std::u16string, SourceFiles> sources_;
  // Per module and message ID; nothing when the module has no such message.
  std::unordered_map<std::u16string, std::optional<std::u16string>> modules_;
  // Reused from record to record.
  std::u16string key_, expanded_, scratch_, task_;
  std::vector<std::u16string_view> inserts_;
};

}  // namespace zkq
