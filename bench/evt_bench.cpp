// Reading a large generated .evt log: the decoder, the stamp test and 50 rules,
// in records per second, and the peak memory of doing so; and the cost of the
// events' message texts in an alert of 10,000 records.
//
//   evt_bench [benchmark flags]        runs the benchmarks (ZKQ_BENCH_RECORDS
//                                      records, one million by default)
//   evt_bench --write FILE [RECORDS [exported]]
//                                      writes the same kind of log to FILE, for
//                                      timing whole commands such as zkq rows
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "eventlog/event_message.h"
#include "eventlog/evt_builder.h"
#include "eventlog/evt_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"
#include "eventlog/row_decoder.h"
#include "rules/matching.h"

namespace zkq {
namespace {

constexpr std::uint32_t kFirstTime = 1300000000;  // 2011-03-13
constexpr std::uint32_t kSecondsApart = 7;

const std::vector<std::u16string> kSources = {u"Service Control Manager",
                                              u"EventLog",
                                              u"Tcpip",
                                              u"Disk",
                                              u"Srv",
                                              u"W32Time",
                                              u"Dhcp",
                                              u"DCOM",
                                              u"Application Popup",
                                              u"監視サービス",
                                              u"Print",
                                              u"NetBT",
                                              u"LSASRV",
                                              u"USER32",
                                              u"Schannel",
                                              u"Kerberos",
                                              u"MsiInstaller",
                                              u"Winlogon",
                                              u"SceCli",
                                              u"Userenv"};

// By default a wrapped log as a busy server leaves it, copied while in use:
// the oldest record in the middle of the file, the newest just before it, the
// header stale. Exported, it is the layout of a log saved by the event viewer.
Bytes MakeLog(std::size_t count, bool exported = false) {
  const std::vector<Bytes> sids = {MakeSid(5, {18}), MakeSid(5, {19}), MakeSid(5, {20}),
                                   MakeSid(5, {21, 3000000000u, 2000000000u, 4000000000u, 1001})};
  EvtRecipe recipe;
  recipe.records.reserve(count);
  std::size_t total = 0;
  std::uint32_t seed = 12345;
  for (std::size_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    RecordRecipe r;
    r.number = static_cast<std::uint32_t>(i + 1);
    r.timeGenerated = r.timeWritten = kFirstTime + static_cast<std::uint32_t>(i) * kSecondsApart;
    r.source = kSources[(seed >> 8) % kSources.size()];
    r.type = static_cast<std::uint16_t>(1u << ((seed >> 4) % 5));
    r.category = static_cast<std::uint16_t>((seed >> 12) % 4);
    r.eventId = 0x40000000u | ((seed >> 16) % 8000);
    r.computer = u"SERVER01";
    if ((seed >> 20) % 4 != 0) r.sid = sids[(seed >> 22) % sids.size()];
    r.strings = {u"The service entered the running state."};
    recipe.records.push_back(BuildRecord(r));
    total += recipe.records.back().size();
  }
  if (!exported) {
    recipe.fileSize = 48 + total + 40 + 4096;
    recipe.firstOffset = 48 + total / 2 + 40;
    recipe.dirty = true;
  }
  return BuildEvtFile(recipe);
}

std::vector<MonitoringRule> FiftyRules() {
  std::vector<MonitoringRule> rules;
  const std::u16string types[] = {u"エラー", u"警告", u"情報", u"成功", u"失敗"};
  for (int i = 0; i < 50; ++i) {
    MonitoringRule rule;
    rule.log = RuleLog::System;
    rule.target = i % 5 == 4 ? kExcludeTarget : kIncludeTarget;
    rule.eventType = types[i % 5];
    rule.source = i % 7 == 0 ? u"*" : kSources[i % kSources.size()];
    rule.category = i % 3 == 0 ? u"*" : u"なし";
    rule.eventId = i % 2 == 0 ? u"*" : std::u16string(1, static_cast<char16_t>(u'1' + i % 9));
    rules.push_back(rule);
  }
  return rules;
}

std::size_t RecordCount() {
  const char* text = std::getenv("ZKQ_BENCH_RECORDS");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 1000000;
}

const Bytes& Log() {
  static const Bytes log = MakeLog(RecordCount());
  return log;
}

// Peak resident memory (Linux), and its reset so that a benchmark's peak is its own.
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The stamp (UTC seconds) that lets through the newest `percent` of the records.
std::optional<std::int64_t> StampFor(int percent) {
  if (percent >= 100) return std::nullopt;
  const std::size_t skipped = RecordCount() * static_cast<std::size_t>(100 - percent) / 100;
  return RecordUtcSeconds(kFirstTime + static_cast<std::uint32_t>(skipped) * kSecondsApart);
}

// The streaming path (zkq rows, and what a reader without an EventList can do):
// open the file bytes, read every record, decode, test the stamp, run 50 rules.
void BM_DecodeStampRules(benchmark::State& state) {
  const Bytes& log = Log();
  const std::vector<MonitoringRule> rules = FiftyRules();
  const std::optional<std::int64_t> stamp = StampFor(static_cast<int>(state.range(0)));
  NoAccountNames accounts;
  NoMessageTables tables;
  std::size_t rows = 0, alerts = 0;
  ResetPeak();
  for (auto _ : state) {
    state.PauseTiming();
    Bytes copy = log;  // the file as read into memory
    state.ResumeTiming();
    std::unique_ptr<EventLog> file = OpenEvtBytes(std::move(copy));
    EventRowDecoder decoder(u"System", accounts, tables);
    rows = alerts = 0;
    ForEachEventRow(*file, decoder, stamp, [&](const EventRowView& row) {
      ++rows;
      alerts += RowPasses(rules, row);
    });
    benchmark::DoNotOptimize(alerts);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * RecordCount()));
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["alerts"] = static_cast<double>(alerts);
  state.counters["file_MiB"] = static_cast<double>(log.size()) / (1 << 20);
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_DecodeStampRules)->Arg(100)->Arg(10)->Arg(1)->Unit(benchmark::kMillisecond);

class BytesSource : public EventLogSource {
 public:
  explicit BytesSource(const Bytes& bytes) : bytes_(bytes) {}
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view,
                                 std::uint32_t&) override {
    return OpenEvtBytes(bytes_);
  }

 private:
  const Bytes& bytes_;
};

class NoBoxes : public MessageBoxes {
 public:
  void Show(const std::u16string&, MessageIcon) override {}
};

// The monitor's own cycle step: ReadEventLogRows into an EventList, then MatchEvents.
void BM_ReadEventLogRowsAndMatch(benchmark::State& state) {
  const Bytes& log = Log();
  const std::vector<MonitoringRule> rules = FiftyRules();
  const std::optional<std::int64_t> stamp = StampFor(static_cast<int>(state.range(0)));
  std::u16string date, time;
  if (stamp) {
    const DateTime t =
        DateTime::FromSeconds(*stamp + 9 * 3600);  // as written on a Japanese machine
    date = FormatDate(t);
    time = FormatTime(t);
  }
  BytesSource source(log);
  NoAccountNames accounts;
  NoMessageTables tables;
  NoBoxes boxes;
  FixedOffsetZone japan(9 * 3600);
  EventLogContext context{source, accounts, tables, boxes, japan};
  EventList rows, matches;
  ResetPeak();
  for (auto _ : state) {
    ReadEventLogRows(rows, u"System", u"SERVER01", date, time, context);
    MatchEvents(rules, rows, matches);
    benchmark::DoNotOptimize(matches.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * RecordCount()));
  state.counters["rows"] = static_cast<double>(rows.size());
  state.counters["alerts"] = static_cast<double>(matches.size());
  state.counters["peak_MiB"] = PeakMiB();
}
BENCHMARK(BM_ReadEventLogRowsAndMatch)->Arg(100)->Arg(1)->Unit(benchmark::kMillisecond);

// A live log of `count` records as the event log API hands it out: newest
// first, in 64 KiB batches (one read call each), every record made on demand
// from one template, so a million records cost no memory. It counts the read
// calls and the records handed out.
class CountingLog : public EventLog {
 public:
  CountingLog(std::uint32_t count, std::size_t& calls, std::size_t& records)
      : next_(count), calls_(calls), records_(records) {
    RecordRecipe recipe;
    recipe.source = u"Service Control Manager";
    recipe.computer = u"SERVER01";
    recipe.type = 1;
    recipe.eventId = 7036;
    recipe.strings = {u"Print Spooler", u"stopped"};
    template_ = BuildRecord(recipe);
  }
  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    if (inBatch_ == 0) {
      if (next_ == 0) return kErrorHandleEof;
      ++calls_;
      inBatch_ = (64u << 10) / template_.size();
    }
    if (next_ == 0) return kErrorHandleEof;
    --inBatch_;
    ++records_;
    PutU32(template_, 8, next_);
    PutU32(template_, 12, kFirstTime + next_ * kSecondsApart);
    PutU32(template_, 16, kFirstTime + next_ * kSecondsApart);
    --next_;
    record = template_;
    return 0;
  }

 private:
  std::uint32_t next_;
  std::size_t& calls_;
  std::size_t& records_;
  std::size_t inBatch_ = 0;
  Bytes template_;
};

class CountingSource : public EventLogSource {
 public:
  explicit CountingSource(std::uint32_t count) : count_(count) {}
  std::unique_ptr<EventLog> Open(std::u16string_view, std::u16string_view,
                                 std::uint32_t&) override {
    return std::make_unique<CountingLog>(count_, calls, records);
  }
  std::size_t calls = 0, records = 0;

 private:
  std::uint32_t count_;
};

// A cycle over a log whose bookmark lies 100 records below the newest: its
// cost follows the 100 new records, not the size of the log.
void BM_CycleAfterBookmark(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const LogBookmark bookmark{count - 100, kFirstTime + (count - 100) * std::int64_t{kSecondsApart}};
  CountingSource source(count);
  NoAccountNames accounts;
  NoMessageTables tables;
  NoBoxes boxes;
  FixedOffsetZone japan(9 * 3600);
  EventLogContext context{source, accounts, tables, boxes, japan};
  const std::vector<MonitoringRule> rules = FiftyRules();
  EventList rows, matches;
  for (auto _ : state) {
    ReadNewEventLogRows(rows, u"System", u"", u"", u"", bookmark, context);
    MatchEvents(rules, rows, matches);
    benchmark::DoNotOptimize(matches.size());
  }
  const auto cycles = static_cast<double>(state.iterations());
  state.counters["read_calls"] = static_cast<double>(source.calls) / cycles;
  state.counters["decoded"] = static_cast<double>(source.records) / cycles;
  state.counters["rows"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_CycleAfterBookmark)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A machine where the Service Control Manager registered its message and
// parameter files, answered from memory so that only the formatting counts.
class MemoryMessageTables : public NoMessageTables {
 public:
  std::u16string Environment(std::u16string_view) override { return u"C:\\Windows"; }
  std::optional<std::u16string> SourceValue(std::u16string_view, std::u16string_view,
                                            std::u16string_view name) override {
    if (name == u"EventMessageFile") return u"%SystemRoot%\\System32\\netevent.dll";
    return u"%SystemRoot%\\System32\\kernel32.dll";
  }
  std::optional<std::u16string> ModuleMessage(std::u16string_view,
                                              std::uint32_t id) override {
    if (id == 7036) return u"The %1 service entered the %2 state (elevated: %%1936).%n";
    if (id == 1936) return u"Yes%0";
    return std::nullopt;
  }
};

// One cycle that alerts 10,000 new records of one source: read, match and the
// alert text, without (0) and with (1) each record's message under its line.
void BM_AlertCycle(benchmark::State& state) {
  const bool detail = state.range(0) != 0;
  CountingSource source(10000);
  NoAccountNames accounts;
  MemoryMessageTables tables;
  NoBoxes boxes;
  FixedOffsetZone japan(9 * 3600);
  EventLogContext context{source, accounts, tables, boxes, japan};
  MonitoringRule everyError;
  everyError.log = RuleLog::System;
  everyError.target = kIncludeTarget;
  everyError.eventType = u"エラー";
  everyError.source = u"*";
  const std::vector<MonitoringRule> rules = {everyError};
  EventList rows, matches;
  std::u16string alertText;
  for (auto _ : state) {
    ReadNewEventLogRows(rows, u"System", u"", u"", u"", std::nullopt, context);
    MatchEvents(rules, rows, matches);
    alertText.clear();
    std::optional<EventMessages> messages;
    if (detail) messages.emplace(tables);
    AppendAlertSection(alertText, kAlertLogs[0], u"", matches, messages ? &*messages : nullptr);
    benchmark::DoNotOptimize(alertText.data());
  }
  state.counters["alerts"] = static_cast<double>(matches.size());
  state.counters["alert_chars"] = static_cast<double>(alertText.size());
}
BENCHMARK(BM_AlertCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zkq

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "--write") {
    const std::size_t count = argc >= 4 ? std::strtoull(argv[3], nullptr, 10) : 1000000;
    const zkq::Bytes log = zkq::MakeLog(count, argc >= 5 && std::string(argv[4]) == "exported");
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
    return out ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
