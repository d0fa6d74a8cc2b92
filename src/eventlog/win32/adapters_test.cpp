#include "eventlog/win32/adapters.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32/wide.h"
#include "eventlog/category.h"

namespace zkq {

using win32::FromWide;
using win32::ToWide;
namespace {

constexpr wchar_t kModuleName[] = L"zkq_test_categories.dll";
constexpr wchar_t kApplicationKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr wchar_t kSource[] = L"zkqTestSource";
constexpr wchar_t kSourceWithoutValue[] = L"zkqTestSourceNoValue";

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring WindowsFolder() {
  wchar_t path[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
  return std::wstring(path, length);
}

std::u16string U16(const std::wstring& text) { return FromWide(text.data(), text.size()); }

// A source registered for the module copied into the Windows folder, and one
// registered without a category file, for the whole suite.
class CategoryModuleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    installed_ = WindowsFolder() + L"\\" + kModuleName;
    ASSERT_TRUE(CopyFileW((ExeFolder() + kModuleName).c_str(), installed_.c_str(), FALSE))
        << "error " << GetLastError();
    const std::wstring value = L"%SystemRoot%\\" + std::wstring(kModuleName);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kApplicationKey) + kSource).c_str(),
                              0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const LSTATUS set = RegSetValueExW(key, L"CategoryMessageFile", 0, REG_EXPAND_SZ,
                                       reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    // An event message file list as it is registered: a variable, and a
    // module that does not exist in front of the one that does.
    const std::wstring messages =
        L"%ZKQ_TEST_NO_VARIABLE%\\none.dll;%SystemRoot%\\" + std::wstring(kModuleName);
    const LSTATUS setMessages = RegSetValueExW(
        key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(messages.c_str()),
        static_cast<DWORD>((messages.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    ASSERT_EQ(set, ERROR_SUCCESS);
    ASSERT_EQ(setMessages, ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              (std::wstring(kApplicationKey) + kSourceWithoutValue).c_str(), 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static void TearDownTestSuite() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kApplicationKey) + kSource).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE,
                  (std::wstring(kApplicationKey) + kSourceWithoutValue).c_str());
    DeleteFileW(installed_.c_str());
  }

  static std::wstring installed_;
  WindowsMessageTables tables_;
};
std::wstring CategoryModuleTest::installed_;

TEST_F(CategoryModuleTest, ResolvesCategoriesOfRegisteredSources) {
  const struct {
    const char16_t* log;
    const char16_t* source;
    std::uint16_t category;
    std::u16string expected;
  } cases[] = {
      {u"Application", u"zkqTestSource", 1, u"ディスク\r\n"},
      {u"Application", u"zkqTestSource", 2, u"ネットワーク接続の監視\r\n"},
      {u"Application", u"zkqTestSource", 3, u"%1 のディスク %2 が一杯です\r\n"},
      {u"Application", u"zkqTestSource", 99, u""},
      {u"Application", u"zkqTestSource", 0, u""},
      {u"Application", u"zkqTestSourceNoValue", 1, u""},
      {u"Application", u"zkqNoSuchSource", 1, u""},
      {u"System", u"zkqTestSource", 1, u""},  // registered for another log
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(ResolveCategoryText(tables_, c.log, c.source, c.category)), ToUtf8(c.expected))
        << ToUtf8(c.log) << "\\" << ToUtf8(c.source) << " category " << c.category;
  }
}

TEST_F(CategoryModuleTest, ReadsTheRegisteredValueUnexpanded) {
  const auto value = tables_.CategoryMessageFile(u"Application", u"zkqTestSource");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, u"%SystemRoot%\\zkq_test_categories.dll");

  const auto empty = tables_.CategoryMessageFile(u"Application", u"zkqTestSourceNoValue");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, u"");

  EXPECT_FALSE(tables_.CategoryMessageFile(u"Application", u"zkqNoSuchSource").has_value());
  EXPECT_FALSE(tables_.CategoryMessageFile(u"NoSuchLog", u"zkqTestSource").has_value());
}

TEST_F(CategoryModuleTest, ReadsSourceValuesAsStored) {
  const struct {
    const char16_t* source;
    const char16_t* value;
    std::optional<std::u16string> expected;
  } cases[] = {
      {u"zkqTestSource", u"EventMessageFile",
       u"%ZKQ_TEST_NO_VARIABLE%\\none.dll;%SystemRoot%\\zkq_test_categories.dll"},
      {u"zkqTestSource", u"CategoryMessageFile", u"%SystemRoot%\\zkq_test_categories.dll"},
      {u"zkqTestSource", u"ParameterMessageFile", std::nullopt},
      {u"zkqTestSourceNoValue", u"EventMessageFile", std::nullopt},
      {u"zkqNoSuchSource", u"EventMessageFile", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto value = tables_.SourceValue(u"Application", c.source, c.value);
    EXPECT_EQ(ToUtf8(value.value_or(u"(none)")), ToUtf8(c.expected.value_or(u"(none)")))
        << ToUtf8(c.source) << " " << ToUtf8(c.value);
  }
}

// Event messages come whole, however many lines, with their inserts and
// parameters as written; FormatMessageW applies %n itself. Whether the last
// line keeps its line end differs (Wine drops it after a %n), and the alert
// never shows it, so it is not compared.
TEST_F(CategoryModuleTest, GivesWholeEventMessages) {
  const std::u16string folder = U16(ExeFolder());
  const std::u16string messages = folder + u"zkq_test_messages.dll";
  std::u16string report = u"Report of %1, line 1\r\n";
  for (int line = 2; line <= 11; ++line) {
    const std::string number = std::to_string(line);
    report += u"line " + std::u16string(number.begin(), number.end()) + u"\r\n";
  }
  report += u"line 12 of %2";
  const struct {
    std::u16string path;
    std::uint32_t id;
    std::optional<std::u16string> expected;
  } cases[] = {
      {messages, 0x40001B7Cu, u"The %1 service entered the %2 state."},
      {messages, 0xC0001B58u, u"The %1 service failed to start due to the following error: \r\n%2"},
      {messages, 0x80001C20u, report},
      {messages, 7036, std::nullopt},  // the id without its severity is another id
      {folder + u"zkq_test_parameters.dll", 5001, u"The test device is not ready."},
      {U16(installed_), 1, u"ディスク"},
      {folder + u"zkq_no_such_module.dll", 1, std::nullopt},
      {folder + u"zkq_no_such_module.dll", 1, std::nullopt},  // kept as missing
      {u"", 1, std::nullopt},
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& c : cases) {
      auto text = tables_.ModuleMessage(c.path, c.id);
      while (text && (text->ends_with(u'\n') || text->ends_with(u'\r'))) text->pop_back();
      EXPECT_EQ(ToUtf8(text.value_or(u"(none)")), ToUtf8(c.expected.value_or(u"(none)")))
          << ToUtf8(c.path) << " id " << c.id << " pass " << pass;
    }
    tables_.ReleaseModules();  // the second pass loads them again
  }
  EXPECT_FALSE(Trim(tables_.SystemMessage(ERROR_ACCESS_DENIED).value_or(u"")).empty());
  EXPECT_FALSE(tables_.SystemMessage(0x2FFF1234u).has_value());
}

TEST_F(CategoryModuleTest, FormatsMessagesOfAModule) {
  const std::u16string built = U16(ExeFolder() + kModuleName);
  const struct {
    std::u16string path;
    std::uint32_t id;
    std::u16string expected;
  } cases[] = {
      {built, 1, u"ディスク\r\n"},
      {U16(installed_), 2, u"ネットワーク接続の監視\r\n"},
      {built, 3, u"%1 のディスク %2 が一杯です\r\n"},  // inserts stay as written: no arguments
      // Only in English, read on a Japanese system: Windows' own fallback finds it.
      {U16(ExeFolder()) + u"zkq_test_categories_en.dll", 1, u"Disk\r\n"},
      {built, 99, u""},
      {built + u";" + built, 1, u""},  // a list of modules is no module
      {U16(ExeFolder()) + u"zkq_no_such_module.dll", 1, u""},
      {u"", 1, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(tables_.FormatModuleMessage(c.path, c.id)), ToUtf8(c.expected))
        << ToUtf8(c.path) << " id " << c.id;
  }
}

TEST(WindowsMessageTables, ReadsTheProcessEnvironment) {
  WindowsMessageTables tables;
  const std::u16string longValue(1000, u'x');
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZKQ_TEST_JAPANESE", L"D:\\監視\\lib"));
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZKQ_TEST_LONG", ToWide(longValue).c_str()));
  SetEnvironmentVariableW(L"ZKQ_TEST_UNSET", nullptr);

  const struct {
    const char16_t* name;
    std::u16string expected;
  } cases[] = {
      {u"ZKQ_TEST_JAPANESE", u"D:\\監視\\lib"},
      {u"zkq_test_japanese", u"D:\\監視\\lib"},  // Windows names ignore case
      {u"ZKQ_TEST_LONG", longValue},
      {u"ZKQ_TEST_UNSET", u""},
      {u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToUtf8(tables.Environment(c.name)), ToUtf8(c.expected)) << ToUtf8(c.name);
  }
  EXPECT_EQ(tables.Environment(u"SystemRoot"), U16(WindowsFolder()));
}

TEST(WindowsMessageTables, SystemTextIsOneLine) {
  WindowsMessageTables tables;
  const std::u16string denied = tables.FormatSystemMessage(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Trim(denied).empty());
  EXPECT_EQ(denied.find_first_of(u"\r\n"), std::u16string::npos) << ToUtf8(denied);
  // A code the system has no text for.
  EXPECT_EQ(tables.FormatSystemMessage(0x2FFF1234u), u"");
}

// A fake log serves whole records into whatever buffer it is given, as
// ReadEventLogW does: records come out in order, many per call, a record
// larger than the batch grows the buffer, and an error is the answer as it stands.
TEST(EventLogOverReads, ReadsInBatches) {
  const struct {
    std::vector<DWORD> sizes;
    DWORD endError;
    int calls;
  } cases[] = {
      {std::vector<DWORD>(100, 600), ERROR_HANDLE_EOF, 2},  // one batch, then the end
      {std::vector<DWORD>(300, 600), ERROR_HANDLE_EOF, 4},  // 109 records a batch
      {{600, 200000, 600}, ERROR_HANDLE_EOF, 5},            // grown once for the big one
      {{600}, ERROR_EVENTLOG_FILE_CHANGED, 2},
  };
  for (const auto& c : cases) {
    std::size_t next = 0;
    int calls = 0;
    auto log =
        EventLogOverReads([&](BYTE* buffer, DWORD size, DWORD& read, DWORD& needed) -> DWORD {
          ++calls;
          read = 0;
          if (next == c.sizes.size()) return c.endError;
          if (c.sizes[next] > size) {
            needed = c.sizes[next];
            return ERROR_INSUFFICIENT_BUFFER;
          }
          while (next < c.sizes.size() && read + c.sizes[next] <= size) {
            std::memset(buffer + read, static_cast<int>(next), c.sizes[next]);
            std::memcpy(buffer + read, &c.sizes[next], 4);
            read += c.sizes[next++];
          }
          return 0;
        });
    std::span<const std::uint8_t> record;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      ASSERT_EQ(log->ReadNext(record), 0u) << i;
      ASSERT_EQ(record.size(), c.sizes[i]);
      EXPECT_EQ(record[5], static_cast<std::uint8_t>(i));
    }
    EXPECT_EQ(log->ReadNext(record), c.endError == ERROR_HANDLE_EOF ? kErrorHandleEof : c.endError);
    EXPECT_EQ(calls, c.calls);
  }
}

TEST(WindowsEventLogSource, LogsOpenAndReadToTheirEnd) {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(computer, &size));
  WindowsEventLogSource source;
  const std::u16string local = FromWide(computer, size);
  for (const std::u16string& server : {std::u16string(), local, u"\\\\" + local}) {
    for (const char16_t* name : {u"System", u"Security", u"Application"}) {
      SCOPED_TRACE(ToUtf8(name) + " on '" + ToUtf8(server) + "'");
      std::uint32_t error = 0;
      auto log = source.Open(server, name, error);
      if (log == nullptr && std::u16string_view(name) == u"Security") continue;  // no right
      ASSERT_NE(log, nullptr);
      // Wine keeps no records, so its logs end at once; a real log hands out
      // whole records, newest first, until it ends.
      std::uint32_t result = 0;
      for (int i = 0; i < 5 && result == 0; ++i) {
        std::span<const std::uint8_t> record;
        result = log->ReadNext(record);
        if (result != 0) {
          EXPECT_TRUE(record.empty());
          break;
        }
        ASSERT_GE(record.size(), 56u);
        std::uint32_t length = 0, signature = 0;
        std::memcpy(&length, record.data(), 4);
        std::memcpy(&signature, record.data() + 4, 4);
        EXPECT_EQ(length, record.size());
        EXPECT_EQ(signature, 0x654c664cu);
      }
      EXPECT_TRUE(result == 0 || result == kErrorHandleEof) << "error " << result;
    }
  }
  // Another computer's name goes to the system as it is, and no such computer exists.
  std::uint32_t error = 0;
  EXPECT_EQ(source.Open(u"zkq-no-such-host", u"System", error), nullptr);
  EXPECT_NE(error, 0u) << "the reason goes with the refusal";
}

std::vector<std::uint8_t> Sid(std::uint8_t authority, std::vector<std::uint32_t> subAuthorities) {
  std::vector<std::uint8_t> sid = {
      1, static_cast<std::uint8_t>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
  for (const std::uint32_t s : subAuthorities) {
    for (int shift = 0; shift < 32; shift += 8)
      sid.push_back(static_cast<std::uint8_t>(s >> shift));
  }
  return sid;
}

TEST(WindowsAccountNames, NamesWellKnownAccountsOnly) {
  WindowsAccountNames accounts;
  std::vector<std::uint8_t> truncated = Sid(5, {21, 1, 2, 3, 500});
  truncated.resize(truncated.size() - 2);
  std::vector<std::uint8_t> tooManyCount = Sid(5, {18});
  tooManyCount[1] = 16;  // claims more sub-authorities than a SID can hold
  const struct {
    const char* name;
    std::vector<std::uint8_t> sid;
    std::optional<std::u16string> expected;
  } cases[] = {
      {"LocalSystem", Sid(5, {18}), u"SYSTEM"},
      {"LocalService", Sid(5, {19}), u"LOCAL SERVICE"},
      {"NetworkService", Sid(5, {20}), u"NETWORK SERVICE"},
      {"Administrators", Sid(5, {32, 544}), u"Administrators"},
      {"UnknownDomainAccount", Sid(5, {21, 1111111111, 2222222222u, 3333333333u, 1001}),
       std::nullopt},
      {"Truncated", truncated, std::nullopt},
      {"CountBeyondTheBytes", tooManyCount, std::nullopt},
      {"Empty", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto name = accounts.AccountName(c.sid);
    ASSERT_EQ(name.has_value(), c.expected.has_value()) << c.name;
    if (name) {
      EXPECT_EQ(ToUtf8(*name), ToUtf8(*c.expected)) << c.name;
    }
  }
}

}  // namespace
}  // namespace zkq
