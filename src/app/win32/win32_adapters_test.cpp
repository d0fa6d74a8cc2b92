#include "win32_adapters.h"

#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "base/win32/folder_security.h"
#include "win_util.h"

namespace zkq::win32 {
namespace {

// The one-monitor name: SYSTEM, Administrators and this account only; a
// second start sees the first, and a name someone else took first is no monitor.
TEST(AnotherMonitorRuns, GrantsTheTrustedAccountsOnlyAndTellsTheFirstFromASquatter) {
  const wchar_t* name = L"Local\\zkQuorvane.Test.Monitor";
  UniqueKernelHandle first, second;
  ASSERT_FALSE(AnotherMonitorRuns(name, first));
  ASSERT_TRUE(first);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(first.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  std::vector<std::string> grantees;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    grantees.push_back(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart));
  }
  LocalFree(descriptor);
  EXPECT_EQ(grantees, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544", ProcessUserSid()}));
  EXPECT_TRUE(AnotherMonitorRuns(name, second)) << "a second start";

  // Taken first by another account (here: owned by Everyone).
  const wchar_t* taken = L"Local\\zkQuorvane.Test.Taken";
  PSECURITY_DESCRIPTOR foreign = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &foreign, nullptr));
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), foreign, FALSE};
  const UniqueKernelHandle squatter(CreateMutexW(&attributes, FALSE, taken));
  LocalFree(foreign);
  if (!squatter) GTEST_SKIP() << "this account cannot make an object owned by Everyone";
  UniqueKernelHandle passedOver;
  EXPECT_FALSE(AnotherMonitorRuns(taken, passedOver));
  EXPECT_FALSE(passedOver);
}

TEST(Win32Clock, NowIsTheLocalTimeOfTheCRuntime) {
  Win32Clock clock;
  const std::time_t before = std::time(nullptr);
  const DateTime now = clock.Now();
  const std::time_t after = std::time(nullptr);
  // Compared through the C runtime's own conversion, across a possible second boundary.
  bool matched = false;
  for (std::time_t t = before; t <= after && !matched; ++t) {
    const std::tm* local = std::localtime(&t);
    ASSERT_NE(local, nullptr);
    matched = now == DateTime{local->tm_year + 1900, local->tm_mon + 1, local->tm_mday,
                              local->tm_hour,        local->tm_min,     local->tm_sec};
  }
  EXPECT_TRUE(matched);
}

// Every part appears in the text.
bool ContainsAll(const std::u16string& text, std::initializer_list<std::u16string> parts) {
  for (const auto& part : parts) {
    if (text.find(part) == std::u16string::npos) return false;
  }
  return true;
}

// The parts appear in the text in this order.
bool InOrder(const std::u16string& text, std::initializer_list<std::u16string> parts) {
  std::size_t from = 0;
  for (const auto& part : parts) {
    const auto at = text.find(part, from);
    if (at == std::u16string::npos) return false;
    from = at + part.size();
  }
  return true;
}

TEST(Win32Clock, FormatsEachFieldOfTheGivenMoment) {
  Win32Clock clock;
  struct Case {
    DateTime t;
    std::initializer_list<std::u16string> dateParts, timeParts;
  };
  // Locales order the date's fields differently, but every one shows hours,
  // minutes and seconds in this order.
  const Case cases[] = {
      {{2026, 12, 8, 4, 14, 53}, {u"2026", u"12", u"8"}, {u"4", u"14", u"53"}},
      {{2031, 3, 25, 10, 5, 9}, {u"2031", u"3", u"25"}, {u"10", u"05", u"09"}},
      {{1999, 1, 31, 7, 0, 0}, {u"1999", u"1", u"31"}, {u"7", u"00", u"00"}},
  };
  for (const Case& c : cases) {
    const std::u16string date = clock.ShortDate(c.t);
    const std::u16string time = clock.LongTime(c.t);
    EXPECT_TRUE(ContainsAll(date, c.dateParts)) << "date of " << c.t.year << "/" << c.t.month;
    EXPECT_TRUE(InOrder(time, c.timeParts)) << "time of " << c.t.hour << ":" << c.t.minute;
    EXPECT_EQ(date.find(u'\0'), std::u16string::npos);
    EXPECT_EQ(time.find(u'\0'), std::u16string::npos);
  }
}

TEST(Win32Clock, ImpossibleDateGivesEmptyText) {
  Win32Clock clock;
  EXPECT_EQ(clock.ShortDate({2026, 13, 40, 0, 0, 0}), u"");
}

std::u16string Environment(const wchar_t* name) {
  wchar_t buffer[512] = {};
  const DWORD length = GetEnvironmentVariableW(name, buffer, 512);
  return length > 0 && length < 512 ? FromWide(buffer, length) : std::u16string();
}

TEST(Win32SystemInfo, NamesTheComputerAndTheUser) {
  Win32SystemInfo info;
  const std::u16string computer = info.ComputerName();
  ASSERT_FALSE(computer.empty());
  EXPECT_LE(computer.size(), 15u);
  EXPECT_EQ(computer.find(u'\0'), std::u16string::npos);
  const std::u16string expectedComputer = Environment(L"COMPUTERNAME");
  if (!expectedComputer.empty()) {
    EXPECT_EQ(CompareStringOrdinal(Wide(computer), -1, Wide(expectedComputer), -1, TRUE),
              CSTR_EQUAL);
  }
  const std::u16string user = info.UserName();
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(user.find(u'\0'), std::u16string::npos);
  const std::u16string expectedUser = Environment(L"USERNAME");
  if (!expectedUser.empty()) {
    EXPECT_EQ(CompareStringOrdinal(Wide(user), -1, Wide(expectedUser), -1, TRUE), CSTR_EQUAL);
  }
}

// What a message box showed, read from another thread while it was open.
struct SeenBox {
  std::u16string caption, text;
  bool hasIcon = false;
  bool found = false;
  HWND owner = nullptr;
};

// Waits for the box of this process captioned zkQuorvane, reads it and presses OK.
SeenBox ReadAndCloseBox() {
  SeenBox seen;
  for (int attempt = 0; attempt < 500 && !seen.found; ++attempt) {
    HWND box = FindWindowW(L"#32770", L"zkQuorvane");
    if (box == nullptr) {
      Sleep(10);
      continue;
    }
    seen.found = true;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.caption = WindowText(box);
    seen.text = WindowText(GetDlgItem(box, 0xFFFF));
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t className[32] = {};
      GetClassNameW(child, className, 32);
      const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
      if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
          IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        seen.hasIcon = true;
      }
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  return seen;
}

TEST(Win32MessageBoxes, ShowsTheTextUnderTheApplicationTitleWithTheAskedIcon) {
  struct Case {
    MessageIcon icon;
    bool hasIcon;
  };
  const Case cases[] = {
      {MessageIcon::None, false},
      {MessageIcon::Exclamation, true},
      {MessageIcon::Information, true},
      {MessageIcon::Critical, true},
  };
  for (const Case& c : cases) {
    SeenBox seen;
    std::thread reader([&] { seen = ReadAndCloseBox(); });
    Win32MessageBoxes().Show(u"監視ルールをロードできません！\r\n型が一致しません。", c.icon);
    reader.join();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, u"zkQuorvane");
    EXPECT_EQ(seen.text, u"監視ルールをロードできません！\r\n型が一致しません。");
    EXPECT_EQ(seen.hasIcon, c.hasIcon) << static_cast<int>(c.icon);
  }
}

// With none of the program's windows active (a cycle while the program is in
// the background), the main window owns the box. (A box without a visible
// owner is also asked to stay on top; Wine's boxes do not show that style.)
TEST(Win32MessageBoxes, AreOwnedByTheMainWindowWhenNoWindowIsActive) {
  const HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 100, 100, nullptr,
                                    nullptr, nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  const struct {
    const char* what;
    HWND owner;
    int show;
    HWND expectedOwner;
  } cases[] = {
      {"no main window", nullptr, SW_HIDE, nullptr},
      {"hidden main window", main, SW_HIDE, main},
      {"minimised main window", main, SW_SHOWMINNOACTIVE, nullptr},
      {"visible main window", main, SW_SHOWNOACTIVATE, main},
  };
  for (const auto& c : cases) {
    ShowWindow(main, c.show);
    SetActiveWindow(nullptr);
    Win32MessageBoxes boxes;
    boxes.SetOwner(c.owner);
    SeenBox seen;
    std::thread reader([&] { seen = ReadAndCloseBox(); });
    boxes.Show(u"text", MessageIcon::Exclamation);
    reader.join();
    ASSERT_TRUE(seen.found) << c.what;
    EXPECT_EQ(seen.owner, c.expectedOwner) << c.what;
  }
  DestroyWindow(main);
}

// The manifest the program carries (the test is built with the same resources):
// it runs as invoker, never asks for elevation, and is per-monitor v2 aware.
TEST(ProgramManifest, RunsAsInvokerAndIsPerMonitorV2Aware) {
  const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const HGLOBAL loaded = LoadResource(nullptr, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(nullptr, found));
  for (const char* part : {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
                           ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace zkq::win32
