#include "services/service_handlers.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {
namespace {

// Fails the first failWrites writes, as a log that ran out of memory would.
class FakeLog : public ServiceEventLog {
 public:
  bool Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
             std::u16string_view text) override {
    if (failWrites > 0) {
      --failWrites;
      throw std::bad_alloc();
    }
    // As Event Viewer lists it: type, category, event ID, text.
    const std::u16string kind = type == EventEntryType::Error ? u"error " : u"information ";
    entries.push_back(kind +
                      FromUtf8(std::to_string(category) + " " + std::to_string(eventId) + " ") +
                      std::u16string(text));
    return true;
  }
  int failWrites = 0;
  std::vector<std::u16string> entries;
};

class FakeMonitor : public MonitorControl {
 public:
  void EndProgram() override {
    ++ended;
    if (fail) throw Failure(kTypeMismatch, kTypeMismatchNumber);
  }
  bool fail = false;
  int ended = 0;
};

TEST(ServiceHandlers, AnswerEachRequestWithItsEntryAndEndTheProgramOnlyOnStop) {
  const std::u16string paused = u"information 1 109 Service paused";
  const std::u16string continued = u"information 4 110 Service continued";
  const struct {
    const char* what;
    ServiceRequest request;
    std::uint32_t code;
    int failWrites;
    bool monitorFails;
    bool answer;
    std::vector<std::u16string> entries;
    int ended;
  } cases[] = {
      {"start", ServiceRequest::Start, 0, 0, false, true, {}, 0},
      {"pause", ServiceRequest::Pause, 2, 0, false, true, {paused}, 0},
      {"continue", ServiceRequest::Continue, 3, 0, false, true, {continued}, 0},
      {"custom code", ServiceRequest::Control, 200, 0, false, false, {}, 0},
      {"interrogate", ServiceRequest::Control, 4, 0, false, false, {}, 0},
      {"stop", ServiceRequest::Stop, 1, 0, false, false, {}, 1},
      // The answer is what the handler had decided when it failed.
      {"stop failing",
       ServiceRequest::Stop,
       1,
       0,
       true,
       false,
       {u"error 109 1 [13] 型が一致しません。"},
       1},
      {"pause failing before its answer",
       ServiceRequest::Pause,
       2,
       1,
       false,
       false,
       {u"error 109 1 [7] std::bad_alloc"},
       0},
      {"continue failing after its answer",
       ServiceRequest::Continue,
       3,
       1,
       false,
       true,
       {u"error 109 1 [7] std::bad_alloc"},
       0},
      {"failure entry failing too", ServiceRequest::Pause, 2, 2, false, false, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLog log;
    log.failWrites = c.failWrites;
    FakeMonitor monitor;
    monitor.fail = c.monitorFails;
    ServiceHandlers handlers(log, monitor);
    EXPECT_EQ(handlers.Handle(c.request, c.code), c.answer);
    EXPECT_EQ(log.entries, c.entries);
    EXPECT_EQ(monitor.ended, c.ended);
  }
}

TEST(ServiceHandlers, AFailureEntryCarriesTheFailuresOwnNumber) {
  struct Failing : MonitorControl {
    void EndProgram() override { fail(); }
    std::function<void()> fail;
  };
  const struct {
    std::function<void()> fail;
    std::u16string entry;
  } cases[] = {
      {[] { throw Failure(kOverflow, kOverflowNumber); },
       u"error 109 1 [6] オーバーフローしました。"},
      {[] { throw Failure(u"パスが見つかりません。", 76); },
       u"error 109 1 [76] パスが見つかりません。"},
      {[] { throw std::system_error(1058, std::system_category(), "service"); },
       u"error 109 1 [1058] service: "},
      {[] { throw std::runtime_error("other"); }, u"error 109 1 [0] other"},
  };
  for (const auto& c : cases) {
    FakeLog log;
    Failing monitor;
    monitor.fail = c.fail;
    ServiceHandlers(log, monitor).Handle(ServiceRequest::Stop, 1);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].substr(0, c.entry.size()), c.entry);
  }
}

}  // namespace
}  // namespace zkq
