#include "tool/zkq_setup.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"
#include "base/text.h"
#include "config/settings.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

class Text : public Output {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct SetupRun {
  int status;
  std::string out, err;
};

SetupRun ZkqSetupWith(std::vector<std::u16string> args, bool folderMade = true) {
  Text out, err;
  args.insert(args.begin(), u"setup");
  const int status = RunZkqSetup(args, out, err, [folderMade](const fs::path& folder) {
    if (folderMade) fs::create_directories(folder);
    return folderMade;
  });
  return {status, out.text, err.text};
}

TEST(ZkqSetup, WritesTheFirstSettingsOnceAndKeepsThemAfterwards) {
  test_support::ScratchFolder scratch("zkq-setup-");
  const fs::path dir = scratch.Path() / "state";
  const std::u16string dirText = FromUtf8(dir.string());
  const SetupRun first =
      ZkqSetupWith({u"--dir", dirText, u"--server", u" 127.0.0.1 ", u"--port", u"2525", u"--from",
                    u"", u"--to", u"a@example.jp", u"--security", u""});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("wrote"), std::string::npos);

  test_support::RecordingBoxes boxes;
  const SettingsFile file(dir / "zkQuorvane.ini", boxes);
  const std::pair<const char16_t*, const char16_t*> expected[] = {
      {u"SmtpServer", u"127.0.0.1"}, {u"SmtpPort", u"2525"},
      {u"To", u"a@example.jp"},      {u"From", u"zkquorvane@example.jp"},
      {u"SmtpSecurity", u"None"},    {u"ServiceStart", u"1"},
      {u"AutoStart", u"0"},          {u"Interval", u"5"},
      {u"Heartbeat", u"08:30"},      {u"Rules", u"rules.txt"},
      {u"Subject", u"監視警告"}};
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(file.ReadIniString(kSettingsSection, key), value) << ToUtf8(key);
  }
  const auto rules = ReadWholeFile(dir / "rules.txt");
  ASSERT_TRUE(rules);
  EXPECT_EQ(rules->substr(0, 9), "System;\x91\xce") << "code page 932, as the monitor reads it";

  const SetupRun again =
      ZkqSetupWith({u"--dir", dirText, u"--server", u"other", u"--to", u"b@example.jp"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(file.ReadIniString(kSettingsSection, u"SmtpServer"), u"127.0.0.1") << "kept";
  EXPECT_EQ(again.out.find("wrote"), std::string::npos) << again.out;

  // Without a server the service does not monitor until one is set.
  const SetupRun bare = ZkqSetupWith({u"--dir", FromUtf8((scratch.Path() / "bare").string())});
  EXPECT_EQ(bare.status, 0);
  const SettingsFile bareFile(scratch.Path() / "bare" / "zkQuorvane.ini", boxes);
  EXPECT_EQ(bareFile.ReadIniString(kSettingsSection, u"ServiceStart"), u"0");
}

TEST(ZkqSetup, RefusesWrongArgumentsAndAFolderItCannotMake) {
  const struct {
    std::vector<std::u16string> args;
    bool folderMade;
    int status;
  } cases[] = {
      {{}, true, 2},
      {{u"--dir", u""}, true, 2},
      {{u"--dir", u"x", u"--security", u"ssl"}, true, 2},
      {{u"--dir", u"x", u"--to"}, true, 2},
      {{u"--dir", u"x", u"--bogus", u"1"}, true, 2},
      {{u"--dir", u"no-such-place"}, false, 1},
  };
  for (const auto& c : cases) {
    const SetupRun run = ZkqSetupWith(c.args, c.folderMade);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_FALSE(run.err.empty());
  }
}

}  // namespace
}  // namespace zkq
