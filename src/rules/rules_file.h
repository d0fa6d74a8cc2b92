#pragma once
// The rules file: one rule a line, a kind and five ";"-separated fields, in
// code page 932 (see LoadRuleLists for the reading rules).
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "base/ports.h"

namespace zkq {

enum class RuleLog { System = 0, Security = 1, Application = 2, Service = 3 };

struct MonitoringRule {
  RuleLog log = RuleLog::System;
  std::u16string target, eventType, source, category, eventId;  // event rules
  std::u16string serviceName, state;                            // service rules
  friend bool operator==(const MonitoringRule&, const MonitoringRule&) = default;
};

struct RuleSet {
  std::array<std::vector<MonitoringRule>, 4> lists;
  std::vector<MonitoringRule>& operator[](RuleLog log) { return lists[static_cast<int>(log)]; }
  const std::vector<MonitoringRule>& operator[](RuleLog log) const {
    return lists[static_cast<int>(log)];
  }
  void Clear() {
    for (auto& l : lists) l.clear();
  }
  friend bool operator==(const RuleSet&, const RuleSet&) = default;
};

inline constexpr char16_t kIncludeTarget[] = u"対象";
inline constexpr char16_t kExcludeTarget[] = u"除外";

// Empties rules, then fills it from the file. On failure shows the load-failure
// message, keeps the rules read before the faulty line and returns false.
bool LoadRuleLists(const std::filesystem::path& path, RuleSet& rules, MessageBoxes& boxes);

// Replaces the file with rules (through a temporary file and a rename, so a
// failed save leaves the old file whole) and shows the update or the failure message.
bool SaveRuleLists(const std::filesystem::path& path, const RuleSet& rules, MessageBoxes& boxes);

}  // namespace zkq
