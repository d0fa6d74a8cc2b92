#pragma once
// The rules file: one rule a line, a kind and five ";"-separated fields, in
// code page 932 (see LoadRuleLists for the reading rules).
#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ports.h"
#include "base/text.h"

namespace zkq {

// Channel: a rule of a channel the rules name (Windows keeps many besides
// the three logs: Defender's, the task scheduler's, ForwardedEvents).
enum class RuleLog { System = 0, Security = 1, Application = 2, Service = 3, Channel = 4 };

struct MonitoringRule {
  RuleLog log = RuleLog::System;
  std::u16string target, eventType, source, category, eventId;  // event rules
  std::u16string serviceName, state;                            // service rules
  friend bool operator==(const MonitoringRule&, const MonitoringRule&) = default;
};

// The event rules of one channel, named as its first rule names it.
struct ChannelRules {
  std::u16string channel;
  std::vector<MonitoringRule> rules;
  friend bool operator==(const ChannelRules&, const ChannelRules&) = default;
};

struct RuleSet {
  std::array<std::vector<MonitoringRule>, 4> lists;  // the three logs and the services
  std::vector<ChannelRules> channels;                 // in the order of their first rule
  std::vector<MonitoringRule>& operator[](RuleLog log) { return lists[static_cast<int>(log)]; }
  const std::vector<MonitoringRule>& operator[](RuleLog log) const {
    return lists[static_cast<int>(log)];
  }
  void Clear() {
    for (auto& l : lists) l.clear();
    channels.clear();
  }
  // The rules of the channel (its name compared without regard to letter
  // case, as Windows compares them); a new list at the end when it has none.
  std::vector<MonitoringRule>& Channel(std::u16string_view name);
  const ChannelRules* FindChannel(std::u16string_view name) const;
  friend bool operator==(const RuleSet&, const RuleSet&) = default;
};

inline constexpr char16_t kIncludeTarget[] = u"対象";
inline constexpr char16_t kExcludeTarget[] = u"除外";

// The kinds at the start of a line, compared exactly.
inline constexpr char16_t kSystemKind[] = u"System";
inline constexpr char16_t kSecurityKind[] = u"Security";
inline constexpr char16_t kApplicationKind[] = u"Application";
inline constexpr char16_t kServiceKind[] = u"Service";

// The writer counts the rules of a list with a signed 16-bit counter.
inline constexpr std::size_t kMaxRulesPerList = 32767;

inline constexpr char16_t kRulesLoadFailedMessage[] =
    u"監視ルールをロードできません！\r\n設定ファイルのフォーマットが間違っている可能性があります！";
inline constexpr char16_t kRulesSavedMessage[] = u"設定ファイルが更新されました！";
inline constexpr char16_t kRulesSaveFailedMessage[] = u"監視ルールの保存に失敗しました。！";

// True when kind can name a channel: letters and digits (ASCII), blanks and
// "-_/.%", at most 255 of them, no blank at either end, and not one of the
// four kinds in another letter case (that is a typing error, told as one).
bool IsChannelName(std::u16string_view kind);

// A line that held no rule although it was well-formed: its kind is neither
// one of the four nor a channel's name (the monitor skips it quietly; zkq
// check tells).
struct SkippedRuleLine {
  int number = 0;                 // from 1
  std::u16string kind;            // the text before the first ";"
  std::u16string Reason() const;  // unknown kind, blanks around it, wrong letter case
};

// Empties rules, then fills it from the bytes of a rules file (code page 932,
// or UTF-8 with or without a byte order mark). Returns false at the first
// malformed line; the rules of the lines before it stay. Lines of an unknown
// kind are added to skipped when it is given.
bool ParseRuleLists(std::string_view fileBytes, RuleSet& rules,
                    std::vector<SkippedRuleLine>* skipped = nullptr);

// False when the fields that list writes for rule hold what the format cannot
// hold: a line break anywhere, a ";" anywhere but in the event ID (the last field).
bool Storable(const MonitoringRule& rule, RuleLog list);

// The bytes SaveRuleLists writes for rules (CR LF line ends); nothing when a
// list holds more than kMaxRulesPerList rules or a field holds a ";", CR or LF,
// which the format cannot hold.
std::optional<std::string> FormatRuleLists(const RuleSet& rules,
                                           TextEncoding encoding = TextEncoding::Cp932);

// Empties rules, then fills it from the file. On failure shows the load-failure
// message, keeps the rules read before the faulty line and returns false.
bool LoadRuleLists(const std::filesystem::path& path, RuleSet& rules, MessageBoxes& boxes);

// Replaces the file with rules (through a temporary file and a rename, so a
// failed save leaves the old file whole), in the encoding the old file has,
// and shows the update or the failure message. Nothing is written when a rule
// cannot be stored.
bool SaveRuleLists(const std::filesystem::path& path, const RuleSet& rules, MessageBoxes& boxes);

}  // namespace zkq
