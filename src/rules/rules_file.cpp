#include "rules/rules_file.h"

#include <algorithm>

#include "base/files.h"
#include "base/text.h"

namespace zkq {
namespace {

// A line is its kind and five fields: five splits at the first ";" of what
// remains, the last field keeping everything after the fifth ";".
constexpr int kSplits = 5;

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

constexpr const char16_t* kKinds[] = {kSystemKind, kSecurityKind, kApplicationKind, kServiceKind};

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

enum class LineResult { Rule, UnknownKind, Malformed };

// Parses one decoded line into rules; Malformed when it has fewer than five ";".
LineResult AddRuleLine(std::u16string_view line, RuleSet& rules) {
  std::array<std::u16string_view, kSplits + 1> parts;
  if (!SplitLine(line, parts)) return LineResult::Malformed;
  auto kind = KindOf(parts[0]);
  if (!kind && IsChannelName(parts[0])) kind = RuleLog::Channel;
  if (!kind) return LineResult::UnknownKind;  // the monitor skips it quietly
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
  if (*kind == RuleLog::Channel) {
    rules.Channel(parts[0]).push_back(std::move(rule));
  } else {
    rules[*kind].push_back(std::move(rule));
  }
  return LineResult::Rule;
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

}  // namespace

std::vector<MonitoringRule>& RuleSet::Channel(std::u16string_view name) {
  for (ChannelRules& c : channels) {
    if (SameIgnoringCase(c.channel, name)) return c.rules;
  }
  channels.push_back({std::u16string(name), {}});
  return channels.back().rules;
}

const ChannelRules* RuleSet::FindChannel(std::u16string_view name) const {
  for (const ChannelRules& c : channels) {
    if (SameIgnoringCase(c.channel, name)) return &c;
  }
  return nullptr;
}

bool IsChannelName(std::u16string_view kind) {
  if (kind.empty() || kind.size() > 255 || kind.front() == u' ' || kind.back() == u' ') return false;
  for (const char16_t c : kind) {
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit && std::u16string_view(u" -_/.%").find(c) == std::u16string_view::npos)
      return false;
  }
  for (const char16_t* known : kKinds) {
    if (SameIgnoringCase(kind, known)) return false;
  }
  return true;
}

// The file format cannot hold a line break in any field, nor a ";" in a field
// that another one follows (the last field of an event rule keeps everything
// after the fifth ";"): written as it stands, such a field would shift the
// fields of its line or start a new rule.
bool Storable(const MonitoringRule& rule, RuleLog list) {
  const bool service = list == RuleLog::Service;
  const std::u16string* fields[] = {&rule.target,  &rule.eventType,   &rule.source, &rule.category,
                                    &rule.eventId, &rule.serviceName, &rule.state};
  for (const std::u16string* field : fields) {
    const bool written = service ? (field == &rule.serviceName || field == &rule.state)
                                 : (field != &rule.serviceName && field != &rule.state);
    if (!written) continue;
    if (field->find_first_of(u"\r\n") != std::u16string::npos) return false;
    if (field != &rule.eventId && field->find(u';') != std::u16string::npos) return false;
  }
  return true;
}

bool ParseRuleLists(std::string_view fileBytes, RuleSet& rules,
                    std::vector<SkippedRuleLine>* skipped) {
  rules.Clear();
  const TextEncoding encoding = DetectTextEncoding(fileBytes);
  fileBytes = WithoutBom(fileBytes);
  // The writer ends every line with CR LF. A bare LF (what editors on other
  // systems write) and a bare CR also end a line, so a hand-edited file never
  // leaves an invisible CR inside the last field. Line ends are found in the
  // bytes: CR and LF are never part of a multi-byte character in code page 932
  // or in UTF-8.
  std::size_t pos = 0;
  int number = 0;
  while (pos < fileBytes.size()) {
    const auto end = fileBytes.find_first_of("\r\n", pos);
    std::size_t next = fileBytes.size();
    std::string_view line = fileBytes.substr(pos);
    if (end != std::string_view::npos) {
      line = fileBytes.substr(pos, end - pos);
      next = end + 1;
      if (fileBytes[end] == '\r' && next < fileBytes.size() && fileBytes[next] == '\n') ++next;
    }
    ++number;
    const std::u16string text = DecodeText(line, encoding);
    const LineResult result = AddRuleLine(text, rules);
    if (result == LineResult::Malformed) return false;
    if (result == LineResult::UnknownKind && skipped != nullptr) {
      skipped->push_back({number, text.substr(0, text.find(u';'))});
    }
    pos = next;
  }
  return true;
}

std::u16string SkippedRuleLine::Reason() const {
  const std::u16string trimmed = Trim(kind);
  if (trimmed != kind && (KindOf(trimmed) || IsChannelName(trimmed)))
    return u"blanks around the kind \"" + trimmed + u"\"";
  for (const char16_t* known : kKinds) {
    if (SameIgnoringCase(kind, known)) {
      return u"wrong letter case: \"" + kind + u"\" is not \"" + std::u16string(known) + u"\"";
    }
  }
  return u"unknown kind \"" + kind + u"\"";
}

std::optional<std::string> FormatRuleLists(const RuleSet& rules, TextEncoding encoding) {
  static constexpr std::pair<RuleLog, const char16_t*> kOrder[] = {
      {RuleLog::System, kSystemKind},
      {RuleLog::Security, kSecurityKind},
      {RuleLog::Application, kApplicationKind},
      {RuleLog::Service, kServiceKind},
  };
  std::u16string text;
  auto append = [&text](RuleLog log, std::u16string_view kind,
                        const std::vector<MonitoringRule>& list) {
    if (list.size() > kMaxRulesPerList) return false;
    for (const auto& rule : list) {
      if (!Storable(rule, log)) return false;
      AppendRuleLine(text, log, kind, rule);
    }
    return true;
  };
  // The channels after the three logs, before the services, as the alert lists them.
  for (const auto& [log, kind] : kOrder) {
    if (log == RuleLog::Service) {
      for (const ChannelRules& channel : rules.channels) {
        if (!IsChannelName(channel.channel) ||
            !append(RuleLog::Channel, channel.channel, channel.rules))
          return std::nullopt;
      }
    }
    if (!append(log, kind, rules[log])) return std::nullopt;
  }
  return EncodeText(text, encoding);
}

bool LoadRuleLists(const std::filesystem::path& path, RuleSet& rules, MessageBoxes& boxes) {
  bool loaded = false;
  try {
    rules.Clear();
    const std::optional<std::string> bytes = ReadWholeFile(path);
    loaded = bytes && ParseRuleLists(*bytes, rules);
  } catch (const std::exception&) {
    loaded = false;  // out of memory on a huge file: same outcome as a bad one
  }
  if (!loaded) boxes.Show(kRulesLoadFailedMessage, MessageIcon::Exclamation);
  return loaded;
}

bool SaveRuleLists(const std::filesystem::path& path, const RuleSet& rules, MessageBoxes& boxes) {
  bool saved = false;
  try {
    // A file is written back in the encoding it was written in.
    const std::optional<std::string> old = ReadWholeFile(path);
    const auto bytes = FormatRuleLists(rules, old ? DetectTextEncoding(*old) : TextEncoding::Cp932);
    saved = bytes && ReplaceFileAtomically(path, *bytes);
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
