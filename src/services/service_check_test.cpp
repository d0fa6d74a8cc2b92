#include "services/service_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "base/testing/recording_boxes.h"
#include "base/text.h"

namespace zkq {
namespace {

using test_support::RecordingBoxes;

constexpr std::uint32_t kStopped = 1, kRunning = 4, kPaused = 7;

// A manager that sizes its answers as Windows does: a record per service plus
// both names, and a buffer too small gets ERROR_MORE_DATA with the bytes still missing.
class FakeServiceManager : public ServiceManager {
 public:
  std::vector<ServiceStatusEntry> services;
  std::uint32_t openError = 0;
  std::optional<std::uint32_t> probeError, enumerateError;
  // Runs before every call after the probe, as another program would between calls.
  std::function<void(FakeServiceManager&)> beforeEnumerate;
  std::u16string openedOn;
  int calls = 0;

  OpenedServiceDatabase Open(std::u16string_view computerName) override {
    openedOn = computerName;
    if (openError != 0) return {nullptr, openError};
    return {std::make_unique<Database>(*this), 0};
  }

 private:
  class Database : public ServiceDatabase {
   public:
    explicit Database(FakeServiceManager& owner) : owner_(owner) {}
    ServiceEnumeration Enumerate(std::uint32_t stateFilter, std::size_t bufferBytes) override {
      EXPECT_EQ(stateFilter, kServiceStateAll);
      FakeServiceManager& m = owner_;
      const bool probe = m.calls++ == 0;
      if (probe && m.probeError) return {*m.probeError, 0, {}};
      if (!probe && m.beforeEnumerate) m.beforeEnumerate(m);
      if (!probe && m.enumerateError) return {*m.enumerateError, 0, {}};
      std::size_t needed = 0;
      for (const auto& s : m.services)
        needed += 48 + 2 * (s.serviceName.size() + s.displayName.size() + 2);
      if (bufferBytes < needed) return {kErrorMoreData, needed - bufferBytes, {}};
      return {0, 0, m.services};
    }

   private:
    FakeServiceManager& owner_;
  };
};

const std::vector<ServiceStatusEntry> kWineServices = {
    {u"PlugPlay", u"Plug and Play Service", kRunning},
    {u"Spooler", u"Print Spooler", kStopped},
    {u"LanmanServer", u"Server", kStopped},
    {u"MSIServer", u"MSIServer", kPaused},
    {u"Svc1234\U0001F600x", u"Emoji", kStopped},
};

std::u16string RunCheck(FakeServiceManager& manager, const std::vector<ServiceRow>& rows,
                        RecordingBoxes& boxes, bool showMessages = true) {
  std::u16string alert = u"[earlier]\r\n";
  ListServiceRows(rows, u"HOST", kServiceStateAll, manager, showMessages, boxes, alert);
  return alert;
}

TEST(ListServiceRows, WritesWrongStateAndNotFoundLines) {
  const auto adds = [](FakeServiceManager& m) {
    if (m.calls == 2) m.services.push_back({u"NewSvc", u"新しいサービス", kStopped});
  };
  const struct {
    const char* name;
    std::vector<ServiceRow> rows;
    std::u16string section;  // what follows the earlier text
    std::function<void(FakeServiceManager&)> beforeEnumerate = nullptr;
    std::vector<ServiceStatusEntry> services = kWineServices;
  } cases[] = {
      {"right state", {{u"Spooler", u"停止"}, {u" PlugPlay ", u"開始"}}, u""},
      {"wrong state padded to eight",
       {{u"Spooler", u"開始"}},
       u"［サービス］\r\nSpooler  停止 Print Spooler\r\n"},
      {"long name cut to eight, matched whole",
       {{u"LanmanServer", u"開始"}, {u"Lanman", u"開始"}},
       u"［サービス］\r\nLanmanSe 停止 Server\r\nLanman <--- Not found!\r\n"},
      {"names compared without regard to case, as Windows does",
       {{u"spooler", u"開始"}, {u"PLUGPLAY", u"開始"}},
       u"［サービス］\r\nSpooler  停止 Print Spooler\r\n"},
      {"not found, trimmed",
       {{u"  nodriver  ", u"開始"}},
       u"［サービス］\r\nnodriver <--- Not found!\r\n"},
      {"state with blanks never matches",
       {{u"PlugPlay", u" 開始 "}},
       u"［サービス］\r\nPlugPlay 開始 Plug and Play Service\r\n"},
      {"two rules for one service are both checked",
       {{u"MSIServer", u"一時停止"}, {u"MSIServer", u"開始"}, {u"MSIServer", u"停止"}},
       u"［サービス］\r\nMSIServe 一時停止 MSIServer\r\nMSIServe 一時停止 MSIServer\r\n"},
      {"empty list", {}, u""},
      {"two wrong states and one missing: services' order, then the list's",
       {{u"Gone", u"開始"}, {u"Spooler", u"開始"}, {u"PlugPlay", u"停止"}},
       u"［サービス］\r\nPlugPlay 開始 Plug and Play Service\r\nSpooler  停止 Print Spooler\r\n"
       u"Gone <--- Not found!\r\n"},
      {"a service added between the calls is still checked",
       {{u"NewSvc", u"開始"}},
       u"［サービス］\r\nNewSvc   停止 新しいサービス\r\n",
       adds},
      {"a cut never splits a surrogate pair",
       {{u"Svc1234\U0001F600x", u"開始"}},
       u"［サービス］\r\nSvc1234  停止 Emoji\r\n"},
      {"no services at all: the probe succeeds, every rule is not found",
       {{u"Spooler", u"開始"}},
       u"［サービス］\r\nSpooler <--- Not found!\r\n",
       nullptr,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServiceManager manager;
    manager.services = c.services;
    manager.beforeEnumerate = c.beforeEnumerate;
    RecordingBoxes boxes;
    EXPECT_EQ(RunCheck(manager, c.rows, boxes), u"[earlier]\r\n" + c.section);
    EXPECT_EQ(manager.openedOn, u"HOST");
    EXPECT_TRUE(boxes.shown.empty());
  }
}

// A failure is said in the alert's service section, never as a clean check,
// and in a box only when asked.
TEST(ListServiceRows, FailuresAreSaidInTheSectionAndInABoxOnlyWhenAsked) {
  const struct {
    const char* name;
    std::function<void(FakeServiceManager&)> arrange;
    std::u16string message;
  } cases[] = {
      {"open", [](auto& m) { m.openError = 5; }, u"OpenSCManager failed; error = 5"},
      {"probe", [](auto& m) { m.probeError = 87; }, u"ERROR_MORE_DATA not returned; error 87"},
      {"enumeration", [](auto& m) { m.enumerateError = 6; }, u"EnumServicesStatus; error 6"},
      {"a manager that never has room enough",
       [](auto& m) {
         m.beforeEnumerate = [](FakeServiceManager& f) {
           for (int i = 0; i < 50; ++i) f.services.push_back({u"More", u"More", kRunning});
         };
       },
       u"EnumServicesStatus; error 234"},
  };
  for (const auto& c : cases) {
    for (const bool show : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (show ? " shown" : " silent"));
      FakeServiceManager manager;
      manager.services = kWineServices;
      c.arrange(manager);
      RecordingBoxes boxes;
      EXPECT_EQ(RunCheck(manager, {{u"Gone", u"開始"}}, boxes, show),
                u"[earlier]\r\n［サービス］\r\n※ サービスの状態を確認できませんでした: " + c.message +
                    u"\r\n");
      ASSERT_EQ(boxes.shown.size(), show ? 1u : 0u);
      if (show) {
        EXPECT_EQ(boxes.shown[0].text, c.message);
        EXPECT_EQ(boxes.shown[0].icon, MessageIcon::None);
      }
      EXPECT_LE(manager.calls, 6);
    }
  }
}

TEST(ServiceStatusCheck, ChecksTheServiceRulesOnTheWatchedComputer) {
  FakeServiceManager manager;
  manager.services = kWineServices;
  RecordingBoxes boxes;
  ServiceStatusCheck check(manager, boxes);
  MonitoringRule rule;
  rule.log = RuleLog::Service;
  rule.serviceName = u"Spooler";
  rule.state = u"開始";
  std::u16string alert;
  check.Check({rule}, u"PC01", false, alert);
  EXPECT_EQ(manager.openedOn, u"PC01");
  EXPECT_EQ(alert, u"［サービス］\r\nSpooler  停止 Print Spooler\r\n");
}

}  // namespace
}  // namespace zkq
