#include "eventlog/win32/evt_api.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/testing/recording_boxes.h"
#include "base/text.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"

namespace zkq {
namespace {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(AppendEvtVariantText, ShowsEachTypeAsTheEvtxReaderDoes) {
  BYTE localSystem[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  BYTE admins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  PSID sids[] = {localSystem, admins};
  GUID guid = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
  SYSTEMTIME when = {2026, 12, 4, 10, 5, 8, 45, 7};
  BYTE binary[] = {0x0a, 0xff, 0x00};
  UINT32 numbers[] = {1, 4000000000u};
  LPWSTR texts[] = {const_cast<LPWSTR>(L"a"), const_cast<LPWSTR>(L"日本")};
  struct Case {
    const char* name;
    DWORD type, count;
    std::function<void(EVT_VARIANT&)> set;
    std::u16string text;
  };
  constexpr DWORD kArray = EVT_VARIANT_TYPE_ARRAY;
  const std::vector<Case> cases = {
      {"null", EvtVarTypeNull, 0, [](EVT_VARIANT&) {}, u""},
      {"string", EvtVarTypeString, 0, [](EVT_VARIANT& v) { v.StringVal = L"監視 <ok>"; },
       u"監視 <ok>"},
      {"string array", EvtVarTypeString | kArray, 2, [&](EVT_VARIANT& v) { v.StringArr = texts; },
       u"a, 日本"},
      {"ANSI string", EvtVarTypeAnsiString, 0, [](EVT_VARIANT& v) { v.AnsiStringVal = "abc"; },
       u"abc"},
      {"signed byte", EvtVarTypeSByte, 0, [](EVT_VARIANT& v) { v.SByteVal = -2; }, u"-2"},
      {"unsigned 16 bits", EvtVarTypeUInt16, 0, [](EVT_VARIANT& v) { v.UInt16Val = 65535; },
       u"65535"},
      {"signed 32 bits", EvtVarTypeInt32, 0, [](EVT_VARIANT& v) { v.Int32Val = -7; }, u"-7"},
      {"unsigned 64 bits", EvtVarTypeUInt64, 0, [](EVT_VARIANT& v) { v.UInt64Val = UINT64_MAX; },
       u"18446744073709551615"},
      {"hex 32 bits", EvtVarTypeHexInt32, 0, [](EVT_VARIANT& v) { v.UInt32Val = 31; }, u"0x1f"},
      {"hex 64 bits", EvtVarTypeHexInt64, 0,
       [](EVT_VARIANT& v) { v.UInt64Val = 0x8000000000000000ull; }, u"0x8000000000000000"},
      {"Boolean", EvtVarTypeBoolean, 0, [](EVT_VARIANT& v) { v.BooleanVal = TRUE; }, u"true"},
      {"double", EvtVarTypeDouble, 0, [](EVT_VARIANT& v) { v.DoubleVal = 1.5; }, u"1.5"},
      {"GUID", EvtVarTypeGuid, 0, [&](EVT_VARIANT& v) { v.GuidVal = &guid; },
       u"{12345678-9ABC-DEF0-0102-030405060708}"},
      {"FILETIME", EvtVarTypeFileTime, 0,
       [](EVT_VARIANT& v) { v.FileTimeVal = 116444736000000000ull + 12345678; },
       u"1970-01-01T00:00:01.2345678Z"},
      {"SYSTEMTIME", EvtVarTypeSysTime, 0, [&](EVT_VARIANT& v) { v.SysTimeVal = &when; },
       u"2026-12-10T05:08:45.007Z"},
      {"SID", EvtVarTypeSid, 0, [&](EVT_VARIANT& v) { v.SidVal = localSystem; }, u"S-1-5-18"},
      {"SID array", EvtVarTypeSid | kArray, 2, [&](EVT_VARIANT& v) { v.SidArr = sids; },
       u"S-1-5-18, S-1-5-32-544"},
      {"binary, Count bytes", EvtVarTypeBinary, 3, [&](EVT_VARIANT& v) { v.BinaryVal = binary; },
       u"0AFF00"},
      {"32-bit array", EvtVarTypeUInt32 | kArray, 2, [&](EVT_VARIANT& v) { v.UInt32Arr = numbers; },
       u"1, 4000000000"},
      {"a handle shows nothing", EvtVarTypeEvtHandle, 0, [](EVT_VARIANT&) {}, u""},
  };
  for (const Case& c : cases) {
    std::u16string out = u"<";
    EVT_VARIANT value{};
    value.Type = c.type;
    value.Count = c.count;
    c.set(value);
    AppendEvtVariantText(out, value);
    EXPECT_EQ(ToUtf8(out), ToUtf8(u"<" + c.text)) << c.name;
  }
}

// Wine's EvtQuery is a stub that fails, and most other Evt functions end the
// process: a channel then reads as one that could not be opened, every time,
// and nothing else is called. On Windows the same calls read real channels.
TEST(WindowsEvtApi, ChannelsOpenOrFailWithoutEndingTheProcess) {
  WindowsEvtApi api;
  ChannelLogSource source(api);
  NoAccountNames accounts;
  NoMessageTables tables;
  test_support::RecordingBoxes boxes;
  FixedOffsetZone zone{9 * 3600};
  EventLogContext context{source, accounts, tables, boxes, zone};
  EventList list;
  const LogReading first =
      ReadNewEventLogRows(list, u"System", u"", u"", u"", LogBookmark{1, 0}, context);
  PublisherMessageTables publisher(tables, source);
  const auto message =
      publisher.PublisherMessage(u"System", u"Microsoft-Windows-Kernel-General", 1);
  const std::vector<std::u16string> channels = source.ListChannels();
  std::uint32_t error = 0;
  const auto missing = source.Open(u"", u"zkqNoSuchChannel/Operational", error);
  EXPECT_EQ(missing, nullptr);
  if (UnderWine()) {
    EXPECT_TRUE(first.failed);
    EXPECT_TRUE(
        first.failure.starts_with(u"EvtQuery function fails.\r\nErrNumber = 0x00000078\r\n"))
        << ToUtf8(first.failure);
    EXPECT_TRUE(source.Unavailable());
    EXPECT_EQ(error, 120u);
    EXPECT_FALSE(message.has_value());
    EXPECT_TRUE(channels.empty());
    EXPECT_TRUE(list.empty());
  } else {
    EXPECT_FALSE(first.failed) << ToUtf8(first.failure);
    EXPECT_EQ(error, 15007u);
    EXPECT_NE(std::find(channels.begin(), channels.end(), u"System"), channels.end());
  }
  // A remote computer's channels are not read as if they were this one's.
  const auto remote = source.Open(u"\\\\zkqOtherComputer", u"System", error);
  EXPECT_EQ(remote, nullptr);
  EXPECT_EQ(error, UnderWine() ? 120u : static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
}

}  // namespace
}  // namespace zkq
