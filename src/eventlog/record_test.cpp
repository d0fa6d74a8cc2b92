#include "eventlog/record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "eventlog/evt_builder.h"
#include "eventlog/no_lookups.h"
#include "eventlog/row_decoder.h"

namespace zkq {
namespace {

std::u16string Text(std::span<const std::uint8_t> utf16le) {
  std::u16string out;
  AppendUtf16Le(out, utf16le);
  return out;
}

// The row a record gives on a machine without account or category lookups.
EventRow RowOf(const Bytes& record) {
  NoAccountNames accounts;
  NoMessageTables tables;
  EventRowDecoder decoder(u"System", accounts, tables);
  EventRowView view;
  EXPECT_TRUE(decoder.Decode(record, std::nullopt, view));
  return view.ToRow();
}

TEST(RecordDecoding, ReadsEveryFieldOfAWholeRecord) {
  RecordRecipe recipe;
  recipe.number = 7454;
  recipe.timeGenerated = 1333774680;
  recipe.timeWritten = 1333774681;
  recipe.eventId = 0x40001B7C;
  recipe.type = 4;
  recipe.category = 3;
  recipe.source = u"Service Control Manager";
  recipe.computer = u"WKS-WINXP32BIT";
  recipe.sid = MakeSid(5, {18});
  recipe.strings = {u"Google Update Service (gupdate)", u"stopped"};
  recipe.data = {1, 2, 3};
  const Bytes record = BuildRecord(recipe);

  const RecordFields f = DecodeRecordFields(record);
  EXPECT_EQ(f.length, record.size());
  EXPECT_EQ(f.reserved, kRecordSignature);
  EXPECT_EQ(f.recordNumber, 7454u);
  EXPECT_EQ(f.timeGenerated, 1333774680u);
  EXPECT_EQ(f.timeWritten, 1333774681u);
  EXPECT_EQ(f.eventId, 0x40001B7Cu);
  EXPECT_EQ(f.eventType, 4);
  EXPECT_EQ(f.numStrings, 2);
  EXPECT_EQ(f.category, 3);
  EXPECT_EQ(Text(f.source), u"Service Control Manager");
  EXPECT_EQ(Text(f.computer), u"WKS-WINXP32BIT");
  ASSERT_EQ(f.sidState, SidState::Readable);
  EXPECT_EQ(Bytes(f.sid.begin(), f.sid.end()), recipe.sid);
}

TEST(RecordDecoding, RowColumns) {
  struct Case {
    const char* name;
    RecordRecipe recipe;
    EventRow want;
  };
  auto recipe = [](auto change) {
    RecordRecipe s;
    s.timeWritten = 1088208000;  // 2004-06-26 00:00:00 UTC
    s.source = u"Disk";
    s.computer = u"PC1";
    change(s);
    return s;
  };
  const std::vector<Case> cases = {
      {"no SID", recipe([](RecordRecipe&) {}),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
      {"unknown domain SID, sub-authorities of 2^31 and more", recipe([](RecordRecipe& s) {
         s.sid = MakeSid(5, {21, 2147483648u, 4294967295u, 3000000000u, 1001});
       }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"0",
        u"S-1-5-21-2147483648-4294967295-3000000000-1001", u"PC1"}},
      {"the prefix stays S-1-5 for another authority", recipe([](RecordRecipe& s) {
         s.sid = MakeSid(16, {12288});
       }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"0", u"S-1-5-12288", u"PC1"}},
      {"SID without sub-authorities", recipe([](RecordRecipe& s) { s.sid = MakeSid(5, {}); }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"0", u"S-1-5", u"PC1"}},
      {"identifier 25 with the informational severity bit", recipe([](RecordRecipe& s) {
         s.eventId = 0x40000019;
       }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"25", u"N/A", u"PC1", 0x40000019}},
      {"identifier with every high bit", recipe([](RecordRecipe& s) { s.eventId = 0xFFFFFFFF; }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"65535", u"N/A", u"PC1",
        0xFFFFFFFF}},
      {"blanks around source and computer", recipe([](RecordRecipe& s) {
         s.source = u"  Disk ";
         s.computer = u" PC1  ";
       }),
       {u"情報", u"2004/06/26", u"09:00:00", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
      {"Japanese names", recipe([](RecordRecipe& s) {
         s.source = u"監視サービス";
         s.computer = u"サーバー";
       }),
       {u"情報", u"2004/06/26", u"09:00:00", u"監視サービス", u"なし", u"0", u"N/A", u"サーバー"}},
      {"last second before 1970 in UTC", recipe([](RecordRecipe& s) { s.timeWritten = 0xFFFFFFFF; }),
       {u"情報", u"1970/01/01", u"08:59:59", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
      {"earliest signed time", recipe([](RecordRecipe& s) { s.timeWritten = 0x80000000; }),
       {u"情報", u"1901/12/14", u"05:45:52", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
      {"latest signed time", recipe([](RecordRecipe& s) { s.timeWritten = 0x7FFFFFFF; }),
       {u"情報", u"2038/01/19", u"12:14:07", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
      {"the day turns at 15:00 UTC", recipe([](RecordRecipe& s) { s.timeWritten = 1088262000; }),
       {u"情報", u"2004/06/27", u"00:00:00", u"Disk", u"なし", u"0", u"N/A", u"PC1"}},
  };
  for (const Case& c : cases) {
    EventRow row = RowOf(BuildRecord(c.recipe));
    EXPECT_EQ(row.recordNumber, c.recipe.number) << c.name;
    row.recordNumber = 0;
    EXPECT_EQ(row, c.want) << c.name;
  }
}

TEST(RecordDecoding, TypeTexts) {
  const std::vector<std::pair<std::uint16_t, std::u16string>> cases = {
      {1, u"エラー"}, {2, u"警告"}, {4, u"情報"}, {8, u"成功"}, {16, u"失敗"},
      {0, u""},       {3, u""},     {32, u""},    {0xFFFF, u""}};
  for (const auto& [type, want] : cases) {
    RecordRecipe recipe;
    recipe.type = type;
    EXPECT_EQ(RowOf(BuildRecord(recipe)).type, want) << "type " << type;
  }
}

TEST(RecordDecoding, TruncatedRecordsYieldWhatTheyHold) {
  RecordRecipe recipe;
  recipe.number = 42;
  recipe.eventId = 7036;
  recipe.source = u"Src";
  recipe.computer = u"HOST";
  recipe.sid = MakeSid(5, {18});
  const Bytes whole = BuildRecord(recipe);
  // Header 56, "Src\0" to 64, "HOST\0" to 74, padding to 76, SID to 88, length to 92.
  struct Case {
    std::size_t keep;
    std::uint32_t number, eventId;
    std::u16string source, computer;
    SidState sid;
  };
  const std::vector<Case> cases = {
      {0, 0, 0, u"", u"", SidState::None},
      {11, 0, 0, u"", u"", SidState::None},
      {24, 42, 7036, u"", u"", SidState::None},
      {41, 42, 7036, u"", u"", SidState::None},
      {56, 42, 7036, u"", u"", SidState::Unreadable},
      {61, 42, 7036, u"Sr", u"", SidState::Unreadable},
      {70, 42, 7036, u"Src", u"HOS", SidState::Unreadable},
      {87, 42, 7036, u"Src", u"HOST", SidState::Unreadable},
      {88, 42, 7036, u"Src", u"HOST", SidState::Readable},
  };
  for (const Case& c : cases) {
    // A copy of exactly the kept bytes, so a read past them is a sanitizer fault.
    const Bytes cut(whole.begin(), whole.begin() + c.keep);
    const RecordFields f = DecodeRecordFields(cut);
    EXPECT_EQ(f.recordNumber, c.number) << c.keep;
    EXPECT_EQ(f.eventId, c.eventId) << c.keep;
    EXPECT_EQ(Text(f.source), c.source) << c.keep;
    EXPECT_EQ(Text(f.computer), c.computer) << c.keep;
    EXPECT_EQ(f.sidState, c.sid) << c.keep;
  }
}

TEST(RecordDecoding, LyingRecordsNeverReachOutside) {
  RecordRecipe recipe;
  recipe.source = u"Src";
  recipe.computer = u"HOST";
  recipe.sid = MakeSid(5, {21, 1, 2, 3, 500});
  const Bytes base = BuildRecord(recipe);
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
    std::u16string user;
  };
  const std::vector<Case> cases = {
      {"SID length beyond the record", 40, 0x1000, u""},
      {"SID length of 4 GiB", 40, 0xFFFFFFFF, u""},
      {"SID offset beyond the record", 44, 0x10000, u""},
      {"SID offset and length overflow 32 bits", 44, 0xFFFFFFF0, u""},
      {"SID inside the header", 44, 8, u""},
      {"SID shorter than its sub-authorities", 40, 12, u""},
      {"record length far larger than the bytes", 0, 0x7FFFFFFF, u"S-1-5-21-1-2-3-500"},
      {"record length smaller than the header", 0, 8, u"S-1-5-21-1-2-3-500"},
      {"string offset beyond the record", 36, 0xFFFFFFFF, u"S-1-5-21-1-2-3-500"},
  };
  for (const Case& c : cases) {
    Bytes record = base;
    PutU32(record, c.at, c.value);
    const EventRow row = RowOf(record);
    EXPECT_EQ(row.user, c.user) << c.name;
    EXPECT_EQ(row.source, u"Src") << c.name;
    EXPECT_EQ(row.computer, u"HOST") << c.name;
  }

  // The sub-authority count byte: more than a SID can hold, then more than the length holds.
  const std::size_t sidOffset = DecodeRecordFields(base).sid.data() - base.data();
  Bytes tooMany = base;
  tooMany[sidOffset + 1] = 16;
  EXPECT_EQ(DecodeRecordFields(tooMany).sidState, SidState::Unreadable);
  Bytes moreThanHeld = base;
  moreThanHeld[sidOffset + 1] = 6;
  EXPECT_EQ(DecodeRecordFields(moreThanHeld).sidState, SidState::Unreadable);
}

TEST(RecordDecoding, UnterminatedNamesEndAtTheRecord) {
  RecordRecipe recipe;
  recipe.source = u"Src";
  recipe.computer = u"HOST";
  Bytes record = BuildRecord(recipe);
  // Overwrite every NUL after the header with 'x' (except the length copy).
  for (std::size_t i = 56; i + 4 < record.size(); i += 2) {
    if (record[i] == 0 && record[i + 1] == 0) record[i] = 'x';
  }
  const RecordFields f = DecodeRecordFields(record);
  EXPECT_EQ(Text(f.source), u"SrcxHOSTxx");
  EXPECT_TRUE(f.computer.empty());
}

// The strings the alert falls back on: never read from outside the record,
// and a string that lost its NUL ends with the record.
TEST(RecordDecoding, InsertionStringsOfWholeAndDamagedRecords) {
  RecordRecipe recipe;
  recipe.eventId = 0xC0001B58;
  recipe.strings = {u"Print Spooler", u"", u"停止"};
  recipe.data = {'d', 0, 'a', 0};
  const Bytes base = BuildRecord(recipe);
  const std::size_t stringsAt = DecodeRecordFields(base).strings.data() - base.data();
  struct Case {
    const char* name;
    std::size_t at;  // 0: unchanged
    std::uint32_t value;
    std::size_t cutTo;  // 0: whole
    std::u16string strings;
  };
  const std::u16string all = std::u16string(u"Print Spooler\0\0停止\0", 18);
  const std::vector<Case> cases = {
      {"whole", 0, 0, 0, all},
      {"fewer strings than the record holds", 26, 2, 0, std::u16string(u"Print Spooler\0\0", 15)},
      {"more strings than the record holds: the data reads as one", 26, 9, 0,
       all + std::u16string(u"da\0", 3)},
      {"string offset beyond the record", 36, 0xFFFFFFFF, 0, u""},
      {"string offset inside the header", 36, 8, 0, u""},
      {"cut inside the second string's NUL", 0, 0, stringsAt + 29,
       std::u16string(u"Print Spooler\0", 14)},
      {"cut inside the first string", 0, 0, stringsAt + 11, std::u16string(u"Print\0", 6)},
  };
  for (const Case& c : cases) {
    Bytes record = base;
    if (c.at != 0) PutU32(record, c.at, c.value);
    if (c.cutTo != 0) record.resize(c.cutTo);
    const EventRow row = RowOf(record);
    EXPECT_EQ(row.strings, c.strings) << c.name;
    EXPECT_EQ(row.eventCode, 0xC0001B58u) << c.name;
  }
}

TEST(RecordDecoding, NamesLongerThan255Characters) {
  RecordRecipe recipe;
  recipe.source = std::u16string(300, u'S');
  recipe.computer = std::u16string(260, u'C');
  const EventRow row = RowOf(BuildRecord(recipe));
  EXPECT_EQ(row.source, recipe.source);
  EXPECT_EQ(row.computer, recipe.computer);
}

}  // namespace
}  // namespace zkq
