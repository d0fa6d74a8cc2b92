// A cycle's reading of a live channel through the Event Log API (a fake of
// it, which finds a record by its number as the event log service does): 100
// new records since the bookmark in a channel of 1,000 records and in one of
// 1,000,000. The reading's cost must follow what is new, not the channel's
// size: after the benchmarks the two times are compared, and the run fails
// when the large channel's reading takes more than twice as long, or when a
// reading makes more than 2 EvtNext calls.
//
//   channel_bench [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/testing/recording_boxes.h"
#include "eventlog/channel_log.h"
#include "eventlog/no_lookups.h"
#include "eventlog/reader.h"
#include "eventlog/testing/fake_evt_api.h"

namespace zkq {
namespace {

constexpr char16_t kChannel[] = u"Microsoft-Windows-Windows Defender/Operational";
constexpr std::int64_t kFirstSecond = 1300000000;  // 2011-03-13
constexpr std::size_t kNewRecords = 100;

// A channel of count records, one every 7 seconds, with a few values each.
std::unique_ptr<test_support::FakeEvtApi> MakeChannel(std::size_t count) {
  auto api = std::make_unique<test_support::FakeEvtApi>();
  auto& events = api->channels[kChannel].events;
  events.reserve(count);
  const std::u16string strings = std::u16string(u"MpEngine") + u'\0' + u"1.1.24030.4" + u'\0';
  for (std::size_t i = 1; i <= count; ++i) {
    api->Add(kChannel, i, kFirstSecond + 7 * static_cast<std::int64_t>(i),
             u"Microsoft-Windows-Windows Defender", static_cast<std::uint16_t>(1000 + i % 200),
             strings);
  }
  return api;
}

struct Timing {
  double nanoseconds = 0;
  double nexts = 0;
};
std::map<std::size_t, Timing>& Timings() {
  static std::map<std::size_t, Timing> timings;
  return timings;
}

void BM_NewRecordsOfAChannel(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto api = MakeChannel(count);
  const std::uint64_t bookmarked = count - kNewRecords;
  const LogBookmark bookmark{bookmarked, kFirstSecond + 7 * static_cast<std::int64_t>(bookmarked)};
  NoAccountNames accounts;
  NoMessageTables tables;
  test_support::RecordingBoxes boxes;
  FixedOffsetZone zone{9 * 3600};
  EventList list;
  std::size_t readings = 0;
  api->nexts = 0;
  for (auto _ : state) {
    // A new source each time, as a program that was started again.
    ChannelLogSource source(*api);
    EventLogContext context{source, accounts, tables, boxes, zone};
    const LogReading reading =
        ReadNewEventLogRows(list, kChannel, u"PC1", u"", u"", bookmark, context);
    if (list.size() != kNewRecords || reading.failed) state.SkipWithError("wrong rows");
    benchmark::DoNotOptimize(list.data());
    ++readings;
  }
  state.counters["EvtNext"] = static_cast<double>(api->nexts) / static_cast<double>(readings);
  state.SetItemsProcessed(static_cast<std::int64_t>(readings * kNewRecords));
}
BENCHMARK(BM_NewRecordsOfAChannel)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Keeps each size's time per reading beside the console's report.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.rfind('/');
      if (slash == std::string::npos || run.iterations == 0) continue;
      Timing& t = Timings()[std::stoul(name.substr(slash + 1))];
      // Processor time: the machine running the benchmark is shared.
      t.nanoseconds = run.GetAdjustedCPUTime() * 1000;  // the unit is microseconds
      const auto nexts = run.counters.find("EvtNext");
      if (nexts != run.counters.end()) t.nexts = nexts->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace
}  // namespace zkq

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zkq::KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& timings = zkq::Timings();
  const auto small = timings.find(1000), large = timings.find(1000000);
  if (small == timings.end() || large == timings.end()) return 0;  // a filter left one out
  const double ratio = large->second.nanoseconds / small->second.nanoseconds;
  std::printf(
      "100 new records: %.1f us of processor time in a channel of 1,000, %.1f us in one of "
      "1,000,000 (ratio %.2f); "
      "EvtNext calls per reading: %.0f and %.0f\n",
      small->second.nanoseconds / 1000, large->second.nanoseconds / 1000, ratio,
      small->second.nexts, large->second.nexts);
  const bool ok = ratio <= 2 && small->second.nexts <= 2 && large->second.nexts <= 2;
  if (!ok) std::printf("FAILED: the reading's cost follows the channel's size\n");
  return ok ? 0 : 1;
}
