// The .evtx reader on the shared real logs, damaged and rearranged here, and
// the values and types it gives the rows.
#include "eventlog/evtx_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "eventlog/event_message.h"
#include "eventlog/evt_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace zkq {
namespace {

std::vector<std::uint8_t> Sample(const char* name) {
  std::ifstream in(std::string(ZKQ_TESTDATA_DIR) + "/evtx/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The checksum of chunks and headers, against the polynomial taken one bit at
// a time: every length and alignment around the 16- and 64-byte steps of the
// fast path, whole and in two calls that carry it on.
TEST(EvtxChecksum, MatchesTheBitwiseCrcAtEveryLengthAndSplit) {
  auto bitwise = [](const std::uint8_t* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      crc ^= p[i];
      for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
  };
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc32(check), 0xCBF43926u);
  std::vector<std::uint8_t> bytes(4096 + 8);
  std::uint32_t seed = 12345;
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  for (std::size_t offset : {0, 1, 3}) {
    for (std::size_t n = 0; n <= 300; ++n) {
      const std::span<const std::uint8_t> part(bytes.data() + offset, n);
      ASSERT_EQ(Crc32(part), bitwise(part.data(), n)) << "offset " << offset << ", " << n << " bytes";
      const std::size_t cut = n / 3;
      ASSERT_EQ(Crc32(part.subspan(cut), Crc32(part.first(cut))), bitwise(part.data(), n)) << n;
    }
  }
  EXPECT_EQ(Crc32({bytes.data(), 4096}), bitwise(bytes.data(), 4096));
}

// Remembers which chunks were read whole.
class CountingSource : public ByteSource {
 public:
  explicit CountingSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::size_t Size() const override { return bytes_.size(); }
  const std::uint8_t* At(std::size_t pos, std::size_t n) const override {
    if (n == kEvtxChunkSize) loaded.insert(pos);
    return bytes_.data() + pos;
  }
  mutable std::set<std::size_t> loaded;

 private:
  std::vector<std::uint8_t> bytes_;
};

struct Reading {
  std::vector<std::uint64_t> ids;
  int corruptTold = 0;
};

Reading ReadLog(std::vector<std::uint8_t> bytes) {
  Reading r;
  std::unique_ptr<EvtxFile> file = EvtxFile::Open(std::make_unique<OwnedSource>(std::move(bytes)));
  if (!file) return r;
  std::unique_ptr<EventLog> log = OpenEvtxLog(std::move(file));
  std::span<const std::uint8_t> record;
  for (int guard = 0; guard < 100000; ++guard) {
    const std::uint32_t code = log->ReadNext(record);
    if (code == kErrorHandleEof) break;
    if (code == kErrorEventlogFileCorrupt) {
      ++r.corruptTold;
      continue;
    }
    r.ids.push_back(DecodeRecordFields(record).recordId);
  }
  return r;
}

std::size_t ChunkAt(std::size_t i) { return kEvtxHeaderBlock + i * kEvtxChunkSize; }

TEST(EvtxFile, DamageIsSkippedCountedAndToldOnceAfterTheLastRecord) {
  const std::vector<std::uint8_t> system = Sample("system.evtx");
  ASSERT_GT(system.size(), ChunkAt(3));
  const Reading whole = ReadLog(system);
  ASSERT_EQ(whole.ids.size(), 1881u);
  EXPECT_EQ(whole.corruptTold, 0);
  // Newest first, each once.
  EXPECT_TRUE(std::is_sorted(whole.ids.rbegin(), whole.ids.rend()));
  EXPECT_EQ(std::set<std::uint64_t>(whole.ids.begin(), whole.ids.end()).size(), 1881u);

  const Reading first = ReadLog([&] {
    auto b = system;
    b.resize(ChunkAt(1));
    return b;
  }());
  const std::size_t inFirst = first.ids.size();
  ASSERT_GT(inFirst, 10u);
  const std::size_t firstTwo = ReadLog([&] {
                                 auto b = system;
                                 b.resize(ChunkAt(2));
                                 return b;
                               }())
                                   .ids.size();
  ASSERT_GT(firstTwo, inFirst);

  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::size_t lost;  // records of the whole log not read
  };
  const Case cases[] = {
      {"chunk signature", [](auto& b) { b[ChunkAt(0)] = 'X'; }, inFirst},
      {"chunk header checksum", [](auto& b) { b[ChunkAt(0) + 130] ^= 1; }, inFirst},
      // A record's sizes disagree: that record is lost, the chunk's others are read.
      {"record size", [](auto& b) { b[ChunkAt(0) + 512 + 4] ^= 0x10; }, 1},
      // A byte of the records changed (a written time the rows do not use):
      // told, yet every record is read.
      {"records checksum", [](auto& b) { b[ChunkAt(0) + 512 + 16] ^= 1; }, 0},
      // Binary XML that breaks off: the record's event starts with a bad token.
      {"binary xml", [](auto& b) { b[ChunkAt(0) + 512 + 24] = 0x77; }, 1},
      // A copy cut short in its third chunk.
      {"cut", [](auto& b) { b.resize(ChunkAt(2) + 1000); }, whole.ids.size() - firstTwo},
  };
  for (const Case& c : cases) {
    auto bytes = system;
    c.damage(bytes);
    const Reading got = ReadLog(bytes);
    EXPECT_EQ(got.ids.size(), whole.ids.size() - c.lost) << c.what;
    EXPECT_EQ(got.corruptTold, 1) << c.what;
    EXPECT_TRUE(std::is_sorted(got.ids.rbegin(), got.ids.rend())) << c.what;
  }
}

TEST(EvtxFile, AWrappedLogIsReadByRecordIdAndABookmarkedReadLoadsOnlyTheNewChunks) {
  std::vector<std::uint8_t> system = Sample("system.evtx");
  const Reading whole = ReadLog(system);
  // The oldest chunk moves to the end of the file, as a full log reuses its
  // first chunk for the newest records.
  std::unique_ptr<EvtxFile> file = EvtxFile::Open(std::make_unique<OwnedSource>(system));
  const std::size_t chunks = file->Chunks().size();
  ASSERT_GE(chunks, 3u);
  std::vector<std::uint8_t> wrapped(system.begin(), system.begin() + kEvtxHeaderBlock);
  for (std::size_t i = chunks; i-- > 0;) {
    const std::size_t at = ChunkAt(i);
    wrapped.insert(wrapped.end(), system.begin() + static_cast<std::ptrdiff_t>(at),
                   system.begin() + static_cast<std::ptrdiff_t>(at + kEvtxChunkSize));
  }
  EXPECT_EQ(ReadLog(wrapped).ids, whole.ids);

  // A bookmark in the newest chunk: the others are never read.
  auto source = std::make_unique<CountingSource>(system);
  CountingSource& counting = *source;
  std::unique_ptr<EventLog> log = OpenEvtxLog(EvtxFile::Open(std::move(source)));
  NoAccountNames accounts;
  NoMessageTables tables;
  EventRowDecoder decoder(u"System", accounts, tables);
  const std::uint64_t bookmark = whole.ids[5];
  std::optional<std::uint64_t> newest;
  std::int64_t newestSeconds = 0, bookmarkSeconds = 0;
  {
    std::unique_ptr<EventLog> again =
        OpenEvtxLog(EvtxFile::Open(std::make_unique<OwnedSource>(system)));
    std::span<const std::uint8_t> record;
    for (int i = 0; i <= 5; ++i) again->ReadNext(record);
    bookmarkSeconds = RecordUtcSeconds(DecodeRecordFields(record).timeWritten);
  }
  bool cleared = false;
  std::uint64_t overwritten = 0;
  int rows = 0;
  EXPECT_EQ(
      ForEachNewEventRow(*log, decoder, std::nullopt, bookmark, bookmarkSeconds, newest,
                         newestSeconds, cleared, overwritten, [&](const EventRowView&) { ++rows; }),
      0u);
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(newest, whole.ids[0]);
  EXPECT_FALSE(cleared);
  EXPECT_EQ(counting.loaded.size(), 1u);
}

TEST(EvtxFile, RecordIdsPastThirtyTwoBitsKeepTheirBookmark) {
  const std::uint64_t base = (std::uint64_t{1} << 32) + 10;
  std::vector<std::vector<std::uint8_t>> records;
  for (std::uint64_t i = 0; i < 5; ++i) {
    EvtxEvent e;
    e.recordId = base + 4 - i;  // newest first
    e.timeCreated = (11644473600ull + 1700000000 + (4 - i)) * 10000000;
    e.provider = u"P";
    records.emplace_back();
    BuildEventLogRecord(e, records.back());
  }
  EXPECT_EQ(DecodeRecordFields(records[0]).recordId, base + 4);
  const std::optional<LogBookmark> bookmark =
      ParseBookmark(BookmarkText(LogBookmark{base + 2, 1700000002}));
  ASSERT_TRUE(bookmark);
  EXPECT_EQ(bookmark->number, base + 2);
  EXPECT_EQ(BookmarkText(*bookmark), u"4294967308:1700000002");
  EXPECT_FALSE(ParseBookmark(u"18446744073709551616:1"));

  class Log : public EventLog {
   public:
    explicit Log(const std::vector<std::vector<std::uint8_t>>& r) : r_(r) {}
    std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
      if (at_ == r_.size()) return kErrorHandleEof;
      record = r_[at_++];
      return 0;
    }

   private:
    const std::vector<std::vector<std::uint8_t>>& r_;
    std::size_t at_ = 0;
  } log(records);
  NoAccountNames accounts;
  NoMessageTables tables;
  EventRowDecoder decoder(u"System", accounts, tables);
  std::optional<std::uint64_t> newest;
  std::int64_t newestSeconds = 0;
  bool cleared = false;
  std::uint64_t overwritten = 0;
  int rows = 0;
  ForEachNewEventRow(log, decoder, std::nullopt, bookmark->number, bookmark->seconds, newest,
                     newestSeconds, cleared, overwritten, [&](const EventRowView&) { ++rows; });
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(newest, base + 4);
  EXPECT_FALSE(cleared);
}

TEST(EvtxFile, TypesComeFromTheAuditKeywordsBeforeTheLevel) {
  struct Case {
    std::uint64_t keywords;
    std::uint8_t level;
    std::u16string_view type;
  };
  const Case cases[] = {
      {0x8010000000000000, 2, u"失敗"},
      {0x8020000000000000, 2, u"成功"},
      {0x8000000000000000, 1, u"エラー"},
      {0, 2, u"エラー"},
      {0, 3, u"警告"},
      {0, 4, u"情報"},
      {0, 0, u"情報"},
      {0, 5, u"情報"},
  };
  for (const Case& c : cases) {
    EvtxEvent e;
    e.keywords = c.keywords;
    e.level = c.level;
    e.eventId = 7036;
    e.qualifiers = 0x4000;
    std::vector<std::uint8_t> record;
    BuildEventLogRecord(e, record);
    const RecordFields f = DecodeRecordFields(record);
    EXPECT_EQ(EventTypeText(f.eventType), c.type) << c.keywords << " " << int{c.level};
    EXPECT_EQ(f.eventId, 0x40001B7Cu);
  }
}

// Binary XML written out by hand, names inline, as a chunk holds it from
// chunk offset `base` on.
class BinXmlWriter {
 public:
  explicit BinXmlWriter(std::size_t base) : base_(base) { Bytes({0x0f, 1, 1, 0}); }
  BinXmlWriter& Open(std::u16string_view name, bool attributes = false) {
    Bytes({static_cast<std::uint8_t>(attributes ? 0x41 : 0x01), 0xff, 0xff});
    Put32(0);
    Name(name);
    if (attributes) Put32(0);
    return *this;
  }
  BinXmlWriter& Attribute(std::u16string_view name, std::u16string_view value) {
    bytes.push_back(0x06);
    Name(name);
    return Text(value);
  }
  BinXmlWriter& Content() { return Bytes({0x02}); }
  BinXmlWriter& Text(std::u16string_view text) {
    Bytes({0x05, 0x01});
    Put16(static_cast<std::uint16_t>(text.size()));
    for (char16_t c : text) Put16(c);
    return *this;
  }
  BinXmlWriter& End() { return Bytes({0x04}); }
  BinXmlWriter& Leaf(std::u16string_view name, std::u16string_view text) {
    return Open(name).Content().Text(text).End();
  }
  std::vector<std::uint8_t> bytes;

 private:
  BinXmlWriter& Bytes(std::initializer_list<std::uint8_t> b) {
    bytes.insert(bytes.end(), b);
    return *this;
  }
  void Put16(std::uint16_t v) {
    Bytes({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
  }
  void Put32(std::uint32_t v) {
    Put16(static_cast<std::uint16_t>(v));
    Put16(static_cast<std::uint16_t>(v >> 16));
  }
  void Name(std::u16string_view name) {
    Put32(static_cast<std::uint32_t>(base_ + bytes.size() + 4));  // right here
    Put32(0);
    Put16(0);
    Put16(static_cast<std::uint16_t>(name.size()));
    for (char16_t c : name) Put16(c);
    Put16(0);
  }
  std::size_t base_;
};

TEST(EvtxFile, AForwardedEventShowsTheMessageItCarries) {
  BinXmlWriter x(512 + 24);
  x.Open(u"Event", true)
      .Attribute(u"xmlns", u"http://schemas.microsoft.com/win/2004/08/events/event");
  x.Content().Open(u"System").Content();
  x.Open(u"Provider", true).Attribute(u"Name", u"Far-Source").Content().End();
  x.Leaf(u"EventID", u"4625").Leaf(u"Level", u"2").Leaf(u"Computer", u"FAR-PC").End();
  x.Open(u"RenderingInfo").Content().Leaf(u"Message", u"An account failed to log on.").End();
  x.End();
  x.bytes.push_back(0x00);

  std::vector<std::uint8_t> file(kEvtxHeaderBlock + kEvtxChunkSize, 0);
  auto put = [&file](std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
      file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  std::memcpy(file.data(), "ElfFile", 8);
  put(42, 1, 2);
  put(120, kEvtxFlagNoChecksums, 4);
  const std::size_t chunk = kEvtxHeaderBlock, record = chunk + 512;
  std::memcpy(file.data() + chunk, "ElfChnk", 8);
  const std::size_t size = 24 + x.bytes.size() + 4;
  put(chunk + 24, 7, 8);
  put(chunk + 32, 7, 8);
  put(chunk + 48, 512 + size, 4);
  put(record, 0x2a2a, 4);
  put(record + 4, size, 4);
  put(record + 8, 7, 8);
  put(record + 16, 133000000000000000ull, 8);
  std::copy(x.bytes.begin(), x.bytes.end(),
            file.begin() + static_cast<std::ptrdiff_t>(record + 24));
  put(record + size - 4, size, 4);

  std::unique_ptr<EventLog> log = OpenEvtxLog(EvtxFile::Open(std::make_unique<OwnedSource>(file)));
  std::span<const std::uint8_t> bytes;
  ASSERT_EQ(log->ReadNext(bytes), 0u);
  NoAccountNames accounts;
  NoMessageTables tables;
  EventRowDecoder decoder(u"Security", accounts, tables);
  EventRowView row;
  ASSERT_TRUE(decoder.Decode(bytes, std::nullopt, row));
  EXPECT_EQ(row.type, u"エラー");
  EXPECT_EQ(row.source, u"Far-Source");
  EXPECT_EQ(row.eventId, u"4625");
  EXPECT_EQ(row.computer, u"FAR-PC");
  EXPECT_EQ(row.user, u"N/A");
  EventMessages messages(tables);
  std::u16string detail;
  messages.AppendDetail(detail, u"Security", row);
  EXPECT_EQ(detail, u"    An account failed to log on.\r\n");
  EXPECT_EQ(log->ReadNext(bytes), kErrorHandleEof);

  std::unique_ptr<EvtxFile> evtx = EvtxFile::Open(std::make_unique<OwnedSource>(file));
  std::u16string xml;
  EXPECT_EQ(ForEachEvtxXml(*evtx, [&](std::u16string_view x) { xml = x; }), 0u);
  EXPECT_NE(xml.find(u"  <RenderingInfo>\n    <Message>An account failed to log on.</Message>\n"),
            std::u16string::npos)
      << std::string(xml.begin(), xml.end());
  EXPECT_NE(xml.find(u"<Provider Name=\"Far-Source\"/>"), std::u16string::npos);
}

TEST(BinXml, ValueTexts) {
  const std::vector<std::uint8_t> sid = {1,    5,    0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 0xFF, 0xFF,
                                         0xFF, 0xFF, 1, 0, 0, 0, 2, 0, 0,  0, 0xE8, 3, 0,    0};
  const std::vector<std::uint8_t> guid = {0x25, 0x96, 0x84, 0x54, 0x78, 0x54, 0x94, 0x49,
                                          0xA5, 0xBA, 0x3E, 0x3B, 0x03, 0x28, 0xC3, 0x0D};
  // 2016-07-08 18:12:51.6816408 UTC
  const std::vector<std::uint8_t> filetime = {0x18, 0x96, 0x57, 0x57, 0x44, 0xd9, 0xd1, 0x01};
  const std::vector<std::uint8_t> systime = {0xE0, 7, 7, 0, 5, 0, 8, 0, 18, 0, 12, 0, 51, 0, 5, 0};
  const std::vector<std::uint8_t> strings = {'a', 0, 0, 0, 0, 0, 'b', 0, 0, 0};
  struct Case {
    std::uint8_t type;
    std::vector<std::uint8_t> bytes;
    std::u16string_view text;
  };
  const Case cases[] = {
      {kBinXmlString, {'h', 0, 'i', 0, 0, 0}, u"hi"},
      {kBinXmlAnsiString, {'o', 'k', 0}, u"ok"},
      {kBinXmlInt8, {0xFF}, u"-1"},
      {kBinXmlUInt16, {0x10, 0x27}, u"10000"},
      {kBinXmlInt32, {0xFE, 0xFF, 0xFF, 0xFF}, u"-2"},
      {kBinXmlUInt64, {0, 0, 0, 0, 1, 0, 0, 0}, u"4294967296"},
      {kBinXmlBool, {1, 0, 0, 0}, u"true"},
      {kBinXmlBinary, {0xAB, 0x01}, u"AB01"},
      {kBinXmlGuid, guid, u"{54849625-5478-4994-A5BA-3E3B0328C30D}"},
      {kBinXmlSizeT, {0xE7, 3, 0, 0, 0, 0, 0, 0}, u"0x3e7"},
      {kBinXmlHexInt32, {0, 0, 0, 0x80}, u"0x80000000"},
      {kBinXmlHexInt64, {0, 0, 0, 0, 0, 0, 0x20, 0x80}, u"0x8020000000000000"},
      {kBinXmlFileTime, filetime, u"2016-07-08T18:12:51.6816408Z"},
      {kBinXmlSysTime, systime, u"2016-07-08T18:12:51.005Z"},
      {kBinXmlSid, sid, u"S-1-5-21-4294967295-1-2-1000"},
      {kBinXmlString | kBinXmlArray, strings, u"a, , b"},
      {kBinXmlUInt16 | kBinXmlArray, {1, 0, 2, 0, 3}, u"1, 2"},
      {kBinXmlReal64, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, u"1.5"},
      // Short values give nothing rather than bytes from beyond them.
      {kBinXmlUInt32, {1, 2}, u""},
      {kBinXmlSid, {1, 5, 0, 0, 0, 0, 0, 5, 21}, u""},
  };
  for (const Case& c : cases) {
    std::u16string text;
    AppendBinXmlValueText(text, {c.type, c.bytes});
    EXPECT_EQ(text, c.text) << int{c.type};
  }
}

}  // namespace
}  // namespace zkq
