#include "rules/rules_editor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "base/failure.h"
#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"

namespace zkq {
namespace {

using test_support::RecordingBoxes;

// A view that keeps what it shows, and a chooser that holds only its entries.
struct FakeView : RulesEditorView {
  std::array<std::vector<std::vector<std::u16string>>, kRulePanels> rows;
  std::array<int, kRulePanels> current{-1, -1, -1, -1, -1};
  std::map<std::pair<int, RuleField>, std::u16string> fields;
  std::array<std::array<bool, 4>, kRulePanels> buttons{};  // up, down, register, delete
  std::vector<std::u16string> channelEntries{u"not set"};
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
  void SetChannelEntries(const std::vector<std::u16string>& c) override { channelEntries = c; }
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
  std::vector<std::u16string> machineChannels;
  RulesEditor editor{{view, boxes, "rules.txt",
                      [this](const std::filesystem::path&, RuleSet& r, MessageBoxes&) {
                        r = file;
                        return true;
                      },
                      [this](const std::filesystem::path&, const RuleSet& r, MessageBoxes&) {
                        saved = r;
                        return saveSucceeds;
                      },
                      [this] { return machineChannels; }}};
  explicit Editor(std::vector<MonitoringRule> system) {
    file.lists[0] = std::move(system);
    editor.FormLoad();
  }
  Editor(RuleSet rules, std::vector<std::u16string> channels)
      : file(std::move(rules)), machineChannels(std::move(channels)) {
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

constexpr char16_t kDefender[] = u"Microsoft-Windows-Windows Defender/Operational";

MonitoringRule ChannelRule(const char16_t* source, const char16_t* type = u"エラー") {
  MonitoringRule r = Ev(source);
  r.log = RuleLog::Channel;
  r.eventType = type;
  return r;
}

RuleSet WithChannels() {
  RuleSet rules;
  rules.lists[0] = {Ev(u"sys")};
  rules.Channel(u"ForwardedEvents").push_back(ChannelRule(u"f1"));
  rules.Channel(kDefender).push_back(ChannelRule(u"d1", u"警告"));
  rules.Channel(u"ForwardedEvents").push_back(ChannelRule(u"f2"));
  return rules;
}

void Type(FakeView& view, const std::map<RuleField, std::u16string>& typed) {
  for (auto& [f, text] : typed) view.SetFieldText(kChannelPanel, f, text);
}

TEST(RulesEditorChannels, OpeningListsEachRuleUnderItsChannelAndOffersTheMachinesChannels) {
  Editor e(WithChannels(), {u"System", u"Setup", u"ForwardedEvents", u"bad name!", u"",
                            u"forwardedevents", kDefender, u"Application"});
  using Texts = std::vector<std::u16string>;
  EXPECT_EQ(e.view.rows[kChannelPanel],
            (std::vector<Texts>{{u"ForwardedEvents", u"対象", u"エラー", u"f1", u"*", u"*"},
                                {u"ForwardedEvents", u"対象", u"エラー", u"f2", u"*", u"*"},
                                {kDefender, u"対象", u"警告", u"d1", u"*", u"*"}}));
  EXPECT_EQ(e.view.current[kChannelPanel], 0);
  EXPECT_EQ(e.view.buttons[kChannelPanel], (std::array<bool, 4>{false, true, true, true}));
  // The three logs have panels of their own; a name no rule can hold is left out.
  EXPECT_EQ(e.view.channelEntries, (Texts{u"ForwardedEvents", kDefender, u"Setup"}));
  e.view.current[kChannelPanel] = 2;
  e.editor.ListChanged(kChannelPanel);
  EXPECT_EQ(e.view.FieldText(kChannelPanel, RuleField::Channel), kDefender);
  EXPECT_EQ(e.view.FieldText(kChannelPanel, RuleField::Type), u"警告");
  EXPECT_EQ(e.view.FieldText(kChannelPanel, RuleField::Source), u"d1");
  // Opened and saved unchanged, the rules are what was read.
  e.editor.SaveClicked();
  EXPECT_EQ(e.saved, WithChannels());

  Editor none(RuleSet{}, {});  // no way to list the channels: the box offers none
  EXPECT_TRUE(none.view.channelEntries.empty());
  EXPECT_TRUE(none.view.rows[kChannelPanel].empty());
}

TEST(RulesEditorChannels, RegisterChecksTheChannelNameAndTheFields) {
  using F = RuleField;
  const std::map<F, std::u16string> full{{F::Channel, u" ForwardedEvents "},
                                         {F::Target, u"除外"},
                                         {F::Type, u"情報"},
                                         {F::Source, u" Disk "},
                                         {F::Category, u"*"},
                                         {F::EventId, u"7"}};
  auto with = [&](F f, std::u16string text) {
    auto m = full;
    m[f] = std::move(text);
    return m;
  };
  struct Case {
    std::map<F, std::u16string> typed;
    const char16_t* message;  // nullptr: registered with the channel shown
    F focus;
    const char16_t* shown = u"";
  };
  const std::u16string longest(255, u'a');
  const Case cases[] = {
      {with(F::Channel, u""), kEnterChannelMessage, F::Channel},
      {with(F::Channel, u"   "), kEnterChannelMessage, F::Channel},
      {with(F::Channel, u"Bad:Name"), kChannelCharactersMessage, F::Channel},
      {with(F::Channel, u"イベント"), kChannelCharactersMessage, F::Channel},
      {with(F::Channel, u"a;b"), kChannelCharactersMessage, F::Channel},
      {with(F::Channel, u"system"), kChannelIsAKindMessage, F::Channel},
      {with(F::Channel, u"Security"), kChannelIsAKindMessage, F::Channel},
      {with(F::Channel, u"SERVICE"), kChannelIsAKindMessage, F::Channel},
      {with(F::Channel, longest + u"a"), kChannelTooLongMessage, F::Channel},
      // Every field must hold something before any is checked further.
      {with(F::Target, u""), kChooseTargetMessage, F::Target},
      {[&] {
         auto m = with(F::Channel, u"Bad:Name");
         m[F::EventId] = u" ";
         return m;
       }(),
       kEnterEventIdMessage, F::EventId},
      {with(F::Source, u"x;y"), kNoSemicolonMessage, F::Source},
      {full, nullptr, F::Target, u"ForwardedEvents"},
      {with(F::Channel, kDefender), nullptr, F::Target, kDefender},
      {with(F::Channel, longest), nullptr, F::Target, longest.c_str()},
      {with(F::EventId, u"1;2"), nullptr, F::Target, u"ForwardedEvents"},  // the last field may
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.typed.at(F::Channel).substr(0, 20)) + " / " +
                 (c.message ? ToUtf8(c.message) : "registered"));
    Editor e(RuleSet{}, {});
    Type(e.view, c.typed);
    e.editor.RegisterClicked(kChannelPanel);
    if (c.message) {
      ASSERT_EQ(e.boxes.shown.size(), 1u);
      EXPECT_EQ(e.boxes.shown[0].text, c.message);
      EXPECT_EQ(e.boxes.shown[0].icon, MessageIcon::Exclamation);
      EXPECT_EQ(e.view.focus, std::make_pair(kChannelPanel, c.focus));
      EXPECT_TRUE(e.view.rows[kChannelPanel].empty());
      EXPECT_TRUE(e.editor.Rules().channels.empty());
      continue;
    }
    EXPECT_TRUE(e.boxes.shown.empty());
    ASSERT_EQ(e.view.rows[kChannelPanel].size(), 1u);
    EXPECT_EQ(e.view.rows[kChannelPanel][0],
              (std::vector<std::u16string>{c.shown, u"除外", u"情報", u"Disk", u"*",
                                           c.typed.at(F::EventId) == u"7" ? u"7" : u"1;2"}));
    ASSERT_EQ(e.editor.Rules().channels.size(), 1u);
    EXPECT_EQ(e.editor.Rules().channels[0].channel, c.shown);
    EXPECT_EQ(e.editor.Rules().channels[0].rules[0].log, RuleLog::Channel);
    EXPECT_EQ(e.view.FieldText(kChannelPanel, F::Channel), c.shown);
  }
}

TEST(RulesEditorChannels, SaveGroupsTheRowsByChannelInTheOrderTheyFirstAppear) {
  enum Op { Up, Down, Delete, Register };
  struct Step {
    Op op;
    int row;                        // the current row before it
    const char16_t* channel = u"";  // what Register types
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::u16string> shown;  // the sources, top to bottom
    // The saved channels, each with the sources of its rules.
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> saved;
  };
  using Saved = std::vector<std::pair<std::u16string, std::vector<std::u16string>>>;
  const Case cases[] = {
      {"unchanged",
       {},
       {u"f1", u"f2", u"d1"},
       Saved{{u"ForwardedEvents", {u"f1", u"f2"}}, {kDefender, {u"d1"}}}},
      {"a rule moved between another channel's",
       {{Up, 2}},
       {u"f1", u"d1", u"f2"},
       Saved{{u"ForwardedEvents", {u"f1", u"f2"}}, {kDefender, {u"d1"}}}},
      {"a channel moved first",
       {{Up, 2}, {Up, 1}},
       {u"d1", u"f1", u"f2"},
       Saved{{kDefender, {u"d1"}}, {u"ForwardedEvents", {u"f1", u"f2"}}}},
      {"the order within a channel",
       {{Down, 0}},
       {u"f2", u"f1", u"d1"},
       Saved{{u"ForwardedEvents", {u"f2", u"f1"}}, {kDefender, {u"d1"}}}},
      {"a channel's last rule deleted",
       {{Delete, 2}},
       {u"f1", u"f2"},
       Saved{{u"ForwardedEvents", {u"f1", u"f2"}}}},
      // Typed in another case, a channel the rules name keeps their spelling;
      // one only the machine names takes the machine's.
      {"registered in another case",
       {{Register, 0, u"forwardedEVENTS"}},
       {u"new", u"f1", u"f2", u"d1"},
       Saved{{u"ForwardedEvents", {u"new", u"f1", u"f2"}}, {kDefender, {u"d1"}}}},
      {"registered as the machine spells it",
       {{Register, -1, u"SETUP"}},
       {u"f1", u"f2", u"d1", u"new"},
       Saved{{u"ForwardedEvents", {u"f1", u"f2"}}, {kDefender, {u"d1"}}, {u"Setup", {u"new"}}}},
      {"registered first",
       {{Register, 0, u"Other"}},
       {u"new", u"f1", u"f2", u"d1"},
       Saved{{u"Other", {u"new"}}, {u"ForwardedEvents", {u"f1", u"f2"}}, {kDefender, {u"d1"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Editor e(WithChannels(), {u"Setup"});
    for (const Step& step : c.steps) {
      e.view.current[kChannelPanel] = step.row;
      switch (step.op) {
        case Up:
          e.editor.MoveUpClicked(kChannelPanel);
          break;
        case Down:
          e.editor.MoveDownClicked(kChannelPanel);
          break;
        case Delete:
          e.editor.DeleteClicked(kChannelPanel);
          break;
        case Register:
          Type(e.view, {{RuleField::Channel, step.channel},
                        {RuleField::Target, u"対象"},
                        {RuleField::Type, u"エラー"},
                        {RuleField::Source, u"new"},
                        {RuleField::Category, u"*"},
                        {RuleField::EventId, u"*"}});
          e.editor.RegisterClicked(kChannelPanel);
          break;
      }
    }
    EXPECT_EQ(e.view.Column(kChannelPanel, 3), c.shown);
    e.editor.SaveClicked();
    Saved saved;
    for (const ChannelRules& channel : e.saved.channels) {
      saved.push_back({channel.channel, {}});
      for (const MonitoringRule& rule : channel.rules) saved.back().second.push_back(rule.source);
    }
    EXPECT_EQ(saved, c.saved);
    // The other panels are saved as they were.
    EXPECT_EQ(e.saved.lists[0], std::vector<MonitoringRule>{Ev(u"sys")});
  }
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Through the real rules file: what was read and not changed is written back
// byte for byte, in the encoding it came in.
TEST(RulesEditorChannels, AFileOpenedAndSavedUnchangedKeepsEveryByte) {
  const std::string utf8 =
      "System;対象;エラー;*;*;*\r\n"
      "Security;除外;成功;Security;*;529\r\n"
      "Application;対象;警告;App;*;1;2\r\n"
      "ForwardedEvents;対象;エラー;*;*;*\r\n"
      "ForwardedEvents;除外;エラー;Disk;*;7\r\n"
      "Microsoft-Windows-Windows Defender/Operational;対象;警告;*;*;*\r\n"
      "Service;Spooler;停止;;;\r\n";
  const struct {
    const char* what;
    std::string bytes;
  } files[] = {{"code page 932", EncodeText(FromUtf8(utf8), TextEncoding::Cp932)}, {"UTF-8", utf8}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.what);
    test_support::ScratchFolder dir("rules_editor_");
    const auto path = dir.Path() / "rules.txt";
    std::ofstream(path, std::ios::binary) << f.bytes;
    FakeView view;
    RecordingBoxes boxes;
    RulesEditor editor({view, boxes, path});
    editor.FormLoad();
    ASSERT_EQ(view.rows[kChannelPanel].size(), 3u);
    editor.SaveClicked();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, kRulesSavedMessage);
    EXPECT_EQ(ReadBytes(path), f.bytes);
    EXPECT_TRUE(view.closed);
  }
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
