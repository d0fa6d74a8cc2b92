#include "tool/zkq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "eventlog/evt_builder.h"
#include "eventlog/no_lookups.h"

namespace zkq {
namespace {

class StringOutput : public Output {
 public:
  std::string text;
  void Write(std::string_view bytes) override { text.append(bytes); }
};

struct Result {
  int status;
  std::string out, err;
};

Result Zkq(const std::vector<std::string>& args) {
  std::vector<std::u16string> wide;
  for (const std::string& a : args) wide.push_back(FromUtf8(a));
  StringOutput out, err;
  // The stamps below are Japan time, whatever zone this machine is set to.
  NoAccountNames accounts;
  NoMessageTables tables;
  FixedOffsetZone japan(9 * 3600);
  const int status = RunZkq(wide, out, err, accounts, tables, japan);
  return {status, out.text, err.text};
}

// 2011/07/27 15:41:47 on the records' clock (06:41:47 UTC).
constexpr std::uint32_t kBase = 1311748907;

Bytes Record(std::uint32_t number, std::uint32_t time, std::uint16_t type, std::u16string source,
             std::uint32_t eventId, Bytes sid = {}) {
  RecordRecipe recipe;
  recipe.number = number;
  recipe.timeGenerated = recipe.timeWritten = time;
  recipe.type = type;
  recipe.source = std::move(source);
  recipe.eventId = eventId;
  recipe.computer = u"サーバー01";
  recipe.sid = std::move(sid);
  recipe.strings = {u"text"};
  return BuildRecord(recipe);
}

class ZkqFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    EvtRecipe system;
    system.records = {
        Record(1, kBase, 1, u"Disk", 0xC0000007),
        Record(2, kBase + 60, 4, u"Service Control Manager", 0x40001B7C, MakeSid(5, {18})),
        Record(3, kBase + 61, 2, u"監視サービス", 25,
               MakeSid(5, {21, 2147483648u, 4294967295u, 1001}))};
    system.fileSize = 48 + 40 + 600;
    system.firstOffset = 48 + 300;  // wraps
    system.dirty = true;
    Write("System.evt", BuildEvtFile(system));
    EvtRecipe application;
    application.records = {Record(10, kBase + 5, 1, u"App", 1000),
                           Record(11, kBase + 70, 4, u"App", 1001)};
    Write("Application.evt", BuildEvtFile(application));
  }
  void Write(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  void WriteText(const std::string& name, const std::string& utf8) {
    const std::string bytes = EncodeCp932(FromUtf8(utf8));
    Write(name, Bytes(bytes.begin(), bytes.end()));
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  test_support::ScratchFolder folder_{"zkq-tool-"};
  std::filesystem::path dir_ = folder_.Path();
};

const char kRow3[] =
    "警告\t2011/07/"
    "27\t15:42:48\t監視サービス\tなし\t25\tS-1-5-21-2147483648-4294967295-1001\tサーバー01\n";
const char kRow2[] =
    "情報\t2011/07/27\t15:42:47\tService Control Manager\tなし\t7036\tS-1-5-18\tサーバー01\n";
const char kRow1[] = "エラー\t2011/07/27\t15:41:47\tDisk\tなし\t7\tN/A\tサーバー01\n";

TEST_F(ZkqFiles, RowsNewestFirstFromTheStampOn) {
  struct Case {
    std::vector<std::string> since;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{}, std::string(kRow3) + kRow2 + kRow1},
      {{"--since", "2011/07/27 15:42:47"}, std::string(kRow3) + kRow2},
      {{"--since", "2011/07/27 15:42:48"}, kRow3},
      {{"--since", "2011/07/27 15:42:49"}, ""},
      {{"--since", "2011/07/27 00:00:00"}, std::string(kRow3) + kRow2 + kRow1},
      {{"--since", "2011/07/27 15:42:47", "--messages"},
       std::string(kRow3) + "    text\n" + kRow2 + "    text\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"rows", Path("System.evt")};
    args.insert(args.end(), c.since.begin(), c.since.end());
    const Result r = Zkq(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ZkqFiles, CheckPrintsTheAlertText) {
  WriteText("rules.txt",
            "System;対象;エラー;*;*;*\r\n"
            "System;対象;警告;監視サービス;*;*\r\n"
            "System;対象;情報;Service Control Manager;なし;7036\r\n"
            "Application;対象;情報;App;*;*\r\n"
            "Application;除外;情報;App;なし;1000\r\n"
            "Security;対象;エラー;*;*;*\r\n");
  struct Case {
    std::vector<std::string> since;
    std::string out;
  };
  const std::string system3 =
      "警告     2011/07/27 15:42:48 監視サービス なし 25 S-1-5-21-2147483648-4294967295-1001 "
      "サーバー01\r\n";
  const std::string system2 =
      "情報     2011/07/27 15:42:47 Service Control Manager なし 7036 S-1-5-18 サーバー01\r\n";
  const std::string system1 = "エラー    2011/07/27 15:41:47 Disk なし 7 N/A サーバー01\r\n";
  const std::string app11 = "情報     2011/07/27 15:42:57 App なし 1001 N/A サーバー01\r\n";
  // Without message tables each record's strings follow its line.
  const std::string text = "    text\r\n";
  const std::vector<Case> cases = {
      {{"--no-messages"},
       "［システム］\r\n" + system3 + system2 + system1 + "［アプリケーション］\r\n" + app11},
      {{}, "［システム］\r\n" + system3 + text + system2 + text + system1 + text +
               "［アプリケーション］\r\n" + app11 + text},
      {{"--since", "2011/07/27 15:42:48"},
       "［システム］\r\n" + system3 + text + "［アプリケーション］\r\n" + app11 + text},
      {{"--since", "2011/07/27 15:42:58"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"check", "--rules", Path("rules.txt"), "--dir", dir_.string()};
    args.insert(args.end(), c.since.begin(), c.since.end());
    const Result r = Zkq(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(ZkqFiles, Failures) {
  WriteText("rules.txt", "System;対象;エラー;*;*;*\r\n");
  WriteText("notalog.evt", "System;対象;エラー;*;*;*\r\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string errHas;
  };
  const std::vector<Case> cases = {
      {{}, 2, "usage: zkq rows"},
      {{"list"}, 2, "unknown command list"},
      {{"rows"}, 2, "usage:"},
      {{"rows", Path("System.evt"), "--since"}, 2, "--since needs a value"},
      {{"rows", Path("System.evt"), "--since", "yesterday"}, 2, "is no date and time"},
      {{"rows", Path("System.evt"), "--since", "2011/02/30 00:00:00"}, 2, "is no date and time"},
      {{"rows", Path("System.evt"), "--verbose"}, 2, "unknown option --verbose"},
      {{"rows", Path("notalog.evt")}, 1, "not an event log file"},
      {{"rows", Path("rules.txt")}, 1, "not an event log file"},
      {{"rows", Path("absent.evt")}, 1, "no such file"},
      {{"check", "--rules", Path("rules.txt")}, 2, "check takes"},
      {{"check", "--rules", Path("rules.txt"), "--dir", Path("absent")}, 1, "no such folder"},
  };
  for (const Case& c : cases) {
    const Result r = Zkq(c.args);
    EXPECT_EQ(r.status, c.status) << c.errHas;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.errHas;
  }

  // A Security.evt that is no event log: the other logs still make their
  // sections, and the command fails.
  std::filesystem::copy_file(dir_ / "notalog.evt", dir_ / "Security.evt");
  const Result r = Zkq({"check", "--rules", Path("rules.txt"), "--dir", dir_.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Security.evt: not an event log file"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.rfind("［システム］\r\nエラー", 0), 0u) << r.out;
}

TEST_F(ZkqFiles, DamagedLogPrintsWhatItReadAndFails) {
  EvtRecipe recipe;
  recipe.records = {Record(1, kBase, 1, u"Disk", 1), Record(2, kBase, 1, u"Disk", 2),
                    Record(3, kBase, 1, u"Disk", 3)};
  Bytes bytes = BuildEvtFile(recipe);
  PutU32(bytes, 48 + recipe.records[0].size() - 4, 12345);  // record 1's length copy
  Write("Damaged.evt", bytes);
  const Result r = Zkq({"rows", Path("Damaged.evt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
  EXPECT_NE(r.err.find("ErrNumber = 0x000005DC"), std::string::npos) << r.err;
}

// Hostile input reaches an administrator's terminal as plain, one-line text,
// and nothing about a rules file or a log goes unsaid.
TEST_F(ZkqFiles, HostileInputIsToldPlainly) {
  EvtRecipe recipe;
  recipe.records = {Record(1, kBase, 1, u"Evil\tSource\r\n.\r\n\x1b[2J", 7)};
  std::filesystem::create_directory(dir_ / "logs");
  std::filesystem::create_directory(dir_ / "logs" / "System.evt");  // a folder, not a log
  Write("logs/Application.evt", BuildEvtFile(recipe));
  WriteText("rules.txt",
            "Application;対象;エラー;*;*;*\r\nsystem;対象;*;*;*;*\r\n Service "
            ";x;開始;;;\r\nMail:;a;b;c;d;e\r\n");

  const Result rows = Zkq({"rows", Path("logs/Application.evt")});
  EXPECT_EQ(rows.status, 0);
  EXPECT_EQ(rows.out,
            "エラー\t2011/07/27\t15:41:47\tEvil?Source??.???[2J\tなし\t7\tN/A\tサーバー01\n");

  const Result folder = Zkq({"rows", Path("logs/System.evt")});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("not a regular file"), std::string::npos) << folder.err;

  const Result check = Zkq({"check", "--rules", Path("rules.txt"), "--dir", Path("logs")});
  EXPECT_EQ(check.status, 1);
  EXPECT_NE(check.out.find("Evil?Source??.???[2J"), std::string::npos) << check.out;
  for (const char* told :
       {"rules.txt:2: skipped, wrong letter case: \"system\" is not \"System\"",
        "rules.txt:3: skipped, blanks around the kind \"Service\"",
        "rules.txt:4: skipped, unknown kind \"Mail:\"", "System.evt: not a regular file"}) {
    EXPECT_NE(check.err.find(told), std::string::npos) << told << "\n" << check.err;
  }
}

// Each case runs check --state over a System log that changes between runs;
// every record is an error the rule alerts, its event ID its number.
TEST_F(ZkqFiles, CheckWithStateAlertsEachRecordOnce) {
  WriteText("rules.txt", "System;対象;エラー;*;*;*\r\n");
  struct Rec {
    std::uint32_t number, time;
  };
  auto span = [](std::uint32_t from, std::uint32_t to, std::uint32_t time) {
    std::vector<Rec> recs;
    for (std::uint32_t n = from; n <= to; ++n) recs.push_back({n, time + n});
    return recs;
  };
  auto lines = [](const std::vector<Rec>& newestFirst) {
    std::string text = newestFirst.empty() ? "" : "［システム］\r\n";
    for (const Rec& r : newestFirst) {
      const std::uint32_t at = 41 * 60 + 47 + (r.time - kBase);  // kBase is 15:41:47
      char line[96];
      std::snprintf(line, sizeof line,
                    "エラー    2011/07/27 15:%02u:%02u D なし %u N/A サーバー01\r\n", at / 60,
                    at % 60, r.number);
      text += line;
    }
    return text;
  };
  const std::string kCleared = "※ 前回の監視の後にログが消去されました。\r\n";
  const std::string kUnread =
      "※ ログを読めませんでした: ReadEventLog function fails. ErrNumber = 0x000005DC "
      "イベントログ: System\r\n";
  struct Run {
    std::vector<Rec> log;      // oldest first
    std::string notice;        // under the header
    std::vector<Rec> alerted;  // newest first
    std::uint32_t damaged = 0;  // the record of this number is out of sequence
  };
  struct Case {
    const char* name;
    std::vector<Run> runs;
  };
  const std::vector<Case> cases = {
      {"grows",
       {{span(1, 3, kBase), "", {{3, kBase + 3}, {2, kBase + 2}, {1, kBase + 1}}},
        {span(1, 5, kBase), "", {{5, kBase + 5}, {4, kBase + 4}}},
        {span(1, 5, kBase), "", {}}}},
      {"older time appended",
       {{{{1, kBase + 20}, {2, kBase + 30}}, "", {{2, kBase + 30}, {1, kBase + 20}}},
        {{{1, kBase + 20}, {2, kBase + 30}, {3, kBase + 5}}, "", {{3, kBase + 5}}}}},
      {"cleared, fewer records",
       {{span(1, 5, kBase),
         "",
         {{5, kBase + 5}, {4, kBase + 4}, {3, kBase + 3}, {2, kBase + 2}, {1, kBase + 1}}},
        {span(1, 2, kBase + 9), kCleared, {{2, kBase + 11}, {1, kBase + 10}}}}},
      {"cleared, past the bookmark again",
       {{span(1, 1, kBase), "", {{1, kBase + 1}}},
        {span(1, 2, kBase + 9), kCleared, {{2, kBase + 11}, {1, kBase + 10}}}}},
      {"wrapped past the bookmark",
       {{span(1, 3, kBase), "", {{3, kBase + 3}, {2, kBase + 2}, {1, kBase + 1}}},
        {span(8, 9, kBase),
         "※ 監視前に上書きされた記録: 4 件\r\n",
         {{9, kBase + 9}, {8, kBase + 8}}}}},
      // Damage reads the same every time: the section says the log was not
      // read whole, and the next run stops above it.
      {"damaged below the new records",
       {{span(1, 3, kBase), "", {{3, kBase + 3}, {2, kBase + 2}, {1, kBase + 1}}},
        {span(1, 6, kBase), kUnread, {{6, kBase + 6}, {5, kBase + 5}}, 4},
        {span(1, 6, kBase), "", {}, 4}}},
      {"wrapped to just after the bookmark",
       {{span(1, 3, kBase), "", {{3, kBase + 3}, {2, kBase + 2}, {1, kBase + 1}}},
        {span(4, 5, kBase), "", {{5, kBase + 5}, {4, kBase + 4}}}}},
  };
  for (const Case& c : cases) {
    const std::string state = Path(std::string("state-") + c.name + ".ini");
    for (std::size_t i = 0; i < c.runs.size(); ++i) {
      EvtRecipe recipe;
      std::size_t damagedAt = 0;
      for (const Rec& r : c.runs[i].log) {
        recipe.records.push_back(Record(r.number, r.time, 1, u"D", r.number));
        if (r.number < c.runs[i].damaged) damagedAt += recipe.records.back().size();
      }
      Bytes file = BuildEvtFile(recipe);
      if (c.runs[i].damaged != 0) PutU32(file, 48 + damagedAt + 8, 77);
      Write("System.evt", file);
      const Result r = Zkq({"check", "--rules", Path("rules.txt"), "--dir", dir_.string(),
                            "--state", state, "--no-messages"});
      // A read that meets the damage says so; the next run stops above it.
      const bool meetsDamage = c.runs[i].damaged != 0 && !c.runs[i].alerted.empty();
      EXPECT_EQ(r.status, meetsDamage ? 1 : 0) << c.name << ", run " << i + 1 << ": " << r.err;
      std::string expected = lines(c.runs[i].alerted);
      if (!c.runs[i].notice.empty()) {
        if (expected.empty()) expected = "［システム］\r\n";
        expected.insert(expected.find('\n') + 1, c.runs[i].notice);
      }
      EXPECT_EQ(r.out, expected) << c.name << ", run " << i + 1;
    }
  }
}

TEST(AppendUtf8, MatchesTheProjectCodec) {
  const std::vector<std::u16string> cases = {u"",
                                             u"ASCII only",
                                             u"情報\tなし",
                                             u"é ß ¥",
                                             u"\U0001F600 after",
                                             std::u16string(1, u'\xD800') + u"x",
                                             u"x" + std::u16string(1, u'\xDC00'),
                                             u"end\xD83D"};
  for (const std::u16string& text : cases) {
    std::string out = "prefix:";
    AppendUtf8(out, text);
    EXPECT_EQ(out, "prefix:" + ToUtf8(text));
  }
}

}  // namespace
}  // namespace zkq
