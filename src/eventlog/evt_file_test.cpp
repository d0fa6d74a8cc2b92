#include "eventlog/evt_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/testing/scratch_folder.h"
#include "eventlog/evt_builder.h"
#include "eventlog/record.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

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
  auto layout = [&](std::size_t extra, std::size_t first, bool dirty, bool withStale,
                    bool staleEof) {
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
      {"oldest record in the middle, records wrap",
       layout(staleSize + 40, 48 + ring / 2, false, true, true), true},
      {"a record split by the end of the file",
       layout(staleSize + 40, 48 + staleSize + 40 + live.front().size() + live[1].size() + 30,
              false, true, true),
       true},
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
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
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
  std::uint32_t error = 0;
  std::unique_ptr<EventLog> log = source.Open(u"PC", u"System", error);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).records.size(), 3u);
  log = source.Open(u"PC", u"Application", error);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).records.size(), 2u);
  log = source.Open(u"PC", u"Security", error);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(ReadAll(*log).end, kErrorEventlogFileCorrupt) << "no event log is no empty log";

  std::filesystem::remove(dir_ / "System.evt");
  log = source.Open(u"PC", u"System", error);
  ASSERT_NE(log, nullptr);
  const ReadResult none = ReadAll(*log);
  EXPECT_TRUE(none.records.empty());
  EXPECT_EQ(none.end, kErrorFileNotFound) << "an absent file is no empty log";

  EXPECT_EQ(OpenEvtFile(dir_ / "Security.evt").error, EvtOpenError::NotEventLog);
  EXPECT_EQ(OpenEvtFile(dir_ / "Nothing.evt").error, EvtOpenError::Missing);
  EXPECT_EQ(OpenEvtFile(dir_ / "APPLICATION.EVT").error, EvtOpenError::None);
}

// Whatever lies at a log's path, the reader lists the complete records it can
// trust, newest first, and then says why it stopped; it never hangs, reads a
// non-file or reports a damaged log as a clean one.
TEST_F(EvtFolder, HostileFiles) {
  EvtRecipe recipe;
  recipe.records = Range(1, 4);
  const Bytes good = BuildEvtFile(recipe);
  const std::size_t eofAt = good.size() - 40;
  std::size_t recordEnd[5] = {48};
  for (int i = 0; i < 4; ++i) recordEnd[i + 1] = recordEnd[i] + recipe.records[i].size();
  auto cut = [&](std::size_t size) {
    return Bytes(good.begin(), good.begin() + static_cast<long>(size));
  };
  Bytes noEof = good;
  std::fill(noEof.begin() + static_cast<long>(eofAt), noEof.end(), 0);
  Bytes renumbered = noEof;
  PutU32(renumbered, recordEnd[2] + 8, 77);  // record 3 is no record of this log

  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    EvtOpenError error;
    std::size_t records;  // read before the reader stops, newest first from record `newest`
    std::uint32_t end;
    std::uint32_t newest = 4;
  };
  auto file = [](Bytes bytes) {
    return [bytes](const std::filesystem::path& p) {
      std::ofstream(p, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    };
  };
  const std::vector<Case> cases = {
      {"complete", file(good), EvtOpenError::None, 4, kErrorHandleEof},
      {"a folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); },
       EvtOpenError::NotRegularFile, 0, kErrorAccessDenied},
#ifndef _WIN32
      {"a pipe", [](const std::filesystem::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       EvtOpenError::NotRegularFile, 0, kErrorEventlogFileCorrupt},
#endif
      {"zeros", file(Bytes(1 << 16, 0)), EvtOpenError::NotEventLog, 0, kErrorEventlogFileCorrupt},
      {"only the header", file(cut(48)), EvtOpenError::None, 0, kErrorEventlogFileCorrupt},
      {"cut inside the second record", file(cut(recordEnd[1] + 30)), EvtOpenError::None, 1,
       kErrorEventlogFileCorrupt, 1},
      {"cut after the last record", file(cut(recordEnd[4])), EvtOpenError::None, 4,
       kErrorEventlogFileCorrupt},
      {"cut inside the end-of-file record", file(cut(eofAt + 20)), EvtOpenError::None, 4,
       kErrorEventlogFileCorrupt},
      {"end-of-file record missing", file(noEof), EvtOpenError::None, 4, kErrorEventlogFileCorrupt},
      {"cut, with a record out of sequence", file(renumbered), EvtOpenError::None, 2,
       kErrorEventlogFileCorrupt, 2},
  };
  for (const Case& c : cases) {
    const std::filesystem::path dir = dir_ / c.name;
    std::filesystem::create_directory(dir);
    c.make(dir / "System.evt");
    const EvtOpenResult opened = OpenEvtFile(dir / "System.evt");
    EXPECT_EQ(opened.error, c.error) << c.name;
    std::uint32_t error = 0;
    std::unique_ptr<EventLog> log = EvtFileSource(dir).Open(u"PC", u"System", error);
    ASSERT_NE(log, nullptr) << c.name;
    const ReadResult got = ReadAll(*log);
    EXPECT_EQ(got.end, c.end) << c.name;
    ASSERT_EQ(got.records.size(), c.records) << c.name;
    for (std::size_t i = 0; i < c.records; ++i) {
      EXPECT_EQ(DecodeRecordFields(got.records[i]).recordNumber, c.newest - i) << c.name;
    }
  }
}

#ifdef __linux__
// Bytes the process has read from files so far (Linux's own count of read calls).
std::uint64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A cycle after a bookmark reads the newest records of a large log: the file
// must cost what those records are, not what the log is.
TEST_F(EvtFolder, NewestRecordsOfALargeCleanFileReadOnlyTheirBytes) {
  EvtRecipe recipe;
  recipe.records = Range(1, 40000, 20);
  const Bytes file = BuildEvtFile(recipe);
  ASSERT_GT(file.size(), 4u << 20);
  Write("System.evt", file);

  const std::uint64_t before = BytesReadSoFar();
  std::uint32_t error = 0;
  std::unique_ptr<EventLog> log = EvtFileSource(dir_).Open(u"PC", u"System", error);
  ASSERT_NE(log, nullptr);
  std::span<const std::uint8_t> record;
  for (std::uint32_t n = 40000; n > 39900; --n) {
    ASSERT_EQ(log->ReadNext(record), 0u);
    ASSERT_EQ(DecodeRecordFields(record).recordNumber, n);
  }
  const std::uint64_t read = BytesReadSoFar() - before;
  EXPECT_GT(read, 0u) << "the count of bytes read is not available";
  EXPECT_LT(read, 256u << 10) << "bytes read for 100 records of a " << file.size()
                              << "-byte log";
}
#endif

}  // namespace
}  // namespace zkq
