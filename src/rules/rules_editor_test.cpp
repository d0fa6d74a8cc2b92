#include "rules/rules_editor.h"

#include <gtest/gtest.h>

#include <map>

#include "base/failure.h"
#include "base/testing/recording_boxes.h"

namespace zkq {
namespace {

using test_support::RecordingBoxes;

// A view that keeps what it shows, and a chooser that holds only its entries.
struct FakeView : RulesEditorView {
  std::array<std::vector<std::vector<std::u16string>>, 4> rows;
  std::array<int, 4> current{-1, -1, -1, -1};
  std::map<std::pair<int, RuleField>, std::u16string> fields;
  std::array<std::array<bool, 4>, 4> buttons{};  // up, down, register, delete
  std::pair<int, RuleField> focus{-1, RuleField::Target};
  bool closed = false, busy = false;
  void SetCaption(const std::u16string&) override {}
  void SetRows(int k, const std::vector<std::vector<std::u16string>>& r) override { rows[k] = r; }
  int CurrentRow(int k) override { return current[k]; }
  void SetCurrentRow(int k, int row) override { current[k] = row; }
  std::u16string FieldText(int k, RuleField f) override { return fields[{k, f}]; }
  void SetFieldText(int k, RuleField f, const std::u16string& text) override {
    const auto* entries = f == RuleField::Target ? kTargetEntries.data()
                          : f == RuleField::Type ? kTypeEntries.data()
                          : f == RuleField::State ? kStatusEntries.data() : nullptr;
    const std::size_t count = f == RuleField::Target ? 2 : f == RuleField::Type ? 5 : 3;
    bool listed = entries == nullptr;
    for (std::size_t i = 0; entries && i < count; ++i) listed = listed || text == entries[i];
    fields[{k, f}] = listed ? text : u"";
  }
  void EnableButtons(int k, bool up, bool down, bool reg, bool del) override {
    buttons[k] = {up, down, reg, del};
  }
  void Focus(int k, RuleField f) override { focus = {k, f}; }
  void SetBusyCursor(bool b) override { busy = b; }
  void Close() override { closed = true; }
  std::vector<std::u16string> Column(int k, int c) {
    std::vector<std::u16string> out;
    for (auto& r : rows[k]) out.push_back(r[c]);
    return out;
  }
};

MonitoringRule Ev(const char16_t* source, const char16_t* target = u"対象") {
  MonitoringRule r;
  r.target = target, r.eventType = u"エラー", r.source = source, r.category = u"*", r.eventId = u"*";
  return r;
}

struct Editor {
  FakeView view;
  RecordingBoxes boxes;
  RuleSet file, saved;
  bool saveSucceeds = true;
  RulesEditor editor{{view, boxes, "rules.txt",
                      [this](const std::filesystem::path&, RuleSet& r, MessageBoxes&) {
                        r = file;
                        return true;
                      },
                      [this](const std::filesystem::path&, const RuleSet& r, MessageBoxes&) {
                        saved = r;
                        return saveSucceeds;
                      }}};
  explicit Editor(std::vector<MonitoringRule> system) {
    file.lists[0] = std::move(system);
    editor.FormLoad();
  }
};

std::vector<MonitoringRule> Rows(int n) {
  static const char16_t* names[] = {u"a", u"b", u"c", u"d", u"e"};
  std::vector<MonitoringRule> out;
  for (int i = 0; i < n; ++i) out.push_back(Ev(names[i]));
  return out;
}

TEST(RulesEditor, OpeningSelectsFirstRowsAndLeavesFieldsEmpty) {
  Editor e(Rows(1));
  EXPECT_EQ(e.view.current[0], 0);
  EXPECT_EQ(e.view.buttons[0], (std::array<bool, 4>{false, false, true, true}));
  EXPECT_EQ(e.view.current[1], -1);
  EXPECT_EQ(e.view.buttons[1], (std::array<bool, 4>{false, false, true, false}));
  EXPECT_EQ(e.view.FieldText(0, RuleField::Source), u"");
  EXPECT_FALSE(e.view.busy);
}

TEST(RulesEditor, DeleteAndMoveKeepTheRightRowCurrent) {
  enum Op { Delete, Up, Down };
  struct Case {
    int rows, current;
    Op op;
    std::vector<std::u16string> sources;
    int newCurrent;
    std::array<bool, 4> buttons;  // up, down, register, delete
  };
  const Case cases[] = {
      {4, 3, Delete, {u"a", u"b", u"c"}, 2, {true, false, true, true}},
      {4, 1, Delete, {u"a", u"c", u"d"}, 1, {true, true, true, true}},
      {1, 0, Delete, {}, -1, {false, false, true, false}},
      {3, 1, Up, {u"b", u"a", u"c"}, 0, {false, true, true, true}},
      {3, 1, Down, {u"a", u"c", u"b"}, 2, {true, false, true, true}},
      {3, 0, Up, {u"a", u"b", u"c"}, 0, {false, true, true, true}},
      // No current row: nothing is acted on, nothing can be deleted or moved.
      {3, -1, Delete, {u"a", u"b", u"c"}, -1, {false, false, true, false}},
      {3, -1, Down, {u"a", u"b", u"c"}, -1, {false, false, true, false}},
      {0, -1, Delete, {}, -1, {false, false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " rows, row " << c.current << ", op " << c.op);
    Editor e(Rows(c.rows));
    e.view.SetFieldText(0, RuleField::Source, u"typed");
    e.view.current[0] = c.current;
    if (c.op == Delete) e.editor.DeleteClicked(0);
    if (c.op == Up) e.editor.MoveUpClicked(0);
    if (c.op == Down) e.editor.MoveDownClicked(0);
    EXPECT_EQ(e.view.Column(0, 2), c.sources);
    EXPECT_EQ(e.view.current[0], c.newCurrent);
    EXPECT_EQ(e.view.buttons[0], c.buttons);
    const std::u16string shown = c.newCurrent >= 0 ? c.sources[c.newCurrent] : u"typed";
    EXPECT_EQ(e.view.FieldText(0, RuleField::Source), shown);
  }
}

TEST(RulesEditor, RegisterChecksInOrderAndInsertsTrimmedAtTheCurrentRow) {
  struct Case {
    int panel;
    std::map<RuleField, std::u16string> typed;
    const char16_t* message;  // nullptr: registered
    RuleField focus;
  };
  using F = RuleField;
  const std::map<F, std::u16string> full{{F::Target, u"除外"}, {F::Type, u"警告"},
                                         {F::Source, u"  Disk "}, {F::Category, u" (1)"},
                                         {F::EventId, u" a;b "}};
  auto without = [&](F f, std::u16string text = u"   ") {
    auto m = full;
    m[f] = text;
    return m;
  };
  const Case cases[] = {
      {0, {}, kChooseTargetMessage, F::Target},
      {1, without(F::Type, u""), kChooseTypeMessage, F::Type},
      {2, without(F::Source), kEnterSourceMessage, F::Source},
      {0, without(F::Category), kEnterCategoryMessage, F::Category},
      {0, without(F::EventId), kEnterEventIdMessage, F::EventId},
      {0, without(F::Source, u"x;y"), kNoSemicolonMessage, F::Source},
      {0, without(F::Category, u";"), kNoSemicolonMessage, F::Category},
      {3, {{F::State, u"開始"}}, kEnterServiceMessage, F::ServiceName},
      {3, {{F::ServiceName, u" Spooler "}}, kChooseStatusMessage, F::State},
      {3, {{F::ServiceName, u"a;b"}, {F::State, u"停止"}}, kNoSemicolonMessage, F::ServiceName},
      {0, full, nullptr, F::Target},
      {3, {{F::ServiceName, u" Spooler "}, {F::State, u"一時停止"}}, nullptr, F::Target},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "panel " << c.panel << " message "
                                    << (c.message ? ToUtf8(c.message) : "none"));
    Editor e({});
    e.file.lists[c.panel] = c.panel == 3 ? std::vector<MonitoringRule>(5)
                                         : Rows(5);
    e.editor.FormLoad();
    e.view.current[c.panel] = 2;
    for (auto& [f, text] : c.typed) e.view.SetFieldText(c.panel, f, text);
    e.editor.RegisterClicked(c.panel);
    const auto& list = e.editor.Rules().lists[c.panel];
    if (c.message) {
      ASSERT_EQ(e.boxes.shown.size(), 1u);
      EXPECT_EQ(e.boxes.shown[0].text, c.message);
      EXPECT_EQ(e.boxes.shown[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(e.view.focus, std::make_pair(c.panel, c.focus));
      EXPECT_EQ(list.size(), 5u);
      continue;
    }
    EXPECT_TRUE(e.boxes.shown.empty());
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(e.view.current[c.panel], 2);
    if (c.panel == 3) {
      EXPECT_EQ(list[2].serviceName, u"Spooler");
      EXPECT_EQ(e.view.rows[3][2], (std::vector<std::u16string>{u"Spooler", u"一時停止"}));
    } else {
      EXPECT_EQ(e.view.rows[0][2],
                (std::vector<std::u16string>{u"除外", u"警告", u"Disk", u"(1)", u"a;b"}));
      EXPECT_EQ(e.view.Column(0, 2)[3], u"c");
      EXPECT_EQ(e.view.FieldText(0, F::Source), u"Disk");
    }
  }
}

TEST(RulesEditor, RegisterIntoEmptyOrUnselectedListAndTwice) {
  Editor e({});
  e.view.SetFieldText(0, RuleField::Target, u"対象");
  e.view.SetFieldText(0, RuleField::Type, u"情報");
  for (RuleField f : {RuleField::Source, RuleField::Category, RuleField::EventId})
    e.view.SetFieldText(0, f, u"*");
  e.editor.RegisterClicked(0);
  EXPECT_EQ(e.view.current[0], 0);
  EXPECT_EQ(e.view.buttons[0], (std::array<bool, 4>{false, false, true, true}));
  e.view.current[0] = -1;  // the user cleared the selection: the rule goes last
  e.view.SetFieldText(0, RuleField::Source, u"x");
  e.editor.RegisterClicked(0);
  e.editor.RegisterClicked(0);
  EXPECT_EQ(e.view.Column(0, 2), (std::vector<std::u16string>{u"*", u"x", u"x"}));
  EXPECT_EQ(e.view.current[0], 1);
}

TEST(RulesEditor, ChooserValueOutsideItsEntriesShowsEmptyAndRuleStays) {
  Editor e({Ev(u"a", u"監視"), Ev(u"b")});
  e.editor.ListChanged(0);
  EXPECT_EQ(e.view.FieldText(0, RuleField::Target), u"");
  EXPECT_EQ(e.view.FieldText(0, RuleField::Source), u"a");
  e.editor.SaveClicked();
  EXPECT_EQ(e.saved.lists[0][0].target, u"監視");
}

TEST(RulesEditor, SaveClosesOnlyWhenWrittenAndCancelWritesNothing) {
  Editor e(Rows(2));
  e.saveSucceeds = false;
  e.editor.SaveClicked();
  EXPECT_FALSE(e.view.closed);
  e.saveSucceeds = true;
  e.editor.DeleteClicked(0);
  e.editor.SaveClicked();
  EXPECT_TRUE(e.view.closed);
  EXPECT_EQ(e.saved.lists[0], std::vector<MonitoringRule>{Ev(u"b")});
  Editor c(Rows(2));
  c.editor.CancelClicked();
  EXPECT_TRUE(c.view.closed);
  EXPECT_TRUE(c.saved.lists[0].empty());
}

TEST(RulesEditor, FailureWhileOpeningIsShownAndThePointerRestored) {
  FakeView view;
  RecordingBoxes boxes;
  RulesEditor editor({view, boxes, "rules.txt",
                      [](const std::filesystem::path&, RuleSet&, MessageBoxes&) -> bool {
                        throw Failure(u"ディスクがいっぱいです。");
                      },
                      nullptr});
  editor.FormLoad();
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, u"アプリケーションエラー！\r\nディスクがいっぱいです。");
  EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
  EXPECT_FALSE(view.busy);
  EXPECT_FALSE(view.closed);
}

}  // namespace
}  // namespace zkq
