#pragma once
// The rules editor frmRules: a private RuleSet read from the rules file when it
// opens, four panels (System, Security, Application log, Services) whose rules
// are registered, deleted and moved, and a save that writes the whole set back.
// The Win32 dialog forwards its events here and implements RulesEditorView.
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/ports.h"
#include "rules/rules_file.h"

namespace zkq {

// Panels k = 0..3: System, Security, Application (event rules), Services.
inline constexpr int kRulePanels = 4;
inline constexpr int kServicePanel = 3;

// The edit controls of a panel, in the order of the list's columns.
enum class RuleField { Target, Type, Source, Category, EventId, ServiceName, State };

struct RuleColumn {
  const char16_t* header;
  int blanks;  // the column is as wide as the header followed by this many blanks
};
inline constexpr std::array<RuleColumn, 5> kEventColumns{{
    {u"指定", 6}, {u"種類", 9}, {u"ソース", 15}, {u"分類", 6}, {u"イベント", 4}}};
inline constexpr std::array<RuleColumn, 2> kServiceColumns{{{u"サービス名", 19}, {u"状態", 12}}};

inline constexpr std::array<const char16_t*, 2> kTargetEntries{u"対象", u"除外"};
inline constexpr std::array<const char16_t*, 5> kTypeEntries{u"エラー", u"警告", u"情報", u"成功",
                                                             u"失敗"};
inline constexpr std::array<const char16_t*, 3> kStatusEntries{u"開始", u"停止", u"一時停止"};

inline constexpr char16_t kRulesEditorCaption[] = u"監視ルールの設定 - ";
inline constexpr char16_t kRulesEditorErrorLine[] = u"アプリケーションエラー！";
inline constexpr char16_t kChooseTargetMessage[] = u"監視対象項目か除外項目かを選択してください！";
inline constexpr char16_t kChooseTypeMessage[] = u"イベントの種類を選択してください！";
inline constexpr char16_t kEnterSourceMessage[] = u"イベントのソースを入力してください！";
inline constexpr char16_t kEnterCategoryMessage[] = u"イベントの分類を入力してください！";
inline constexpr char16_t kEnterEventIdMessage[] = u"イベントIDを入力してください！";
inline constexpr char16_t kEnterServiceMessage[] = u"サービス名を入力してください！";
inline constexpr char16_t kChooseStatusMessage[] = u"ステータスを選択してください！";
// The rules file has no escape for its field separator.
inline constexpr char16_t kNoSemicolonMessage[] =
    u"「;」（セミコロン）は監視ルールに使用できません！";

class RulesEditorView {
 public:
  virtual ~RulesEditorView() = default;
  virtual void SetCaption(const std::u16string& text) = 0;
  // Replaces the rows of panel k's list (one text per column).
  virtual void SetRows(int panel, const std::vector<std::vector<std::u16string>>& rows) = 0;
  // The selected row from 0, or -1 when no row is selected.
  virtual int CurrentRow(int panel) = 0;
  // Selects row (from 0) and scrolls it into view; -1 selects none.
  virtual void SetCurrentRow(int panel, int row) = 0;
  // Text boxes and choosers alike; a chooser given a text that is none of its
  // entries shows nothing chosen, and then its text is "".
  virtual std::u16string FieldText(int panel, RuleField field) = 0;
  virtual void SetFieldText(int panel, RuleField field, const std::u16string& text) = 0;
  virtual void EnableButtons(int panel, bool up, bool down, bool registerRule, bool deleteRule) = 0;
  virtual void Focus(int panel, RuleField field) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // Ends the modal window.
  virtual void Close() = 0;
};

using LoadRules = std::function<bool(const std::filesystem::path&, RuleSet&, MessageBoxes&)>;
using SaveRules = std::function<bool(const std::filesystem::path&, const RuleSet&, MessageBoxes&)>;

struct RulesEditorPorts {
  RulesEditorView& view;
  MessageBoxes& boxes;
  std::filesystem::path rulesFile;  // the settings value Rules
  LoadRules load = LoadRuleLists;
  SaveRules save = SaveRuleLists;
};

class RulesEditor {
 public:
  explicit RulesEditor(RulesEditorPorts ports) : ports_(std::move(ports)) {}

  // Form_Load.
  void FormLoad();
  // cmdEdit(2k), cmdEdit(2k+1), cmdArrow(2k), cmdArrow(2k+1).
  void RegisterClicked(int panel);
  void DeleteClicked(int panel);
  void MoveUpClicked(int panel);
  void MoveDownClicked(int panel);
  // A click on a list or a key released in it: the current row may have changed.
  void ListChanged(int panel) { Refresh(panel, true); }
  // cmdButton(0) and cmdButton(1); the close box is cancel.
  void SaveClicked();
  void CancelClicked() { ports_.view.Close(); }

  const RuleSet& Rules() const { return rules_; }

 private:
  std::vector<MonitoringRule>& List(int panel) { return rules_.lists[panel]; }
  // The current row of a list, or -1 when it has none (or the view's row lies
  // outside the list).
  int Current(int panel);
  void ShowList(int panel, int current);
  void Refresh(int panel, bool fillFields);
  bool Check(int panel, MonitoringRule& rule);
  void Move(int panel, int by);

  RulesEditorPorts ports_;
  RuleSet rules_;
};

}  // namespace zkq
