#include "about/about_box.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "base/testing/recording_boxes.h"

namespace zkq {
namespace {

class FakeSystem : public AboutBoxSystem {
 public:
  ProgramVersion ReadProgramVersion() override { return version; }
  std::uint64_t PhysicalMemoryBytes() override { return memory; }
  std::u16string ThousandsSeparator() override { return u","; }
  std::optional<std::u16string> ReadMachineString(const std::u16string& key,
                                                  const std::u16string& value) override {
    auto it = registry.find(key + u"|" + value);
    if (it == registry.end()) return std::nullopt;
    return it->second;
  }
  bool FileExists(const std::u16string& path) override { return files.count(path) != 0; }
  bool StartProgram(const std::u16string& path) override {
    started.push_back(path);
    if (throwOnStart) throw std::runtime_error("start");
    return startWorks && files.count(path) != 0;
  }

  ProgramVersion version;
  std::uint64_t memory = 0;
  std::map<std::u16string, std::u16string> registry;
  std::set<std::u16string> files;
  bool startWorks = true;
  bool throwOnStart = false;
  std::vector<std::u16string> started;
};

class FakeView : public AboutBoxView {
 public:
  void SetCaption(const std::u16string& text) override { caption = text; }
  void SetTitle(const std::u16string& text) override { title = text; }
  void SetVersion(const std::u16string& text) override { version = text; }
  void SetCopyright(const std::u16string& text) override { copyright = text; }
  void SetMemory(const std::u16string& text) override { memory = text; }
  void SetBusyCursor(bool b) override { busy = b; }
  void Close() override { closed = true; }
  std::u16string caption, title, version, copyright, memory;
  bool busy = false, closed = false;
};

TEST(AboutBoxTest, LoadShowsTitleVersionNoticeAndMemory) {
  struct Case {
    unsigned major, minor, revision;
    std::uint64_t bytes;
    std::u16string version, memory;
  };
  const Case cases[] = {
      {1, 2, 0, 523744ull * 1024 + 1023, u"Version 1.2.0", u"523,744"},
      {10, 0, 7, 6ull * 1024 * 1024 * 1024, u"Version 10.0.7", u"6,291,456"},
      {0, 0, 0, 17ull * 1024 * 1024 * 1024 * 1024, u"Version 0.0.0", u"18,253,611,008"},
      {3, 4, 5, 1023, u"Version 3.4.5", u"0"},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.version = {c.major, c.minor, c.revision, u"Copyright (C) 2026 someone"};
    system.memory = c.bytes;
    FakeView view;
    test_support::RecordingBoxes boxes;
    AboutBox box(view, system, boxes);
    box.FormLoad();
    EXPECT_EQ(view.caption, u"zkQuorvaneのﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(view.title, u"zkQuorvane");
    EXPECT_EQ(view.version, c.version);
    EXPECT_EQ(view.copyright, u"Copyright (C) 2026 someone");
    EXPECT_EQ(view.memory, u"Windowsが使用できる物理ﾒﾓﾘ: " + c.memory + u" KB");
    EXPECT_FALSE(view.busy);
    box.OkClicked();
    EXPECT_TRUE(view.closed);
  }
}

TEST(AboutBoxTest, SysInfoLooksUpPathThenLocation) {
  const std::u16string first = u"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH";
  const std::u16string second = u"SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO";
  struct Case {
    const char* name;
    std::map<std::u16string, std::u16string> registry;
    std::set<std::u16string> files;
    bool startWorks;
    bool throwOnStart;
    std::vector<std::u16string> started;
    bool message;
  };
  const Case cases[] = {
      {"first present", {{first, u"C:\\a\\msinfo.exe"}, {second, u"C:\\b"}},
       {u"C:\\a\\msinfo.exe", u"C:\\b\\MSINFO32.EXE"}, true, false, {u"C:\\a\\msinfo.exe"}, false},
      {"second with file", {{second, u"C:\\b"}}, {u"C:\\b\\MSINFO32.EXE"}, true, false,
       {u"C:\\b\\MSINFO32.EXE"}, false},
      {"empty first falls to second", {{first, u""}, {second, u"C:\\b"}},
       {u"C:\\b\\MSINFO32.EXE"}, true, false, {u"C:\\b\\MSINFO32.EXE"}, false},
      {"second without file", {{second, u"C:\\b"}}, {}, true, false, {}, true},
      {"neither", {}, {u"C:\\b\\MSINFO32.EXE"}, true, false, {}, true},
      {"first names a missing file", {{first, u"C:\\gone.exe"}}, {}, true, false,
       {u"C:\\gone.exe"}, true},
      {"start fails", {{first, u"C:\\a.exe"}}, {u"C:\\a.exe"}, false, false, {u"C:\\a.exe"}, true},
      {"start throws", {{first, u"C:\\a.exe"}}, {u"C:\\a.exe"}, true, true, {u"C:\\a.exe"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    system.registry = c.registry;
    system.files = c.files;
    system.startWorks = c.startWorks;
    system.throwOnStart = c.throwOnStart;
    FakeView view;
    test_support::RecordingBoxes boxes;
    AboutBox box(view, system, boxes);
    box.SysInfoClicked();
    EXPECT_EQ(system.started, c.started);
    ASSERT_EQ(boxes.shown.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(boxes.shown[0].text, u"現時点ではｼｽﾃﾑ情報を使用できません");
      EXPECT_EQ(boxes.shown[0].icon, MessageIcon::None);
    }
    EXPECT_FALSE(view.closed);
  }
}

}  // namespace
}  // namespace zkq
