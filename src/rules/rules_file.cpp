#include "rules/rules_file.h"

#include <fstream>
#include <system_error>

#include "base/text.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

// A line is its kind and five fields: five splits at the first ";" of what
// remains, the last field keeping everything after the fifth ";".
constexpr int kSplits = 5;

std::optional<RuleLog> KindOf(std::u16string_view kind) {
  if (kind == kSystemKind) return RuleLog::System;
  if (kind == kSecurityKind) return RuleLog::Security;
  if (kind == kApplicationKind) return RuleLog::Application;
  if (kind == kServiceKind) return RuleLog::Service;
  return std::nullopt;
}

bool SplitLine(std::u16string_view line, std::array<std::u16string_view, kSplits + 1>& parts) {
  for (int i = 0; i < kSplits; ++i) {
    const auto pos = line.find(u';');
    if (pos == std::u16string_view::npos) return false;
    parts[i] = line.substr(0, pos);
    line.remove_prefix(pos + 1);
  }
  parts[kSplits] = line;
  return true;
}

// Parses one decoded line into rules; false when it has fewer than five ";".
bool AddRuleLine(std::u16string_view line, RuleSet& rules) {
  std::array<std::u16string_view, kSplits + 1> parts;
  if (!SplitLine(line, parts)) return false;
  const auto kind = KindOf(parts[0]);
  if (!kind) return true;  // a kind this program does not know is skipped quietly
  MonitoringRule rule;
  rule.log = *kind;
  if (*kind == RuleLog::Service) {
    rule.serviceName = Trim(parts[1]);
    rule.state = Trim(parts[2]);
  } else {
    rule.target = Trim(parts[1]);
    rule.eventType = Trim(parts[2]);
    rule.source = Trim(parts[3]);
    rule.category = Trim(parts[4]);
    rule.eventId = Trim(parts[5]);
  }
  rules[*kind].push_back(std::move(rule));
  return true;
}

// The list decides the kind and the layout of the line, whatever the rule's own
// log says: a rule is saved where it is shown.
void AppendRuleLine(std::u16string& text, RuleLog list, std::u16string_view kind,
                    const MonitoringRule& rule) {
  text += kind;
  text += u';';
  if (list == RuleLog::Service) {
    text += rule.serviceName;
    text += u';';
    text += rule.state;
    text += u";;;";
  } else {
    for (const auto* field : {&rule.target, &rule.eventType, &rule.source, &rule.category}) {
      text += *field;
      text += u';';
    }
    text += rule.eventId;
  }
  text += u"\r\n";
}

bool ReadWholeFile(const fs::path& path, std::string& bytes) {
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  // A directory opens but cannot be read; that shows as bad, not as an end of file.
  return !in.bad();
}

// Writes bytes to a temporary file beside path and renames it over path, so a
// write that fails half-way (full disk, size limit) never costs the old rules.
bool ReplaceFile(const fs::path& path, std::string_view bytes) {
  if (path.empty() || !path.has_filename()) return false;
  fs::path temp = path;
  temp += u".zkqtmp";
  std::error_code ignored;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ignored);
      return false;
    }
  }
  std::error_code renamed;
  fs::rename(temp, path, renamed);
  if (renamed) {
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

}  // namespace

bool ParseRuleLists(std::string_view fileBytes, RuleSet& rules) {
  rules.Clear();
  // The writer ends every line with CR LF. A bare LF (what editors on other
  // systems write) and a bare CR also end a line, so a hand-edited file never
  // leaves an invisible CR inside the last field. Line ends are found in the
  // bytes: CR and LF are never the second byte of a double-byte character.
  std::size_t pos = 0;
  while (pos < fileBytes.size()) {
    const auto end = fileBytes.find_first_of("\r\n", pos);
    std::size_t next = fileBytes.size();
    std::string_view line = fileBytes.substr(pos);
    if (end != std::string_view::npos) {
      line = fileBytes.substr(pos, end - pos);
      next = end + 1;
      if (fileBytes[end] == '\r' && next < fileBytes.size() && fileBytes[next] == '\n') ++next;
    }
    if (!AddRuleLine(DecodeCp932(line), rules)) return false;
    pos = next;
  }
  return true;
}

std::optional<std::string> FormatRuleLists(const RuleSet& rules) {
  static constexpr std::pair<RuleLog, const char16_t*> kOrder[] = {
      {RuleLog::System, kSystemKind},
      {RuleLog::Security, kSecurityKind},
      {RuleLog::Application, kApplicationKind},
      {RuleLog::Service, kServiceKind},
  };
  std::u16string text;
  for (const auto& [log, kind] : kOrder) {
    const auto& list = rules[log];
    if (list.size() > kMaxRulesPerList) return std::nullopt;
    for (const auto& rule : list) AppendRuleLine(text, log, kind, rule);
  }
  return EncodeCp932(text);
}

bool LoadRuleLists(const std::filesystem::path& path, RuleSet& rules, MessageBoxes& boxes) {
  bool loaded = false;
  try {
    rules.Clear();
    std::string bytes;
    loaded = ReadWholeFile(path, bytes) && ParseRuleLists(bytes, rules);
  } catch (const std::exception&) {
    loaded = false;  // out of memory on a huge file: same outcome as a bad one
  }
  if (!loaded) boxes.Show(kRulesLoadFailedMessage, MessageIcon::Exclamation);
  return loaded;
}

bool SaveRuleLists(const std::filesystem::path& path, const RuleSet& rules, MessageBoxes& boxes) {
  bool saved = false;
  try {
    const auto bytes = FormatRuleLists(rules);
    saved = bytes && ReplaceFile(path, *bytes);
  } catch (const std::exception&) {
    saved = false;
  }
  if (saved) {
    boxes.Show(kRulesSavedMessage, MessageIcon::Information);
  } else {
    boxes.Show(kRulesSaveFailedMessage, MessageIcon::Exclamation);
  }
  return saved;
}

}  // namespace zkq
