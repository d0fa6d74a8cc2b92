#include "eventlog/evt_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "eventlog/evt_builder.h"
#include "eventlog/record.h"
#include "base/testing/scratch_folder.h"

namespace zkq {
namespace {

Bytes Numbered(std::uint32_t number, std::size_t stringChars = 0) {
  RecordRecipe recipe;
  recipe.number = number;
  recipe.timeWritten = 1300000000 + number;
  recipe.eventId = number;
  recipe.source = u"Source" + std::u16string(number % 5, u's');
  recipe.sid = MakeSid(5, {21, number});
  if (stringChars != 0) recipe.strings = {std::u16string(stringChars, u'x')};
  return BuildRecord(recipe);
}

std::vector<Bytes> Range(std::uint32_t first, std::uint32_t last, std::size_t stringChars = 0) {
  std::vector<Bytes> records;
  for (std::uint32_t n = first; n <= last; ++n) records.push_back(Numbered(n, stringChars + n % 7));
  return records;
}

struct ReadResult {
  std::vector<Bytes> records;
  std::uint32_t end = 0;
};

ReadResult ReadAll(EventLog& log) {
  ReadResult result;
  std::span<const std::uint8_t> record;
  for (int guard = 0; guard < 100000; ++guard) {
    result.end = log.ReadNext(record);
    if (result.end != 0) break;
    result.records.emplace_back(record.begin(), record.end());
  }
  return result;
}

std::vector<Bytes> Reversed(std::vector<Bytes> v) { return {v.rbegin(), v.rend()}; }

TEST(EvtFile, ReadsTheLogNewestFirstWhateverItsLayout) {
  const std::vector<Bytes> live = Range(101, 140);
  std::size_t liveSize = 0;
  for (const Bytes& r : live) liveSize += r.size();
  const std::vector<Bytes> stale = Range(60, 66);

  struct Case {
    const char* name;
    EvtRecipe recipe;
    bool recordWraps;  // a record runs over the end of the file
  };
  auto layout = [&](std::size_t extra, std::size_t first, bool dirty, bool withStale, bool staleEof) {
    EvtRecipe s;
    s.records = live;
    s.fileSize = 48 + liveSize + 40 + extra;
    s.firstOffset = first;
    s.dirty = dirty;
    if (withStale) s.stale = stale;
    s.staleEof = staleEof;
    return s;
  };
  std::size_t staleSize = 0;
  for (const Bytes& r : stale) staleSize += r.size();
  const std::size_t ring = liveSize + 40 + staleSize + 40;
  const std::vector<Case> cases = {
      {"exported, exact size", layout(0, 48, false, false, false), false},
      {"free space after the end", layout(4096, 48, false, false, false), false},
      {"oldest record in the middle, records wrap", layout(staleSize + 40, 48 + ring / 2, false, true, true), true},
      {"a record split by the end of the file",
       layout(staleSize + 40, 48 + staleSize + 40 + live.front().size() + live[1].size() + 30, false, true, true), true},
      {"a length copy split by the end of the file",
       layout(staleSize + 40, 48 + ring - live.front().size() - 2, false, true, true), true},
      {"the end-of-file record split by the end of the file",
       layout(staleSize + 40, 48 + staleSize + 40 + 20, false, true, true), false},
      {"dirty: stale header, stale records and an old end-of-file record",
       layout(staleSize + 40, 48 + ring / 3, true, true, true), true},
      {"dirty without anything stale", layout(500, 48 + 1000, true, false, false), true},
  };
  for (const Case& c : cases) {
    const Bytes file = BuildEvtFile(c.recipe);
    const bool wraps = (file[36] & kEvtFlagWrapped) != 0;
    EXPECT_EQ(wraps, c.recordWraps) << c.name << ": the layout is not what it says";
    std::unique_ptr<EventLog> log = OpenEvtBytes(file);
    ASSERT_NE(log, nullptr) << c.name;
    const ReadResult got = ReadAll(*log);
    EXPECT_EQ(got.end, kErrorHandleEof) << c.name;
    ASSERT_EQ(got.records.size(), live.size()) << c.name;
    EXPECT_TRUE(got.records == Reversed(live)) << c.name;
    std::span<const std::uint8_t> after;
    EXPECT_EQ(log->ReadNext(after), kErrorHandleEof) << c.name << ": the end stays the end";
  }
}

TEST(EvtFile, EmptyLogs) {
  EvtRecipe none;
  std::unique_ptr<EventLog> log = OpenEvtBytes(BuildEvtFile(none));
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).records.size(), 0u);
  EXPECT_EQ(ReadAll(*log).end, kErrorHandleEof);

  // Only the header, no room for anything.
  EvtRecipe any;
  any.records = Range(1, 1);
  Bytes headerOnly = BuildEvtFile(any);
  headerOnly.resize(48);
  log = OpenEvtBytes(headerOnly);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).end, kErrorHandleEof);
}

TEST(EvtFile, RejectsWhatIsNoEventLog) {
  EvtRecipe recipe;
  recipe.records = Range(1, 3);
  const Bytes good = BuildEvtFile(recipe);
  std::vector<Bytes> bad = {{}, Bytes(47, 0), Bytes(good.begin(), good.begin() + 47)};
  Bytes wrongSignature = good;
  wrongSignature[4] = 'X';
  bad.push_back(wrongSignature);
  Bytes wrongHeaderSize = good;
  PutU32(wrongHeaderSize, 0, 0x40);
  bad.push_back(wrongHeaderSize);
  const std::string text = "System;対象;エラー;*;*;*\r\n";
  bad.emplace_back(text.begin(), text.end());
  for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(OpenEvtBytes(bad[i]), nullptr) << i;
}

TEST(EvtFile, BrokenChainEndsWithCorruptFileAfterTheGoodRecords) {
  EvtRecipe recipe;
  recipe.records = Range(1, 5);
  Bytes file = BuildEvtFile(recipe);
  // The length copy at the end of record 3 no longer matches its start.
  std::size_t at = 48;
  for (int i = 0; i < 3; ++i) at += recipe.records[i].size();
  PutU32(file, at - 4, 64);
  std::unique_ptr<EventLog> log = OpenEvtBytes(file);
  ASSERT_NE(log, nullptr);
  const ReadResult got = ReadAll(*log);
  ASSERT_EQ(got.records.size(), 2u);
  EXPECT_EQ(DecodeRecordFields(got.records[0]).recordNumber, 5u);
  EXPECT_EQ(DecodeRecordFields(got.records[1]).recordNumber, 4u);
  EXPECT_EQ(got.end, kErrorEventlogFileCorrupt);

  // A record whose number breaks the sequence is no record of this log.
  Bytes renumbered = BuildEvtFile(recipe);
  PutU32(renumbered, 48 + recipe.records[0].size() + 8, 77);
  log = OpenEvtBytes(renumbered);
  const ReadResult got2 = ReadAll(*log);
  EXPECT_EQ(got2.records.size(), 3u);
  EXPECT_EQ(got2.end, kErrorEventlogFileCorrupt);

  // A length copy larger than the whole file.
  Bytes huge = BuildEvtFile(recipe);
  PutU32(huge, huge.size() - 40 - 4, 0xFFFFFFF0);
  log = OpenEvtBytes(huge);
  const ReadResult got3 = ReadAll(*log);
  EXPECT_EQ(got3.records.size(), 0u);
  EXPECT_EQ(got3.end, kErrorEventlogFileCorrupt);
}

TEST(EvtFile, RecordWhoseSidIsTheLastThingInIt) {
  RecordRecipe recipe;
  recipe.number = 1;
  recipe.sid = MakeSid(5, {18});
  EvtRecipe file;
  file.records = {BuildRecord(recipe)};
  std::unique_ptr<EventLog> log = OpenEvtBytes(BuildEvtFile(file));
  const ReadResult got = ReadAll(*log);
  ASSERT_EQ(got.records.size(), 1u);
  const RecordFields f = DecodeRecordFields(got.records[0]);
  EXPECT_EQ(f.sidState, SidState::Readable);
  EXPECT_EQ(f.sid.data() + f.sid.size() + 4, got.records[0].data() + got.records[0].size());
}

class EvtFolder : public ::testing::Test {
 protected:
  void Write(const std::string& name, const Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  test_support::ScratchFolder folder_{"zkq-evt-"};
  std::filesystem::path dir_ = folder_.Path();
};

TEST_F(EvtFolder, LogsByName) {
  EvtRecipe system;
  system.records = Range(1, 3);
  Write("System.evt", BuildEvtFile(system));
  EvtRecipe app;
  app.records = Range(10, 11);
  Write("APPLICATION.EVT", BuildEvtFile(app));
  Write("Security.evt", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'l', 'o', 'g'});

  EvtFileSource source(dir_);
  std::unique_ptr<EventLog> log = source.Open(u"PC", u"System");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).records.size(), 3u);
  log = source.Open(u"PC", u"Application");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).records.size(), 2u);
  EXPECT_EQ(source.Open(u"PC", u"Security"), nullptr);

  std::filesystem::remove(dir_ / "System.evt");
  log = source.Open(u"PC", u"System");
  ASSERT_NE(log, nullptr) << "an absent file is an empty log";
  const ReadResult none = ReadAll(*log);
  EXPECT_TRUE(none.records.empty());
  EXPECT_EQ(none.end, kErrorHandleEof);

  EXPECT_EQ(OpenEvtFile(dir_ / "Security.evt").error, EvtOpenError::NotEventLog);
  EXPECT_EQ(OpenEvtFile(dir_ / "Nothing.evt").error, EvtOpenError::Missing);
  EXPECT_EQ(OpenEvtFile(dir_ / "APPLICATION.EVT").error, EvtOpenError::None);
}

}  // namespace
}  // namespace zkq
