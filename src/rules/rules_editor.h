#pragma once
// The rules editor frmRules: a private RuleSet read from the rules file when it
// opens, five panels (System, Security, Application log, the other channels,
// Services) whose rules are registered, deleted and moved, and a save that
// writes the whole set back. The Win32 dialog forwards its events here and
// implements RulesEditorView.
#include <array>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/ports.h"
#include "rules/rules_file.h"

namespace zkq {

// Panels k = 0..4: System, Security, Application (event rules), Services, and
// the event rules of any other channel, each row naming its channel.
inline constexpr int kRulePanels = 5;
inline constexpr int kServicePanel = 3;
inline constexpr int kChannelPanel = 4;

// The edit controls of the panels.
enum class RuleField { Target, Type, Source, Category, EventId, ServiceName, State, Channel };

// The fields of panel k, in the order of its list's columns.
std::span<const RuleField> FieldsOf(int panel);

struct RuleColumn {
  const char16_t* header;
  int blanks;  // the column is as wide as the header followed by this many blanks
};
inline constexpr std::array<RuleColumn, 5> kEventColumns{{
    {u"指定", 6}, {u"種類", 9}, {u"ソース", 15}, {u"分類", 6}, {u"イベント", 4}}};
inline constexpr std::array<RuleColumn, 2> kServiceColumns{{{u"サービス名", 19}, {u"状態", 12}}};
// The channel first, then narrower event columns, so that the list is no
// wider than the others; a channel name it cuts short shows whole in the
// channel box and as the row's tip.
inline constexpr std::array<RuleColumn, 6> kChannelColumns{{{u"チャンネル", 15},
                                                            {u"指定", 2},
                                                            {u"種類", 4},
                                                            {u"ソース", 6},
                                                            {u"分類", 2},
                                                            {u"イベント", 1}}};
std::span<const RuleColumn> ColumnsOf(int panel);

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
inline constexpr char16_t kEnterChannelMessage[] = u"チャンネル名を入力してください！";
inline constexpr char16_t kChannelCharactersMessage[] =
    u"チャンネル名に使用できない文字があります！";
inline constexpr char16_t kChannelTooLongMessage[] =
    u"チャンネル名は255文字以内で入力してください！";
// The three logs have panels of their own; the services are no channel.
inline constexpr char16_t kChannelIsAKindMessage[] =
    u"「System」「Security」「Application」「Service」はチャンネル名に使用できません！";
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
  // The names the channel box offers; it takes any other text as well.
  virtual void SetChannelEntries(const std::vector<std::u16string>& channels) = 0;
  virtual void EnableButtons(int panel, bool up, bool down, bool registerRule, bool deleteRule) = 0;
  virtual void Focus(int panel, RuleField field) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // Ends the modal window.
  virtual void Close() = 0;
};

using LoadRules = std::function<bool(const std::filesystem::path&, RuleSet&, MessageBoxes&)>;
using SaveRules = std::function<bool(const std::filesystem::path&, const RuleSet&, MessageBoxes&)>;
// The channels of this machine's event log, in any order; none when they
// cannot be listed.
using ListChannelNames = std::function<std::vector<std::u16string>()>;

struct RulesEditorPorts {
  RulesEditorView& view;
  MessageBoxes& boxes;
  std::filesystem::path rulesFile;  // the settings value Rules
  LoadRules load = LoadRuleLists;
  SaveRules save = SaveRuleLists;
  ListChannelNames channels;  // none: the channel box offers nothing
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

  // What a save writes: the panels' rules, the channel rules grouped by
  // channel in the order each channel first appears in its panel.
  const RuleSet& Rules() const { return rules_; }

 private:
  // A row of a panel; channel is set in the channel panel only.
  struct Row {
    std::u16string channel;
    MonitoringRule rule;
  };
  std::vector<Row>& List(int panel) { return lists_[panel]; }
  // The current row of a list, or -1 when it has none (or the view's row lies
  // outside the list).
  int Current(int panel);
  // After a change to panel's rows: the set to save follows, the list shows them.
  void Changed(int panel, int current);
  void Refresh(int panel, bool fillFields);
  bool Check(int panel, Row& row);
  const char16_t* ChannelProblem(const std::u16string& channel) const;
  std::u16string Spelling(const std::u16string& channel) const;
  void Move(int panel, int by);

  RulesEditorPorts ports_;
  std::array<std::vector<Row>, kRulePanels> lists_;
  std::vector<std::u16string> channelNames_;  // the machine's, as the channel box offers them
  RuleSet rules_;
};

}  // namespace zkq
