#include "base/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "base/system_time_zone.h"
#include "base/testing/scratch_folder.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

class FailingCalls : public FileCalls {
 public:
  explicit FailingCalls(int failing) : failing_(failing) {}
  bool Write(std::FILE* file, std::string_view bytes) override {
    // Half the bytes reach the file before the disk is full.
    if (failing_ != 0) return FileCalls::Write(file, bytes);
    FileCalls::Write(file, bytes.substr(0, bytes.size() / 2));
    return false;
  }
  bool Flush(std::FILE* file) override { return failing_ != 1 && FileCalls::Flush(file); }
  ReplaceOutcome Replace(const fs::path& from, const fs::path& to) override {
    return failing_ == 2 ? ReplaceOutcome::Failed : FileCalls::Replace(from, to);
  }

 private:
  int failing_;
};

// A rewrite that fails at any step leaves the old file byte for byte as it
// was, and no temporary file behind; one that succeeds keeps the permissions.
TEST(ReplaceFileAtomically, AFailedStepLeavesTheOldFileWhole) {
  test_support::ScratchFolder folder("zkq-files-");
  const fs::path path = folder.Path() / "zkQuorvane.ini";
  const std::string old = "[zkQuorvane]\r\nDateStamp=2026/12/01\r\n";
  for (int failing : {0, 1, 2}) {
    std::ofstream(path, std::ios::binary) << old;
    FailingCalls calls(failing);
    EXPECT_FALSE(ReplaceFileAtomically(path, "[zkQuorvane]\r\nDateStamp=2026/12/08\r\n", calls))
        << "step " << failing;
    EXPECT_EQ(ReadWholeFile(path), old) << "step " << failing;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
        << "no temporary file left after step " << failing;
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(ReplaceFileAtomically(path, "new"));
  EXPECT_EQ(ReadWholeFile(path), "new");
#ifndef _WIN32  // Windows knows only read-only or not
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_FALSE(ReadWholeFile(folder.Path()).has_value()) << "a folder is no file";
}

// Another program holding the file makes the replacement wait and try again,
// a few times; a file that stays held, or a plain failure, leaves it whole.
TEST(ReplaceFileAtomically, RetriesWhileTheFileIsBusy) {
  class BusyCalls : public FileCalls {
   public:
    explicit BusyCalls(int busyTries, ReplaceOutcome then) : busyTries_(busyTries), then_(then) {}
    ReplaceOutcome Replace(const fs::path& from, const fs::path& to) override {
      temporaries.push_back(from);
      if (++tries <= busyTries_) return ReplaceOutcome::Busy;
      return then_ == ReplaceOutcome::Done ? FileCalls::Replace(from, to) : then_;
    }
    void Pause(std::chrono::milliseconds time) override { paused += time; }
    int tries = 0;
    std::chrono::milliseconds paused{0};
    std::vector<fs::path> temporaries;

   private:
    int busyTries_;
    ReplaceOutcome then_;
  };
  const struct {
    int busyTries;
    ReplaceOutcome then;
    bool replaced;
    int tries;
  } cases[] = {
      {3, ReplaceOutcome::Done, true, 4},
      {kReplaceTries, ReplaceOutcome::Done, false, kReplaceTries},
      {0, ReplaceOutcome::Failed, false, 1},
  };
  test_support::ScratchFolder folder("zkq-files-");
  const fs::path path = folder.Path() / "rules.txt";
  std::vector<fs::path> temporaries;
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << "old";
    BusyCalls calls(c.busyTries, c.then);
    EXPECT_EQ(ReplaceFileAtomically(path, "new", calls), c.replaced) << c.busyTries;
    EXPECT_EQ(ReadWholeFile(path), c.replaced ? "new" : "old") << c.busyTries;
    EXPECT_EQ(calls.tries, c.tries);
    EXPECT_EQ(calls.paused, (c.tries - 1) * kReplacePause);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
    temporaries.push_back(calls.temporaries.front());
  }
  // Each write has a temporary file of its own.
  EXPECT_NE(temporaries[0], temporaries[1]);
  EXPECT_EQ(temporaries[0].parent_path(), folder.Path());
}

#ifndef _WIN32
// The machine's zone converts the stamp to UTC with its own daylight saving.
TEST(SystemTimeZone, FollowsTheZoneOfTheMachine) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved ? saved : "";
  const struct {
    const char* tz;
    DateTime local;
    std::int64_t offset;  // local minus UTC
  } cases[] = {
      {"Asia/Tokyo", {2026, 7, 1, 12, 0, 0}, 9 * 3600},
      {"UTC", {2026, 7, 1, 12, 0, 0}, 0},
      {"Europe/Berlin", {2026, 1, 15, 12, 0, 0}, 3600},
      {"Europe/Berlin", {2026, 7, 15, 12, 0, 0}, 7200},
      {"America/New_York", {2026, 12, 8, 23, 30, 0}, -5 * 3600},
  };
  SystemTimeZone zone;
  for (const auto& c : cases) {
    setenv("TZ", c.tz, 1);
    tzset();
    EXPECT_EQ(zone.LocalToUtc(c.local), c.local.ToSeconds() - c.offset) << c.tz;
  }
  if (saved)
    setenv("TZ", before.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
#endif

}  // namespace
}  // namespace zkq
