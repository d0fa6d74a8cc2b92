// What the .evt adapter reads, compared with what evtexport (libevt-utils), an
// independent reader of the format, prints for the same files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "base/text.h"
#include "eventlog/evt_builder.h"
#include "eventlog/evt_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"
#include "base/testing/scratch_folder.h"

namespace zkq {
namespace {

struct Event {
  std::uint32_t number = 0;
  std::int64_t written = 0;  // seconds since 1970, UTC
  std::uint32_t type = 0, eventId = 0, category = 0;
  std::string source, computer;
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << e.number << " t=" << e.written << " type=" << e.type << " id=" << e.eventId
            << " cat=" << e.category << " " << e.source << " @" << e.computer;
}

bool HaveEvtexport() { return std::system("command -v evtexport >/dev/null 2>&1") == 0; }

std::string Run(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::int64_t ParseUtc(const std::string& text) {  // "Jul 27, 2011 06:41:47 UTC"
  static const std::string kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  DateTime t;
  t.month = static_cast<int>(kMonths.find(text.substr(0, 3)) / 3 + 1);
  std::sscanf(text.c_str() + 4, "%d, %d %d:%d:%d", &t.day, &t.year, &t.hour, &t.minute, &t.second);
  return t.ToSeconds();
}

// Oldest first, as evtexport prints them.
std::vector<Event> Evtexport(const std::filesystem::path& file) {
  std::istringstream out(Run("evtexport '" + file.string() + "' 2>/dev/null"));
  std::vector<Event> events;
  std::string line;
  auto value = [&line] { return line.substr(line.find(": ") + 2); };
  auto starts = [&line](const char* key) { return line.rfind(key, 0) == 0; };
  while (std::getline(out, line)) {
    if (starts("Event number")) {
      events.emplace_back();
      events.back().number = static_cast<std::uint32_t>(std::stoul(value()));
    } else if (events.empty()) {
      continue;
    } else if (starts("Written time")) {
      events.back().written = ParseUtc(value());
    } else if (starts("Event type")) {
      const std::string v = value();
      events.back().type = static_cast<std::uint32_t>(std::stoul(v.substr(v.rfind('(') + 1)));
    } else if (starts("Computer name")) {
      events.back().computer = value();
    } else if (starts("Source name")) {
      events.back().source = value();
    } else if (starts("Event category")) {
      events.back().category = static_cast<std::uint32_t>(std::stoul(value()));
    } else if (starts("Event identifier")) {
      events.back().eventId = static_cast<std::uint32_t>(std::stoul(value(), nullptr, 16));
    }
  }
  return events;
}

// Oldest first, to line up with evtexport; also checks that each record's row
// shows its time moved to UTC+9.
std::vector<Event> Ours(const std::filesystem::path& file) {
  EvtOpenResult opened = OpenEvtFile(file);
  EXPECT_EQ(opened.error, EvtOpenError::None);
  std::vector<Event> events;
  if (!opened.log) return events;
  NoAccountNames accounts;
  NoMessageTables tables;
  EventRowDecoder decoder(u"System", accounts, tables);
  std::span<const std::uint8_t> record;
  std::uint32_t code;
  while ((code = opened.log->ReadNext(record)) == 0) {
    const RecordFields f = DecodeRecordFields(record);
    Event e;
    e.number = f.recordNumber;
    e.written = static_cast<std::int32_t>(f.timeWritten);
    e.type = f.eventType;
    e.eventId = f.eventId;
    e.category = f.category;
    std::u16string text;
    AppendUtf16Le(text, f.source);
    e.source = ToUtf8(text);
    text.clear();
    AppendUtf16Le(text, f.computer);
    e.computer = ToUtf8(text);
    events.push_back(e);

    EventRowView row;
    EXPECT_TRUE(decoder.Decode(record, std::nullopt, row));
    const DateTime local = DateTime::FromSeconds(e.written + 9 * 3600);
    EXPECT_EQ(std::u16string(row.date) + u" " + std::u16string(row.time),
              FormatDate(local) + u" " + FormatTime(local));
  }
  EXPECT_EQ(code, kErrorHandleEof) << "the log ends where it should, not at a broken record";
  return {events.rbegin(), events.rend()};
}

TEST(Evtexport, RealDirtyWrappedSystemLog) {
  if (!HaveEvtexport()) GTEST_SKIP() << "evtexport (libevt-utils) is not installed";
  const std::filesystem::path file = std::filesystem::path(ZKQ_TESTDATA_DIR) / "SysEvent.Evt";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << file << " is not there";
  const std::vector<Event> ours = Ours(file);
  const std::vector<Event> theirs = Evtexport(file);
  ASSERT_EQ(ours.size(), 6063u);
  ASSERT_EQ(theirs.size(), ours.size());
  EXPECT_EQ(ours.front().number, 1392u);
  EXPECT_EQ(ours.back().number, 7454u);
  for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], theirs[i]) << "at " << i;
}

TEST(Evtexport, BuiltLogs) {
  if (!HaveEvtexport()) GTEST_SKIP() << "evtexport (libevt-utils) is not installed";
  std::vector<Bytes> records;
  const std::vector<std::uint16_t> types = {1, 2, 4, 8, 16};
  const std::vector<std::u16string> sources = {u"Service Control Manager", u"監視サービス", u"Tcpip",
                                               u"EventLog"};
  for (std::uint32_t n = 1; n <= 300; ++n) {
    RecordRecipe recipe;
    recipe.number = n;
    recipe.timeGenerated = 1600000000 + n * 37;
    recipe.timeWritten = recipe.timeGenerated + n % 3;
    recipe.eventId = (n % 4) << 30 | (n * 2654435761u & 0x0FFFFFFF);
    recipe.type = types[n % types.size()];
    recipe.category = static_cast<std::uint16_t>(n % 9);
    recipe.source = sources[n % sources.size()];
    recipe.computer = n % 2 ? u"SERVER01" : u"サーバー";
    // The SID is always followed by an insertion string here: evtexport
    // refuses a record that ends with its SID (Windows writes those; the
    // adapter's own tests read them).
    if (n % 3) recipe.sid = MakeSid(5, {21, n, 4294967295u, 500});
    recipe.strings = {u"insertion " + std::u16string(n % 11, u'x')};
    if (n % 5 == 0) recipe.data = Bytes(n % 13, 0xAB);
    records.push_back(BuildRecord(recipe));
  }
  std::size_t total = 0;
  for (const Bytes& r : records) total += r.size();

  struct Case {
    const char* name;
    EvtRecipe recipe;
  };
  std::vector<Case> cases(3);
  cases[0].name = "exported";
  cases[0].recipe.records = records;
  cases[1].name = "wrapped";
  cases[1].recipe.records = records;
  cases[1].recipe.fileSize = 48 + total + 40 + 1000;
  cases[1].recipe.firstOffset = 48 + total / 2 + 3 * 4;
  cases[2].name = "dirty with stale records";
  cases[2].recipe = cases[1].recipe;
  cases[2].recipe.dirty = true;
  cases[2].recipe.stale = {records.begin() + 10, records.begin() + 14};
  cases[2].recipe.staleEof = true;

  const test_support::ScratchFolder folder("zkq-evtexport-");
  const std::filesystem::path& dir = folder.Path();
  for (const Case& c : cases) {
    const std::filesystem::path file = dir / "System.evt";
    const Bytes bytes = BuildEvtFile(c.recipe);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::vector<Event> ours = Ours(file);
    const std::vector<Event> theirs = Evtexport(file);
    ASSERT_EQ(ours.size(), records.size()) << c.name;
    EXPECT_EQ(ours, theirs) << c.name;
  }
}

}  // namespace
}  // namespace zkq
