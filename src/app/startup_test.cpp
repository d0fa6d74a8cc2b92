#include "app/startup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

TEST(ProgramDirText, FolderOfTheExecutable) {
  const struct {
    const char16_t* exe;
    const char16_t* dir;
  } cases[] = {
      {u"C:\\Program Files\\zkQuorvane\\zkQuorvane.exe", u"C:\\Program Files\\zkQuorvane"},
      {u"C:\\zkQuorvane.exe", u"C:\\"},
      {u"\\\\server\\share\\zkQuorvane.exe", u"\\\\server\\share"},
      {u"/opt/zkq/zkQuorvane.exe", u"/opt/zkq"},
      {u"/zkQuorvane.exe", u"/"},
      {u"zkQuorvane.exe", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramDirText(c.exe), c.dir) << ToUtf8(c.exe);
  }
}

TEST(HelpPathFor, OneBackslashBeforeTheName) {
  const struct {
    const char16_t* dir;
    const char16_t* help;
  } cases[] = {
      {u"C:\\", u"C:\\zkQuorvane.hlp"},
      {u"C:\\Tools\\zkq", u"C:\\Tools\\zkq\\zkQuorvane.hlp"},
      {u"D:\\監視\\", u"D:\\監視\\zkQuorvane.hlp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HelpPathFor(c.dir), c.help) << ToUtf8(c.dir);
  }
}

TEST(ArgumentsOf, DropsTheProgramNameAndOneBlank) {
  const struct {
    const char16_t* full;
    const char16_t* args;
  } cases[] = {
      {u"\"C:\\Program Files\\zkq\\zkQuorvane.exe\" -install", u"-install"},
      {u"\"C:\\Program Files\\zkq\\zkQuorvane.exe\"  -uninstall", u" -uninstall"},
      {u"zkQuorvane.exe -install ", u"-install "},
      {u"zkQuorvane.exe", u""},
      {u"\"zkQuorvane.exe\"", u""},
      {u"zkQuorvane.exe   ", u"  "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArgumentsOf(c.full), c.args) << ToUtf8(c.full);
  }
}

using test_support::RecordingBoxes;
using test_support::ShownBox;

class FakeDirectory : public CurrentDirectory {
 public:
  bool Set(const fs::path& dir) override {
    set.push_back(dir);
    return result;
  }
  std::vector<fs::path> set;
  bool result = true;
};

class TempDir {
 public:
  void WriteIni(const std::string& body) {
    std::ofstream(path / "zkQuorvane.ini", std::ios::binary) << "[zkQuorvane]\r\n"
                                                             << EncodeCp932(FromUtf8(body));
  }
  std::u16string Exe() const { return (path / "zkQuorvane.exe").u16string(); }
  test_support::ScratchFolder folder{"zkq-startup-"};
  fs::path path = folder.Path();
};

TEST(RunMain, LoadsTheSettingsOfTheProgramFolder) {
  TempDir dir;
  dir.WriteIni("Interval=5\r\nAutoStart=0\r\nIconStart=1\r\nServiceStart=0\r\nSubject=監視\r\n");
  RecordingBoxes boxes;
  SettingsFile file({}, boxes);
  FakeDirectory cwd;
  const auto values = RunMain(dir.Exe(), u"  -install ", file, boxes, cwd);
  ASSERT_TRUE(values.has_value());
  EXPECT_TRUE(boxes.shown.empty());
  ASSERT_EQ(cwd.set.size(), 1u);
  EXPECT_EQ(cwd.set[0], dir.path);
  EXPECT_EQ(values->programDir, dir.path);
  EXPECT_EQ(file.Path(), dir.path / "zkQuorvane.ini");
  EXPECT_EQ(values->rawCommandLine, u"  -install ");
  EXPECT_EQ(values->commandLine, u"-install");
  EXPECT_EQ(values->countdown, 4);
  EXPECT_EQ(values->settings.IconStart, u"1");
  EXPECT_EQ(values->settings.Subject, u"監視");
  EXPECT_EQ(values->helpPath, dir.path.u16string() + u"\\zkQuorvane.hlp");
}

TEST(RunMain, FailuresEndWithoutAWindow) {
  const struct {
    const char* name;
    bool writeIni;
    std::string ini;
    bool cwdResult;
    std::u16string message;
  } cases[] = {
      {"missing settings file", false, "", true,
       u"zkQuorvane.iniファイルの読み込みに失敗しました！\r\n型が一致しません。"},
      {"interval abc", true, "Interval=abc\r\n", true,
       u"zkQuorvane.iniファイルの読み込みに失敗しました！\r\n型が一致しません。"},
      {"interval 40000", true, "Interval=40000\r\n", true,
       u"zkQuorvane.iniファイルの読み込みに失敗しました！\r\nオーバーフローしました。"},
      {"folder cannot be made current", true, "Interval=5\r\n", false,
       u"アプリケーションエラー！\r\nパスが見つかりません。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.writeIni) dir.WriteIni(c.ini);
    RecordingBoxes boxes;
    SettingsFile file({}, boxes);
    FakeDirectory cwd;
    cwd.result = c.cwdResult;
    EXPECT_FALSE(RunMain(dir.Exe(), u"", file, boxes, cwd).has_value());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, c.message);
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
  }
}

class FakeStateFolder : public StateFolder {
 public:
  std::u16string Path() override { return path.u16string(); }
  bool Prepare() override {
    ++prepared;
    if (writable) fs::create_directories(path);
    return writable;
  }
  fs::path path;
  bool writable = true;
  int prepared = 0;
};

TEST(RunMain, AnInstalledProgramKeepsItsStateInTheStateFolderOrRefusesToStart) {
  const struct {
    const char* name;
    bool iniBeside, writable;
    bool inState;  // else beside the executable; nothing when refused
    bool starts;
  } cases[] = {
      {"portable: the settings file beside the executable", true, false, false, true},
      {"installed", false, true, true, true},
      {"installed, but the state folder cannot be written", false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.iniBeside) dir.WriteIni("Interval=5\r\n");
    FakeStateFolder state;
    state.path = dir.path / "ProgramData" / "zkQuorvane";
    state.writable = c.writable;
    fs::create_directories(state.path);
    std::ofstream(state.path / "zkQuorvane.ini", std::ios::binary)
        << "[zkQuorvane]\r\nInterval=7\r\n";
    RecordingBoxes boxes;
    SettingsFile file({}, boxes);
    FakeDirectory cwd;
    const auto values = RunMain(dir.Exe(), u"", file, boxes, cwd, &state);
    EXPECT_EQ(state.prepared, c.iniBeside ? 0 : 1);
    if (!c.starts) {
      EXPECT_FALSE(values.has_value());
      EXPECT_TRUE(cwd.set.empty());
      ASSERT_EQ(boxes.shown.size(), 1u);
      EXPECT_EQ(boxes.shown[0].text,
                u"設定と監視の記録を保存するフォルダー " + state.path.u16string() +
                    u" に書き込めないため、監視を始められません。\r\n"
                    u"管理者として実行するか、サービスとして監視してください。");
      continue;
    }
    ASSERT_TRUE(values.has_value());
    EXPECT_TRUE(boxes.shown.empty());
    const fs::path expected = c.inState ? state.path : dir.path;
    EXPECT_EQ(cwd.set, std::vector<fs::path>{expected});
    EXPECT_EQ(values->programDir, expected);
    EXPECT_EQ(file.Path(), expected / "zkQuorvane.ini");
    EXPECT_EQ(values->countdown, c.inState ? 6 : 4);
    EXPECT_EQ(values->helpPath, dir.path.u16string() + u"\\zkQuorvane.hlp")
        << "help beside the exe";
  }
}

TEST(ProcessCurrentDirectory, ChangesTheDirectoryOrSaysItCannot) {
  TempDir dir;
  const fs::path before = fs::current_path();
  ProcessCurrentDirectory cwd;
  EXPECT_TRUE(cwd.Set(dir.path));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), dir.path));
  EXPECT_FALSE(cwd.Set(dir.path / "missing"));
  fs::current_path(before);
}

}  // namespace
}  // namespace zkq
