#include "about/win32/about_box_win32.h"

#include <gtest/gtest.h>

#include <string>

#include "base/win32/wide.h"

namespace zkq::win32 {
namespace {

constexpr wchar_t kTestKey[] = L"SOFTWARE\\zkQuorvane about test";

TEST(WindowsAboutSystemTest, ReadsOwnVersionResource) {
  WindowsAboutSystem system(nullptr);
  const ProgramVersion version = system.ReadProgramVersion();
  EXPECT_EQ(version.major, 1u);
  EXPECT_EQ(version.minor, 2u);
  EXPECT_EQ(version.revision, 0u);
  EXPECT_EQ(version.legalCopyright, u"著作権 (C) 2026 テスト");
  EXPECT_GT(system.PhysicalMemoryBytes(), 0u);
}

TEST(WindowsAboutSystemTest, ReadsMachineStringsWholeAndMissingAsAbsent) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  // Longer than a 1024-byte buffer holds.
  const std::wstring longPath = L"C:\\" + std::wstring(700, L'x') + L"\\MSINFO32.EXE";
  const std::wstring shortPath = L"C:\\tools";
  RegSetValueExW(key, L"LONG", 0, REG_SZ, reinterpret_cast<const BYTE*>(longPath.c_str()),
                 static_cast<DWORD>((longPath.size() + 1) * sizeof(wchar_t)));
  // Stored without its terminating NUL.
  RegSetValueExW(key, L"SHORT", 0, REG_SZ, reinterpret_cast<const BYTE*>(shortPath.c_str()),
                 static_cast<DWORD>(shortPath.size() * sizeof(wchar_t)));
  const DWORD number = 5;
  RegSetValueExW(key, L"NUMBER", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);

  WindowsAboutSystem system(nullptr);
  const std::u16string keyName = FromWide(kTestKey);
  EXPECT_EQ(system.ReadMachineString(keyName, u"LONG"), FromWide(longPath));
  EXPECT_EQ(system.ReadMachineString(keyName, u"SHORT"), u"C:\\tools");
  EXPECT_EQ(system.ReadMachineString(keyName, u"NUMBER"), std::nullopt);
  EXPECT_EQ(system.ReadMachineString(keyName, u"MISSING"), std::nullopt);
  EXPECT_EQ(system.ReadMachineString(keyName + u"\\none", u"LONG"), std::nullopt);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestKey);
  EXPECT_EQ(system.ReadMachineString(keyName, u"SHORT"), std::nullopt);
}

TEST(WindowsAboutSystemTest, StartsExistingProgramOnly) {
  WindowsAboutSystem system(nullptr);
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  const std::u16string cmd = FromWide(std::wstring(folder) + L"\\cmd.exe");
  EXPECT_TRUE(system.FileExists(cmd));
  EXPECT_FALSE(system.FileExists(FromWide(folder)));
  EXPECT_FALSE(system.FileExists(u"C:\\no such folder\\MSINFO32.EXE"));
  EXPECT_FALSE(system.StartProgram(u"C:\\no such folder\\MSINFO32.EXE"));
}

}  // namespace
}  // namespace zkq::win32
