#include "rules/rules_editor.h"

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

constexpr RuleField kEventFields[] = {RuleField::Target, RuleField::Type, RuleField::Source,
                                      RuleField::Category, RuleField::EventId};
constexpr RuleField kServiceFields[] = {RuleField::ServiceName, RuleField::State};

std::u16string& FieldOf(MonitoringRule& rule, RuleField field) {
  switch (field) {
    case RuleField::Target: return rule.target;
    case RuleField::Type: return rule.eventType;
    case RuleField::Source: return rule.source;
    case RuleField::Category: return rule.category;
    case RuleField::EventId: return rule.eventId;
    case RuleField::ServiceName: return rule.serviceName;
    case RuleField::State: break;
  }
  return rule.state;
}

bool IsChooser(RuleField field) {
  return field == RuleField::Target || field == RuleField::Type || field == RuleField::State;
}

std::vector<std::vector<std::u16string>> RowsOf(const std::vector<MonitoringRule>& list,
                                                bool service) {
  std::vector<std::vector<std::u16string>> rows;
  rows.reserve(list.size());
  for (const MonitoringRule& rule : list) {
    if (service) {
      rows.push_back({rule.serviceName, rule.state});
    } else {
      rows.push_back({rule.target, rule.eventType, rule.source, rule.category, rule.eventId});
    }
  }
  return rows;
}

}  // namespace

void RulesEditor::FormLoad() {
  RulesEditorView& view = ports_.view;
  try {
    view.SetBusyCursor(true);
    view.SetCaption(std::u16string(kRulesEditorCaption) + kAppTitle);
    // A load failure has shown its own message; the rules read before it stay.
    ports_.load(ports_.rulesFile, rules_, ports_.boxes);
    for (int k = 0; k < kRulePanels; ++k) {
      ShowList(k, List(k).empty() ? -1 : 0);
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

void RulesEditor::ShowList(int panel, int current) {
  ports_.view.SetRows(panel, RowsOf(List(panel), panel == kServicePanel));
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
    MonitoringRule rule = list[row];
    if (panel == kServicePanel) {
      for (RuleField f : kServiceFields) view.SetFieldText(panel, f, FieldOf(rule, f));
    } else {
      for (RuleField f : kEventFields) view.SetFieldText(panel, f, FieldOf(rule, f));
    }
  }
  const int last = static_cast<int>(list.size()) - 1;
  view.EnableButtons(panel, row > 0, row < last, true, true);
}

// The checks of register in order: the first that fails tells the user and
// puts the focus in its field.
bool RulesEditor::Check(int panel, MonitoringRule& rule) {
  struct Step {
    RuleField field;
    const char16_t* message;
  };
  static constexpr Step kEventSteps[] = {{RuleField::Target, kChooseTargetMessage},
                                         {RuleField::Type, kChooseTypeMessage},
                                         {RuleField::Source, kEnterSourceMessage},
                                         {RuleField::Category, kEnterCategoryMessage},
                                         {RuleField::EventId, kEnterEventIdMessage}};
  static constexpr Step kServiceSteps[] = {{RuleField::ServiceName, kEnterServiceMessage},
                                           {RuleField::State, kChooseStatusMessage}};
  const bool service = panel == kServicePanel;
  const RuleLog log = static_cast<RuleLog>(panel);
  rule.log = log;
  const Step* begin = service ? std::begin(kServiceSteps) : std::begin(kEventSteps);
  const Step* end = service ? std::end(kServiceSteps) : std::end(kEventSteps);
  auto refuse = [&](const Step& step, const char16_t* message) {
    ports_.boxes.Show(message, MessageIcon::Exclamation);
    ports_.view.Focus(panel, step.field);
    return false;
  };
  for (const Step* step = begin; step != end; ++step) {
    std::u16string text = ports_.view.FieldText(panel, step->field);
    if (!IsChooser(step->field)) text = Trim(text);
    if (text.empty()) return refuse(*step, step->message);
    FieldOf(rule, step->field) = std::move(text);
  }
  // A field the file cannot hold would shift the fields of its line.
  for (const Step* step = begin; step != end; ++step) {
    MonitoringRule alone;
    FieldOf(alone, step->field) = FieldOf(rule, step->field);
    if (!Storable(alone, log)) return refuse(*step, kNoSemicolonMessage);
  }
  return true;
}

void RulesEditor::RegisterClicked(int panel) {
  MonitoringRule rule;
  if (!Check(panel, rule)) return;
  auto& list = List(panel);
  if (list.size() >= kMaxRulesPerList) return;  // the file could not hold it
  // Before the current row; at the end of a list whose rows are all unselected.
  const int current = Current(panel);
  const std::size_t n = list.empty() ? 0 : current < 0 ? list.size() : current;
  list.insert(list.begin() + n, std::move(rule));
  ShowList(panel, static_cast<int>(n));
  Refresh(panel, true);
}

void RulesEditor::DeleteClicked(int panel) {
  auto& list = List(panel);
  const int n = Current(panel);
  if (n >= 0) {
    list.erase(list.begin() + n);
    const int size = static_cast<int>(list.size());
    ShowList(panel, n < size ? n : size - 1);
  }
  Refresh(panel, true);
}

void RulesEditor::Move(int panel, int by) {
  auto& list = List(panel);
  const int n = Current(panel);
  const int to = n + by;
  if (n >= 0 && to >= 0 && to < static_cast<int>(list.size())) {
    MonitoringRule copy = list[n];
    for (RuleField f : kEventFields) FieldOf(copy, f) = Trim(FieldOf(copy, f));
    for (RuleField f : kServiceFields) FieldOf(copy, f) = Trim(FieldOf(copy, f));
    list.erase(list.begin() + n);
    list.insert(list.begin() + to, std::move(copy));
    ShowList(panel, to);
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
