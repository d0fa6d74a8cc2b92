#include "config/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "config/testing/fake_protector.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

using test_support::RecordingBoxes;
using test_support::ShownBox;

class SettingsTest : public testing::Test {
 protected:
  // The file as a hand-edited one in code page 932, given here in UTF-8.
  void PutIni(const std::string& utf8) {
    std::ofstream(path_, std::ios::binary) << EncodeCp932(FromUtf8(utf8));
  }
  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  test_support::ScratchFolder folder_{"zkq-settings-"};
  fs::path dir_ = folder_.Path();
  fs::path path_ = SettingsPath(dir_);
  RecordingBoxes boxes_;
};

const char kFullIni[] =
    "[zkQuorvane]\r\n"
    "SmtpServer=mail.example.jp\r\n"
    "SmtpPort=25\r\n"
    "From=watch@example.jp\r\n"
    "To=a@example.jp;b@example.jp\r\n"
    "Subject=イベント監視\r\n"
    "DateStamp=2026/12/08\r\n"
    "TimeStamp=04:14:53\r\n"
    "Rules=rules.txt\r\n"
    "Interval=5\r\n"
    "AutoStart=1\r\n"
    "IconStart=0\r\n"
    "ServiceStart=0\r\n";

TEST_F(SettingsTest, LoadReadsEveryKey) {
  PutIni(kFullIni);
  SettingsFile file(path_, boxes_);
  std::int16_t countdown = 99;
  const Settings s = LoadSettings(file, countdown);
  EXPECT_EQ(s.SmtpServer, u"mail.example.jp");
  EXPECT_EQ(s.SmtpPort, u"25");
  EXPECT_EQ(s.From, u"watch@example.jp");
  EXPECT_EQ(s.To, u"a@example.jp;b@example.jp");
  EXPECT_EQ(s.Subject, u"イベント監視");
  EXPECT_EQ(s.DateStamp, u"2026/12/08");
  EXPECT_EQ(s.TimeStamp, u"04:14:53");
  EXPECT_EQ(s.Rules, u"rules.txt");
  EXPECT_EQ(s.Interval, u"5");
  EXPECT_EQ(s.AutoStart, u"1");
  EXPECT_EQ(s.IconStart, u"0");
  EXPECT_EQ(s.ServiceStart, u"0");
  EXPECT_EQ(s.EventLogDir, u"");
  EXPECT_EQ(countdown, 4);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(SettingsTest, CountdownFollowsInterval) {
  struct Case {
    const char* interval;
    std::int16_t countdown;
  };
  const Case cases[] = {{"5", 4},     {"0", -1},        {"1", 0},          {" 7 ", 6},
                        {"\"3\"", 2}, {"32767", 32766}, {"-32767", -32768}};
  for (const Case& c : cases) {
    PutIni(std::string("[zkQuorvane]\r\nInterval=") + c.interval + "\r\n");
    std::int16_t countdown = 99;
    LoadSettings(SettingsFile(path_, boxes_), countdown);
    EXPECT_EQ(countdown, c.countdown) << c.interval;
  }
}

TEST_F(SettingsTest, BadIntervalFailsTheLoadWithTheRuntimeDescription) {
  struct Case {
    const char* ini;
    std::u16string description;
  };
  const Case cases[] = {
      {"[zkQuorvane]\r\nInterval=40000\r\n", kOverflow},
      {"[zkQuorvane]\r\nInterval=-40000\r\n", kOverflow},
      {"[zkQuorvane]\r\nInterval=abc\r\n", kTypeMismatch},
      {"[zkQuorvane]\r\nInterval=\r\n", kTypeMismatch},
      {"[zkQuorvane]\r\nSmtpPort=25\r\n", kTypeMismatch},
      {"[other]\r\nInterval=5\r\n", kTypeMismatch},
  };
  for (const Case& c : cases) {
    PutIni(c.ini);
    std::int16_t countdown = 99;
    try {
      LoadSettings(SettingsFile(path_, boxes_), countdown);
      ADD_FAILURE() << "no failure for " << c.ini;
    } catch (const Failure& f) {
      EXPECT_EQ(f.Description(), c.description) << c.ini;
    }
    EXPECT_EQ(countdown, 99) << c.ini;
  }
}

TEST_F(SettingsTest, MissingFileFailsTheLoad) {
  std::int16_t countdown = 0;
  EXPECT_THROW(LoadSettings(SettingsFile(path_, boxes_), countdown), Failure);
  EXPECT_FALSE(fs::exists(path_));  // a load never creates the file
}

TEST_F(SettingsTest, LoadFailedTextNamesTheFileAndTheCause) {
  EXPECT_EQ(SettingsLoadFailedText(kTypeMismatch),
            u"zkQuorvane.iniファイルの読み込みに失敗しました！\r\n型が一致しません。");
}

TEST_F(SettingsTest, FlagsAndOptionalKeysReadAsStored) {
  struct Case {
    const char* line;
    std::u16string autoStart;
  };
  // The profile functions drop the blanks; quotes keep them for the caller.
  const Case cases[] = {{"AutoStart= 1", u"1"},  {"AutoStart=\" 1\"", u" 1"},
                        {"AutoStart=-1", u"-1"}, {"AutoStart=yes", u"yes"},
                        {"AutoStart=", u""},     {"; no AutoStart", u""}};
  for (const Case& c : cases) {
    PutIni(std::string("[zkQuorvane]\r\nInterval=5\r\n") + c.line +
           "\r\nEventLogDir=logs\\evt\r\n");
    std::int16_t countdown = 0;
    const Settings s = LoadSettings(SettingsFile(path_, boxes_), countdown);
    EXPECT_EQ(s.AutoStart, c.autoStart) << c.line;
    EXPECT_EQ(s.EventLogDir, u"logs\\evt") << c.line;
    EXPECT_EQ(s.IconStart, u"") << c.line;
  }
}

TEST_F(SettingsTest, OAuthKeysAreReadAndAClearSecretIsWrittenBackProtected) {
  PutIni(
      "[zkQuorvane]\r\nInterval=5\r\nSmtpAuth=OAuth2\r\nSmtpUser=watch@contoso.jp\r\n"
      "OAuthTenant=contoso.onmicrosoft.com\r\nOAuthClientId=0b1c-42\r\n"
      "OAuthClientSecret=Xy8Q~sec\r\n");
  test_support::FakeProtector protector;
  SettingsFile file(path_, boxes_);
  file.SetProtector(&protector);
  std::int16_t countdown = 0;
  for (int start = 0; start < 2; ++start) {
    const Settings s = LoadSettings(file, countdown);
    EXPECT_EQ(s.SmtpAuth, u"OAuth2");
    EXPECT_EQ(s.OAuthTenant, u"contoso.onmicrosoft.com");
    EXPECT_EQ(s.OAuthClientId, u"0b1c-42");
    EXPECT_EQ(s.OAuthClientSecret, u"Xy8Q~sec") << start;
    EXPECT_EQ(s.OAuthScope, u"");
    EXPECT_EQ(s.OAuthTokenUrl, u"");
    EXPECT_EQ(Bytes().find("Xy8Q~sec"), std::string::npos) << Bytes();
    EXPECT_NE(Bytes().find("OAuthClientSecret=dpapi:"), std::string::npos) << Bytes();
  }
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(SettingsTest, LongSubjectIsCutAt254Bytes) {
  // 300 bytes: 150 double-byte characters.
  std::u16string subject(150, u'監');
  PutIni("[zkQuorvane]\r\nSubject=" + ToUtf8(subject) + "\r\nTo=" + std::string(300, 'a') + "\r\n");
  SettingsFile file(path_, boxes_);
  EXPECT_EQ(file.ReadIniString(kSettingsSection, u"Subject"), std::u16string(127, u'監'));
  EXPECT_EQ(file.ReadIniString(kSettingsSection, u"To"), std::u16string(254, u'a'));
}

TEST_F(SettingsTest, WriteThenReadGivesTheTextBack) {
  SettingsFile file(path_, boxes_);
  const std::u16string subject = u"【警告】サーバー監視 ～ ①";
  EXPECT_TRUE(file.WriteIniString(kSettingsSection, u"Subject", subject));
  EXPECT_TRUE(file.WriteIniString(kSettingsSection, u"DateStamp", u"2026/12/08"));
  EXPECT_TRUE(file.WriteIniString(kSettingsSection, u"DateStamp", u"2026/12/09"));
  EXPECT_EQ(file.ReadIniString(kSettingsSection, u"Subject"), subject);
  EXPECT_EQ(file.ReadIniString(u"zkquorvane", u"datestamp"), u"2026/12/09");
  EXPECT_EQ(Bytes(),
            EncodeCp932(u"[zkQuorvane]\r\nSubject=" + subject + u"\r\nDateStamp=2026/12/09\r\n"));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(SettingsTest, WriteKeepsHandEditedLines) {
  PutIni("; 手で書いた注記\r\n[zkQuorvane]\r\nRules = rules.txt\r\nInterval=5\r\nMine=x\r\n");
  SettingsFile file(path_, boxes_);
  EXPECT_TRUE(file.WriteIniString(kSettingsSection, u"Interval", u"10"));
  EXPECT_EQ(Bytes(), EncodeCp932(u"; 手で書いた注記\r\n[zkQuorvane]\r\nRules = rules.txt\r\n"
                                 u"Interval=10\r\nMine=x\r\n"));
}

TEST_F(SettingsTest, ReadOnlyFileWarnsOnceForEveryKeyWithTheFullPath) {
  PutIni(kFullIni);
  fs::permissions(path_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  SettingsFile file(path_, boxes_);
  const char16_t* keys[] = {u"SmtpServer", u"Interval", u"AutoStart"};
  for (const char16_t* key : keys) {
    EXPECT_FALSE(file.WriteIniString(kSettingsSection, key, u"changed"));
  }
  const std::u16string expected =
      PathText(path_) + u" ファイルの書き込み時にエラーが発生しました。";
  ASSERT_EQ(boxes_.shown.size(), 3u);
  for (const ShownBox& s : boxes_.shown) {
    EXPECT_EQ(s.text, expected);
    EXPECT_EQ(s.icon, MessageIcon::Exclamation);
  }
  EXPECT_EQ(file.ReadIniString(kSettingsSection, u"SmtpServer"), u"mail.example.jp");
}

TEST_F(SettingsTest, WriteIntoAMissingFolderWarnsWithThatPath) {
  const fs::path missing = dir_ / "gone" / "zkQuorvane.ini";
  SettingsFile file(missing, boxes_);
  EXPECT_FALSE(file.WriteIniString(kSettingsSection, u"Interval", u"5"));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text,
            PathText(missing) + u" ファイルの書き込み時にエラーが発生しました。");
  EXPECT_TRUE(fs::path(PathText(missing)).is_absolute());
  EXPECT_FALSE(fs::exists(dir_ / "gone"));
}

TEST_F(SettingsTest, ValueThatWouldAddALineIsRefused) {
  PutIni(kFullIni);
  SettingsFile file(path_, boxes_);
  EXPECT_FALSE(file.WriteIniString(kSettingsSection, u"Subject", u"x\r\nInterval=0"));
  EXPECT_EQ(boxes_.shown.size(), 1u);
  std::int16_t countdown = 0;
  LoadSettings(file, countdown);
  EXPECT_EQ(countdown, 4);
}

TEST_F(SettingsTest, PathsOfTheFile) {
  EXPECT_EQ(SettingsPath(dir_), dir_ / "zkQuorvane.ini");
  const std::u16string relative = PathText("a/../zkQuorvane.ini");
  EXPECT_EQ(relative, (fs::current_path() / "zkQuorvane.ini").u16string());
}

// Today's Notepad saves UTF-8, with or without a byte order mark: such a file
// reads as it looks, and a write keeps the encoding and every other line.
TEST_F(SettingsTest, FilesInEveryEncodingNotepadWrites) {
  const std::u16string text =
      u"; 監視の設定\r\n[zkQuorvane]\r\nSubject=障害通知 ① ｶﾞ\r\nDateStamp=2026/12/01\r\n";
  const struct {
    const char* name;
    TextEncoding encoding;
  } cases[] = {{"code page 932", TextEncoding::Cp932},
               {"UTF-8", TextEncoding::Utf8},
               {"UTF-8 with a byte order mark", TextEncoding::Utf8Bom}};
  for (const auto& c : cases) {
    std::ofstream(path_, std::ios::binary) << EncodeText(text, c.encoding);
    const SettingsFile file(path_, boxes_);
    EXPECT_EQ(file.ReadIniString(kSettingsSection, u"Subject"), u"障害通知 ① ｶﾞ") << c.name;
    EXPECT_EQ(file.ReadIniString(kSettingsSection, u"DateStamp"), u"2026/12/01") << c.name;
    ASSERT_TRUE(file.WriteIniString(kSettingsSection, u"TimeStamp", u"12:34:56")) << c.name;
    ASSERT_TRUE(file.WriteIniString(kSettingsSection, u"Subject", u"警告")) << c.name;
    EXPECT_EQ(Bytes(), EncodeText(u"; 監視の設定\r\n[zkQuorvane]\r\nSubject=警告\r\n"
                                  u"DateStamp=2026/12/01\r\nTimeStamp=12:34:56\r\n",
                                  c.encoding))
        << c.name;
  }
  EXPECT_TRUE(boxes_.shown.empty());
}

class ToggledProtector : public test_support::FakeProtector {
 public:
  std::optional<std::string> Protect(std::string_view clear) override {
    if (!works) return std::nullopt;
    return FakeProtector::Protect(clear);
  }
  bool works = true;
};

// A password typed in clear is protected at the start, or the user is told
// that it stays in clear.
TEST_F(SettingsTest, AClearPasswordIsProtectedOrTheUserIsTold) {
  for (const bool works : {true, false}) {
    PutIni("[zkQuorvane]\r\nInterval=5\r\nSmtpPassword=secret\r\n");
    boxes_.shown.clear();
    ToggledProtector protector;
    protector.works = works;
    SettingsFile file(path_, boxes_);
    file.SetProtector(&protector);
    std::int16_t countdown = 0;
    EXPECT_EQ(LoadSettings(file, countdown).SmtpPassword, u"secret");
    const bool clear = file.ReadIniString(kSettingsSection, u"SmtpPassword") == u"secret";
    EXPECT_EQ(clear, !works);
    ASSERT_EQ(boxes_.shown.size(), works ? 0u : 1u);
    if (!works) {
      EXPECT_EQ(boxes_.shown[0].text,
                u"設定ファイルの SmtpPassword を保護して保存できませんでした。平文のまま残っています。");
    }
  }
}

}  // namespace
}  // namespace zkq
