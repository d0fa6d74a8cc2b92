#include "rules/rules_editor.h"

#include <algorithm>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

constexpr RuleField kEventFields[] = {RuleField::Target, RuleField::Type, RuleField::Source,
                                      RuleField::Category, RuleField::EventId};
constexpr RuleField kServiceFields[] = {RuleField::ServiceName, RuleField::State};
constexpr RuleField kChannelFields[] = {RuleField::Channel,  RuleField::Target,
                                        RuleField::Type,     RuleField::Source,
                                        RuleField::Category, RuleField::EventId};

std::u16string& FieldOf(MonitoringRule& rule, RuleField field) {
  switch (field) {
    case RuleField::Target: return rule.target;
    case RuleField::Type: return rule.eventType;
    case RuleField::Source: return rule.source;
    case RuleField::Category: return rule.category;
    case RuleField::EventId: return rule.eventId;
    case RuleField::ServiceName: return rule.serviceName;
    case RuleField::State:
    case RuleField::Channel:  // the channel is the row's, not the rule's
      break;
  }
  return rule.state;
}

bool IsChooser(RuleField field) {
  return field == RuleField::Target || field == RuleField::Type || field == RuleField::State;
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Channel names compare as Windows compares them: ASCII letters without regard to case.
std::u16string Folded(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) c = Lower(c);
  return out;
}

}  // namespace

std::span<const RuleField> FieldsOf(int panel) {
  if (panel == kServicePanel) return kServiceFields;
  if (panel == kChannelPanel) return kChannelFields;
  return kEventFields;
}

std::span<const RuleColumn> ColumnsOf(int panel) {
  if (panel == kServicePanel) return kServiceColumns;
  if (panel == kChannelPanel) return kChannelColumns;
  return kEventColumns;
}

void RulesEditor::FormLoad() {
  RulesEditorView& view = ports_.view;
  try {
    view.SetBusyCursor(true);
    view.SetCaption(std::u16string(kRulesEditorCaption) + kAppTitle);
    // A load failure has shown its own message; the rules read before it stay.
    RuleSet loaded;
    ports_.load(ports_.rulesFile, loaded, ports_.boxes);
    for (auto& list : lists_) list.clear();
    for (int k = 0; k < static_cast<int>(loaded.lists.size()); ++k) {
      for (MonitoringRule& rule : loaded.lists[k]) List(k).push_back({u"", std::move(rule)});
    }
    for (ChannelRules& channel : loaded.channels) {
      for (MonitoringRule& rule : channel.rules) {
        List(kChannelPanel).push_back({channel.channel, std::move(rule)});
      }
    }
    // Only names a rule can hold, each once, in alphabetical order.
    std::vector<std::u16string> names =
        ports_.channels ? ports_.channels() : std::vector<std::u16string>{};
    std::erase_if(names, [](const std::u16string& name) { return !IsChannelName(name); });
    std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
      return Folded(a) < Folded(b);
    });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::u16string& a, const std::u16string& b) {
                              return Folded(a) == Folded(b);
                            }),
                names.end());
    view.SetChannelEntries(names);
    channelNames_ = std::move(names);
    for (int k = 0; k < kRulePanels; ++k) {
      Changed(k, List(k).empty() ? -1 : 0);
      Refresh(k, false);
    }
    view.SetBusyCursor(false);
  } catch (...) {
    view.SetBusyCursor(false);
    ports_.boxes.Show(std::u16string(kRulesEditorErrorLine) + u"\r\n" + CurrentFailureDescription(),
                      MessageIcon::Exclamation);
  }
}

int RulesEditor::Current(int panel) {
  const int row = ports_.view.CurrentRow(panel);
  return row >= 0 && static_cast<std::size_t>(row) < List(panel).size() ? row : -1;
}

void RulesEditor::Changed(int panel, int current) {
  if (panel == kChannelPanel) {
    // RuleSet::Channel groups the rows by channel, each channel named as its
    // first row names it.
    rules_.channels.clear();
    for (const Row& row : List(panel)) rules_.Channel(row.channel).push_back(row.rule);
  } else {
    auto& rules = rules_.lists[panel];
    rules.clear();
    for (const Row& row : List(panel)) rules.push_back(row.rule);
  }
  std::vector<std::vector<std::u16string>> rows;
  rows.reserve(List(panel).size());
  for (Row& row : List(panel)) {
    std::vector<std::u16string> texts;
    for (RuleField f : FieldsOf(panel)) {
      texts.push_back(f == RuleField::Channel ? row.channel : FieldOf(row.rule, f));
    }
    rows.push_back(std::move(texts));
  }
  ports_.view.SetRows(panel, rows);
  ports_.view.SetCurrentRow(panel, current);
}

void RulesEditor::Refresh(int panel, bool fillFields) {
  RulesEditorView& view = ports_.view;
  const auto& list = List(panel);
  const int row = Current(panel);
  if (list.empty() || row < 0) {
    // With rows but none selected nothing can be deleted or moved.
    view.EnableButtons(panel, false, false, true, false);
    return;
  }
  if (fillFields) {
    Row shown = list[row];
    for (RuleField f : FieldsOf(panel)) {
      view.SetFieldText(panel, f, f == RuleField::Channel ? shown.channel : FieldOf(shown.rule, f));
    }
  }
  const int last = static_cast<int>(list.size()) - 1;
  view.EnableButtons(panel, row > 0, row < last, true, true);
}

// Why a channel name that is not empty cannot name a channel in the rules
// file, or nullptr when it can.
const char16_t* RulesEditor::ChannelProblem(const std::u16string& channel) const {
  if (IsChannelName(channel)) return nullptr;
  if (channel.size() > 255) return kChannelTooLongMessage;
  for (const char16_t* kind : {kSystemKind, kSecurityKind, kApplicationKind, kServiceKind}) {
    if (Folded(channel) == Folded(kind)) return kChannelIsAKindMessage;
  }
  return kChannelCharactersMessage;
}

// A channel the rules or the machine already name keeps their spelling, so
// that a rule typed in another letter case neither renames its channel in the
// file nor starts a second one.
std::u16string RulesEditor::Spelling(const std::u16string& channel) const {
  const std::u16string folded = Folded(channel);
  for (const Row& row : lists_[kChannelPanel]) {
    if (Folded(row.channel) == folded) return row.channel;
  }
  for (const std::u16string& name : channelNames_) {
    if (Folded(name) == folded) return name;
  }
  return channel;
}

// The checks of register in order: the first that fails tells the user and
// puts the focus in its field.
bool RulesEditor::Check(int panel, Row& row) {
  static constexpr std::pair<RuleField, const char16_t*> kEmptyMessages[] = {
      {RuleField::Channel, kEnterChannelMessage},     {RuleField::Target, kChooseTargetMessage},
      {RuleField::Type, kChooseTypeMessage},          {RuleField::Source, kEnterSourceMessage},
      {RuleField::Category, kEnterCategoryMessage},   {RuleField::EventId, kEnterEventIdMessage},
      {RuleField::ServiceName, kEnterServiceMessage}, {RuleField::State, kChooseStatusMessage}};
  const RuleLog log = static_cast<RuleLog>(panel);
  row.rule.log = log;
  auto refuse = [&](RuleField field, const char16_t* message) {
    ports_.boxes.Show(message, MessageIcon::Exclamation);
    ports_.view.Focus(panel, field);
    return false;
  };
  for (RuleField f : FieldsOf(panel)) {
    std::u16string text = ports_.view.FieldText(panel, f);
    if (!IsChooser(f)) text = Trim(text);
    if (text.empty()) {
      for (const auto& [field, message] : kEmptyMessages) {
        if (field == f) return refuse(f, message);
      }
    }
    (f == RuleField::Channel ? row.channel : FieldOf(row.rule, f)) = std::move(text);
  }
  // A field the file cannot hold would shift the fields of its line.
  for (RuleField f : FieldsOf(panel)) {
    if (f == RuleField::Channel) {
      if (const char16_t* problem = ChannelProblem(row.channel)) return refuse(f, problem);
      continue;
    }
    MonitoringRule alone;
    FieldOf(alone, f) = FieldOf(row.rule, f);
    if (!Storable(alone, log)) return refuse(f, kNoSemicolonMessage);
  }
  return true;
}

void RulesEditor::RegisterClicked(int panel) {
  Row row;
  if (!Check(panel, row)) return;
  auto& list = List(panel);
  if (panel == kChannelPanel) row.channel = Spelling(row.channel);
  // The file could not hold one more rule in this list (or channel).
  const std::u16string channel = Folded(row.channel);
  const auto sameList = std::count_if(list.begin(), list.end(), [&](const Row& r) {
    return panel != kChannelPanel || Folded(r.channel) == channel;
  });
  if (static_cast<std::size_t>(sameList) >= kMaxRulesPerList) return;
  // Before the current row; at the end of a list whose rows are all unselected.
  const int current = Current(panel);
  const std::size_t n = list.empty() ? 0 : current < 0 ? list.size() : current;
  list.insert(list.begin() + n, std::move(row));
  Changed(panel, static_cast<int>(n));
  Refresh(panel, true);
}

void RulesEditor::DeleteClicked(int panel) {
  auto& list = List(panel);
  const int n = Current(panel);
  if (n >= 0) {
    list.erase(list.begin() + n);
    const int size = static_cast<int>(list.size());
    Changed(panel, n < size ? n : size - 1);
  }
  Refresh(panel, true);
}

void RulesEditor::Move(int panel, int by) {
  auto& list = List(panel);
  const int n = Current(panel);
  const int to = n + by;
  if (n >= 0 && to >= 0 && to < static_cast<int>(list.size())) {
    Row copy = list[n];
    for (RuleField f : kEventFields) FieldOf(copy.rule, f) = Trim(FieldOf(copy.rule, f));
    for (RuleField f : kServiceFields) FieldOf(copy.rule, f) = Trim(FieldOf(copy.rule, f));
    list.erase(list.begin() + n);
    list.insert(list.begin() + to, std::move(copy));
    Changed(panel, to);
  }
  Refresh(panel, true);
}

void RulesEditor::MoveUpClicked(int panel) { Move(panel, -1); }
void RulesEditor::MoveDownClicked(int panel) { Move(panel, +1); }

void RulesEditor::SaveClicked() {
  // The save shows its own message; a failed one leaves the window open.
  if (ports_.save(ports_.rulesFile, rules_, ports_.boxes)) ports_.view.Close();
}

}  // namespace zkq
