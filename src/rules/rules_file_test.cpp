#include "rules/rules_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"

#ifdef __linux__
#include <sys/resource.h>

#include <csignal>
#endif

namespace zkq {
namespace {

namespace fs = std::filesystem;

using test_support::RecordingBoxes;
using test_support::ShownBox;

MonitoringRule EventRule(RuleLog log, std::u16string target, std::u16string type,
                         std::u16string source, std::u16string category, std::u16string id) {
  MonitoringRule r;
  r.log = log;
  r.target = std::move(target);
  r.eventType = std::move(type);
  r.source = std::move(source);
  r.category = std::move(category);
  r.eventId = std::move(id);
  return r;
}

MonitoringRule ServiceRule(std::u16string name, std::u16string state) {
  MonitoringRule r;
  r.log = RuleLog::Service;
  r.serviceName = std::move(name);
  r.state = std::move(state);
  return r;
}

// The file of the rules "every System error, every Security failure audit,
// every Application information event except zkQuorvane's, zkQuorvane running".
RuleSet WorkedExampleRules() {
  RuleSet rules;
  rules[RuleLog::System].push_back(
      EventRule(RuleLog::System, u"対象", u"エラー", u"*", u"*", u"*"));
  rules[RuleLog::Security].push_back(
      EventRule(RuleLog::Security, u"対象", u"失敗", u"*", u"*", u"*"));
  rules[RuleLog::Application].push_back(
      EventRule(RuleLog::Application, u"対象", u"情報", u"*", u"*", u"*"));
  rules[RuleLog::Application].push_back(
      EventRule(RuleLog::Application, u"除外", u"情報", u"zkQuorvane", u"*", u"*"));
  rules[RuleLog::Service].push_back(ServiceRule(u"zkQuorvane", u"開始"));
  return rules;
}

// The same file as it lies on disk, in code page 932.
const std::string kWorkedExampleBytes =
    "System;\x91\xce\x8f\xdb;\x83\x47\x83\x89\x81\x5b;*;*;*\r\n"
    "Security;\x91\xce\x8f\xdb;\x8e\xb8\x94\x73;*;*;*\r\n"
    "Application;\x91\xce\x8f\xdb;\x8f\xee\x95\xf1;*;*;*\r\n"
    "Application;\x8f\x9c\x8a\x4f;\x8f\xee\x95\xf1;zkQuorvane;*;*\r\n"
    "Service;zkQuorvane;\x8a\x4a\x8e\x6e;;;\r\n";

std::string Cp932(std::u16string_view text) { return EncodeCp932(text); }

TEST(RulesFile, WorkedExampleReadsAndWritesTheSameBytes) {
  RuleSet read;
  ASSERT_TRUE(ParseRuleLists(kWorkedExampleBytes, read));
  EXPECT_EQ(read, WorkedExampleRules());
  const auto written = FormatRuleLists(WorkedExampleRules());
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(*written, kWorkedExampleBytes);
}

TEST(RulesFile, NormalisesBlanksKeepsTheRestOfTheLineAndDropsServiceFillers) {
  const std::string file = Cp932(
      u"System;対象;エラー;src;cat;7;x\r\n"
      u"System; 対象 ;エラー ; src ;cat; 7 \r\n"
      u"Service;name;停止;x;y;z\r\n");
  RuleSet read;
  ASSERT_TRUE(ParseRuleLists(file, read));
  RuleSet expected;
  expected[RuleLog::System] = {
      EventRule(RuleLog::System, u"対象", u"エラー", u"src", u"cat", u"7;x"),
      EventRule(RuleLog::System, u"対象", u"エラー", u"src", u"cat", u"7"),
  };
  expected[RuleLog::Service] = {ServiceRule(u"name", u"停止")};
  EXPECT_EQ(read, expected);
  EXPECT_EQ(FormatRuleLists(read), Cp932(u"System;対象;エラー;src;cat;7;x\r\n"
                                         u"System;対象;エラー;src;cat;7\r\n"
                                         u"Service;name;停止;;;\r\n"));
}

TEST(RulesFile, LinesAndLineEnds) {
  struct Case {
    const char* name;
    std::u16string file;
    bool ok;
    std::array<std::size_t, 4> counts;  // System, Security, Application, Service
  };
  // clang-format off
  const Case cases[] = {
      {"empty file", u"", true, {0, 0, 0, 0}},
      {"last line without line end", u"System;a;b;c;d;e", true, {1, 0, 0, 0}},
      {"one CR LF after the last line", u"System;a;b;c;d;e\r\n", true, {1, 0, 0, 0}},
      {"two CR LF after the last line", u"System;a;b;c;d;e\r\n\r\n", false, {1, 0, 0, 0}},
      {"blank line in the middle", u"System;a;b;c;d;e\r\n\r\nService;s;t;;;\r\n", false,
       {1, 0, 0, 0}},
      {"a lone CR LF", u"\r\n", false, {0, 0, 0, 0}},
      {"four separators stop the reading",
       u"Security;a;b;c;d;e\r\nSystem;対象;エラー;*;*\r\nService;s;t;;;\r\n", false, {0, 1, 0, 0}},
      {"unknown kind with five separators is skipped", u"Fo:o;a;b;c;d;e\r\nService;s;t;;;\r\n",
       true, {0, 0, 0, 1}},
      {"unknown kind with four separators is malformed", u"Fo:o;a;b;c;d\r\nService;s;t;;;\r\n",
       false, {0, 0, 0, 0}},
      {"service with two separators is malformed", u"Service;zkQuorvane;開始\r\n", false,
       {0, 0, 0, 0}},
      {"kind with a leading blank is skipped", u" System;a;b;c;d;e\r\n", true, {0, 0, 0, 0}},
      {"kind with a trailing blank is skipped", u"System ;a;b;c;d;e\r\n", true, {0, 0, 0, 0}},
      {"kind in small letters is skipped", u"system;a;b;c;d;e\r\nSERVICE;s;t;;;\r\n", true,
       {0, 0, 0, 0}},
      {"lines of one kind need not be grouped",
       u"Service;s;t;;;\r\nSystem;a;b;c;d;e\r\nApplication;a;b;c;d;e\r\nSystem;a;b;c;d;f\r\n",
       true, {2, 0, 1, 1}},
      {"a bare LF ends a line", u"System;a;b;c;d;e\nSecurity;a;b;c;d;e\n", true, {1, 1, 0, 0}},
      {"a bare CR ends a line", u"System;a;b;c;d;e\rSecurity;a;b;c;d;e", true, {1, 1, 0, 0}},
      {"two bare LF make a blank line", u"System;a;b;c;d;e\n\n", false, {1, 0, 0, 0}},
      {"LF CR is two line ends", u"System;a;b;c;d;e\n\rService;s;t;;;", false, {1, 0, 0, 0}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RuleSet rules;
    rules[RuleLog::Service].push_back(ServiceRule(u"left over", u"開始"));
    EXPECT_EQ(ParseRuleLists(Cp932(c.file), rules), c.ok);
    const std::array<std::size_t, 4> counts = {
        rules[RuleLog::System].size(), rules[RuleLog::Security].size(),
        rules[RuleLog::Application].size(), rules[RuleLog::Service].size()};
    EXPECT_EQ(counts, c.counts);
  }
}

TEST(RulesFile, FieldsAreTakenAsTheyStand) {
  struct Case {
    const char* name;
    std::u16string line;
    MonitoringRule expected;
  };
  // clang-format off
  const Case cases[] = {
      {"type and target outside the value lists", u"Application;監視;Error;a;b;c",
       EventRule(RuleLog::Application, u"監視", u"Error", u"a", u"b", u"c")},
      {"empty fields", u"Security;;;;;", EventRule(RuleLog::Security, u"", u"", u"", u"", u"")},
      {"ideographic space is not a blank", u"System;\u3000対象;エラー;a;b;c",
       EventRule(RuleLog::System, u"\u3000対象", u"エラー", u"a", u"b", u"c")},
      {"only blanks are trimmed", u"System;\t対象;エラー;a;b;c\t",
       EventRule(RuleLog::System, u"\t対象", u"エラー", u"a", u"b", u"c\t")},
      {"last field keeps separators and inner blanks", u"System;t;e;s;c; 1 ; 2 ;",
       EventRule(RuleLog::System, u"t", u"e", u"s", u"c", u"1 ; 2 ;")},
      {"service state outside the value list", u"Service; Spooler ; 実行中 ;;;",
       ServiceRule(u"Spooler", u"実行中")},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RuleSet rules;
    ASSERT_TRUE(ParseRuleLists(Cp932(c.line), rules));
    ASSERT_EQ(rules[c.expected.log].size(), 1u);
    EXPECT_EQ(rules[c.expected.log][0], c.expected);
  }
}

// A field the format cannot hold is refused before anything is written: the
// old file stays as it was and the user hears that the save failed.
TEST(RulesFile, AFieldTheFormatCannotHoldIsNeverWritten) {
  const struct {
    const char* name;
    MonitoringRule rule;
  } cases[] = {
      {"; in a source", EventRule(RuleLog::System, u"対象", u"エラー", u"my;source", u"cat", u"1")},
      {"; in a service name", ServiceRule(u"a;b", u"開始")},
      {"; in a state", ServiceRule(u"ab", u"開;始")},
      {"CR LF in a category",
       EventRule(RuleLog::System, u"対象", u"エラー", u"s", u"c\r\nService", u"1")},
      {"LF in the event ID", EventRule(RuleLog::Application, u"対象", u"*", u"s", u"c", u"1\n2")},
  };
  for (const auto& c : cases) {
    RuleSet rules;
    rules[c.rule.log].push_back(c.rule);
    EXPECT_FALSE(FormatRuleLists(rules).has_value()) << c.name;
  }
  // The last field keeps everything after the fifth ";", so there it is safe.
  RuleSet lastField;
  lastField[RuleLog::System].push_back(
      EventRule(RuleLog::System, u"対象", u"*", u"s", u"c", u"1;2"));
  ASSERT_TRUE(FormatRuleLists(lastField).has_value());
  RuleSet back;
  ASSERT_TRUE(ParseRuleLists(*FormatRuleLists(lastField), back));
  EXPECT_EQ(back, lastField);
}

TEST(RulesFile, WritesListsInFixedOrderWhateverTheRulesSay) {
  RuleSet rules;
  rules[RuleLog::Service].push_back(ServiceRule(u"svc", u"停止"));
  rules[RuleLog::Application].push_back(
      EventRule(RuleLog::Application, u"除外", u"警告", u"b", u"*", u"*"));
  rules[RuleLog::Application].push_back(
      EventRule(RuleLog::Application, u"対象", u"警告", u"a", u"*", u"*"));
  // A rule shown in the Security list is saved as a Security rule.
  rules[RuleLog::Security].push_back(
      EventRule(RuleLog::System, u"対象", u"成功", u"x", u"y", u"z"));
  EXPECT_EQ(FormatRuleLists(rules), Cp932(u"Security;対象;成功;x;y;z\r\n"
                                          u"Application;除外;警告;b;*;*\r\n"
                                          u"Application;対象;警告;a;*;*\r\n"
                                          u"Service;svc;停止;;;\r\n"));
}

TEST(RulesFile, ChannelRulesKeepTheirChannelAndTheOrderOfTheirFirstRule) {
  const std::u16string file =
      u"Service;svc;停止;;;\r\n"
      u"Microsoft-Windows-Windows Defender/Operational;対象;警告;*;*;*\r\n"
      u"System;対象;エラー;*;*;*\r\n"
      u"ForwardedEvents;対象;エラー;*;*;*\r\n"
      u"microsoft-windows-windows defender/operational;除外;警告;x;*;*\r\n"
      u"Microsoft-Windows-TaskScheduler/Operational;対象;エラー;*;*;101\r\n"
      u"Bad|Name;対象;エラー;*;*;*\r\n"
      u" ForwardedEvents;対象;エラー;*;*;*\r\n"
      u"SYSTEM;対象;エラー;*;*;*\r\n";
  RuleSet rules;
  std::vector<SkippedRuleLine> skipped;
  ASSERT_TRUE(ParseRuleLists(Cp932(file), rules, &skipped));
  ASSERT_EQ(rules.channels.size(), 3u);
  EXPECT_EQ(rules.channels[0].channel, u"Microsoft-Windows-Windows Defender/Operational");
  EXPECT_EQ(rules.channels[0].rules.size(), 2u);  // letter case does not make another channel
  EXPECT_EQ(rules.channels[0].rules[1].target, u"除外");
  EXPECT_EQ(rules.channels[0].rules[1].log, RuleLog::Channel);
  EXPECT_EQ(rules.channels[1].channel, u"ForwardedEvents");
  EXPECT_EQ(rules.channels[2].rules[0].eventId, u"101");
  EXPECT_EQ(rules[RuleLog::System].size(), 1u);
  ASSERT_EQ(skipped.size(), 3u);
  EXPECT_EQ(skipped[0].Reason(), u"unknown kind \"Bad|Name\"");
  EXPECT_EQ(skipped[1].Reason(), u"blanks around the kind \"ForwardedEvents\"");
  EXPECT_EQ(skipped[2].Reason(), u"wrong letter case: \"SYSTEM\" is not \"System\"");

  // Written back after the three logs and before the services, and read
  // back the same.
  EXPECT_EQ(FormatRuleLists(rules),
            Cp932(u"System;対象;エラー;*;*;*\r\n"
                  u"Microsoft-Windows-Windows Defender/Operational;対象;警告;*;*;*\r\n"
                  u"Microsoft-Windows-Windows Defender/Operational;除外;警告;x;*;*\r\n"
                  u"ForwardedEvents;対象;エラー;*;*;*\r\n"
                  u"Microsoft-Windows-TaskScheduler/Operational;対象;エラー;*;*;101\r\n"
                  u"Service;svc;停止;;;\r\n"));
  RuleSet back;
  ASSERT_TRUE(ParseRuleLists(*FormatRuleLists(rules), back));
  EXPECT_EQ(back, rules);

  // A channel name the format would misread is never written.
  RuleSet bad;
  bad.Channel(u"A;B").push_back(EventRule(RuleLog::Channel, u"対象", u"*", u"*", u"*", u"*"));
  EXPECT_FALSE(FormatRuleLists(bad).has_value());
}

TEST(RulesFile, ListLengthLimit) {
  for (const RuleLog log :
       {RuleLog::System, RuleLog::Security, RuleLog::Application, RuleLog::Service}) {
    SCOPED_TRACE(static_cast<int>(log));
    RuleSet rules;
    rules[log].assign(kMaxRulesPerList, log == RuleLog::Service
                                            ? ServiceRule(u"s", u"開始")
                                            : EventRule(log, u"対象", u"エラー", u"*", u"*", u"*"));
    const auto full = FormatRuleLists(rules);
    ASSERT_TRUE(full.has_value());
    RuleSet back;
    ASSERT_TRUE(ParseRuleLists(*full, back));
    EXPECT_EQ(back[log].size(), kMaxRulesPerList);
    rules[log].push_back(rules[log].back());
    EXPECT_FALSE(FormatRuleLists(rules).has_value());
  }
}

class RulesFileOnDisk : public testing::Test {
 protected:
  static void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
  static std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<fs::path> Entries() const {
    std::vector<fs::path> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    return names;
  }

  test_support::ScratchFolder folder_{"zkq-rules-"};
  fs::path dir_ = folder_.Path();
  RecordingBoxes boxes_;
};

TEST_F(RulesFileOnDisk, LoadsTheWorkedExampleWithoutAMessage) {
  const auto path = dir_ / "rules.txt";
  WriteBytes(path, kWorkedExampleBytes);
  RuleSet rules;
  EXPECT_TRUE(LoadRuleLists(path, rules, boxes_));
  EXPECT_EQ(rules, WorkedExampleRules());
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(RulesFileOnDisk, LoadFailuresShowTheMessageAndLeaveTheRulesBeforeTheFault) {
  struct Case {
    const char* name;
    fs::path path;
    std::size_t systemRules;
  };
  WriteBytes(dir_ / "bad.txt", Cp932(u"System;対象;エラー;*;*;*\r\nSystem;対象;エラー;*;*\r\n"
                                     u"System;対象;警告;*;*;*\r\n"));
  fs::create_directory(dir_ / "folder");
  const Case cases[] = {
      {"missing file", dir_ / "missing.txt", 0},
      {"empty path", fs::path(), 0},
      {"a folder", dir_ / "folder", 0},
      {"malformed second line", dir_ / "bad.txt", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingBoxes boxes;
    RuleSet rules = WorkedExampleRules();
    EXPECT_FALSE(LoadRuleLists(c.path, rules, boxes));
    EXPECT_EQ(rules[RuleLog::System].size(), c.systemRules);
    EXPECT_TRUE(rules[RuleLog::Security].empty());
    EXPECT_TRUE(rules[RuleLog::Application].empty());
    EXPECT_TRUE(rules[RuleLog::Service].empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              u"監視ルールをロードできません！\r\n"
              u"設定ファイルのフォーマットが間違っている可能性があります！");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
  }
}

TEST_F(RulesFileOnDisk, EmptyFileLoadsEmptyAndEmptyListsSaveZeroBytes) {
  const auto path = dir_ / "rules.txt";
  WriteBytes(path, "");
  RuleSet rules = WorkedExampleRules();
  EXPECT_TRUE(LoadRuleLists(path, rules, boxes_));
  EXPECT_EQ(rules, RuleSet{});
  EXPECT_TRUE(boxes_.shown.empty());

  WriteBytes(path, kWorkedExampleBytes);
  EXPECT_TRUE(SaveRuleLists(path, RuleSet{}, boxes_));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(RulesFileOnDisk, SaveReplacesTheFileAndReportsTheUpdate) {
  const auto path = dir_ / "rules.txt";
  WriteBytes(path, std::string(5000, 'x'));  // longer than the new contents
  EXPECT_TRUE(SaveRuleLists(path, WorkedExampleRules(), boxes_));
  EXPECT_EQ(ReadBytes(path), kWorkedExampleBytes);
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, u"設定ファイルが更新されました！");
  EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::Information);
  EXPECT_EQ(Entries(), std::vector<fs::path>{"rules.txt"});  // no temporary file left behind

  RuleSet back;
  EXPECT_TRUE(LoadRuleLists(path, back, boxes_));
  EXPECT_EQ(back, WorkedExampleRules());
}

TEST_F(RulesFileOnDisk, FailedSavesKeepTheOldFileWhole) {
  const auto path = dir_ / "rules.txt";
  RuleSet tooLong;
  tooLong[RuleLog::Security].assign(
      kMaxRulesPerList + 1, EventRule(RuleLog::Security, u"対象", u"失敗", u"*", u"*", u"*"));
  RuleSet unstorable = WorkedExampleRules();
  unstorable[RuleLog::Service].push_back(ServiceRule(u"a;b", u"開始"));
  fs::create_directory(dir_ / "taken");
  WriteBytes(dir_ / "taken" / "inside.txt", "keep");
  struct Case {
    const char* name;
    fs::path path;
    RuleSet rules;
  };
  const Case cases[] = {
      {"list too long", path, tooLong},
      {"a field with a separator", path, unstorable},
      {"empty path", fs::path(), WorkedExampleRules()},
      {"folder that does not exist", dir_ / "nowhere" / "rules.txt", WorkedExampleRules()},
      {"a folder in the way", dir_ / "taken", WorkedExampleRules()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(path, kWorkedExampleBytes);
    RecordingBoxes boxes;
    EXPECT_FALSE(SaveRuleLists(c.path, c.rules, boxes));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, u"監視ルールの保存に失敗しました。！");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(ReadBytes(path), kWorkedExampleBytes);
    EXPECT_EQ(ReadBytes(dir_ / "taken" / "inside.txt"), "keep");
    auto names = Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<fs::path>{"rules.txt", "taken"}));
  }
}

#ifdef __linux__
// A write that stops half-way, as on a full disk: the process may not make
// files longer than a few bytes, so the temporary file cannot be written.
TEST_F(RulesFileOnDisk, WriteFailingHalfWayKeepsTheOldFileWhole) {
  const auto path = dir_ / "rules.txt";
  WriteBytes(path, kWorkedExampleBytes);
  RuleSet many;
  many[RuleLog::System].assign(
      1000, EventRule(RuleLog::System, u"対象", u"エラー", u"source", u"category", u"1234"));
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveRuleLists(path, many, boxes_);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, u"監視ルールの保存に失敗しました。！");
  EXPECT_EQ(ReadBytes(path), kWorkedExampleBytes);
  EXPECT_EQ(Entries(), std::vector<fs::path>{"rules.txt"});
}
#endif

TEST_F(RulesFileOnDisk, FailedLoadDoesNotBlockASaveOfTheSameFile) {
  const auto path = dir_ / "rules.txt";
  WriteBytes(path, "System;broken\r\n");
  RuleSet rules;
  EXPECT_FALSE(LoadRuleLists(path, rules, boxes_));
  EXPECT_TRUE(SaveRuleLists(path, WorkedExampleRules(), boxes_));
  EXPECT_EQ(ReadBytes(path), kWorkedExampleBytes);
}

// A rules file saved by today's Notepad (UTF-8, with or without the mark)
// loads as it reads, and a save writes it back in the same encoding.
TEST_F(RulesFileOnDisk, FilesInEveryEncodingNotepadWrites) {
  const auto path = dir_ / "rules.txt";
  const std::u16string text = u"System;対象;エラー;ﾃｽﾄ;*;*\r\nService;スプーラ;開始;;;\r\n";
  for (const TextEncoding encoding :
       {TextEncoding::Cp932, TextEncoding::Utf8, TextEncoding::Utf8Bom}) {
    WriteBytes(path, EncodeText(text, encoding));
    RuleSet rules;
    ASSERT_TRUE(LoadRuleLists(path, rules, boxes_));
    ASSERT_EQ(rules[RuleLog::System].size(), 1u);
    EXPECT_EQ(rules[RuleLog::System][0].source, u"ﾃｽﾄ");
    ASSERT_EQ(rules[RuleLog::Service].size(), 1u);
    EXPECT_EQ(rules[RuleLog::Service][0].serviceName, u"スプーラ");
    ASSERT_TRUE(SaveRuleLists(path, rules, boxes_));
    EXPECT_EQ(ReadBytes(path), EncodeText(text, encoding));
  }
}

}  // namespace
}  // namespace zkq
