#include "main_window_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "app/main_window_ids.h"

namespace zkq::win32 {
namespace {

bool Overlap(const Placement& a, const Placement& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::map<int, Placement> ById(bool channelRules) {
  std::map<int, Placement> byId;
  for (const Placement& place : MainWindowLayout(channelRules)) byId.emplace(place.id, place);
  return byId;
}

// Both layouts: without and with the channel rules.
constexpr bool kLayouts[] = {false, true};

TEST(MainWindowLayout, EveryVisibleControlHasOnePlace) {
  const int visible[] = {IDC_CMDSTART,         IDC_CMDSTOP,
                         IDC_CMDEXIT,          IDC_CMDBUTTON0,
                         IDC_CMDBUTTON1,       IDC_FRAMEMONITOR,
                         IDC_FRAMESYSTEM,      IDC_FRAMESECURITY,
                         IDC_FRAMEAPPLICATION, IDC_FRAMESERVICES,
                         IDC_FRAMESETTING,     IDC_FRAMEMAIL,
                         IDC_FRAMECOMPUTER,    IDC_LSTSYSTEM,
                         IDC_LSTSECURITY,      IDC_LSTAPPLICATION,
                         IDC_LSTSERVICES,      IDC_CHKSETTING0,
                         IDC_CHKSETTING1,      IDC_CHKSETTING2,
                         IDC_LBLINTERVAL,      IDC_TXTINTERVAL,
                         IDC_LBLINTERVALUNIT,  IDC_LBLSTARTDATETIME,
                         IDC_TXTSTARTDATETIME, IDC_LBLSTARTDATETIMEUNIT,
                         IDC_LBLMAILTO,        IDC_TXTSMTPTO,
                         IDC_LBLMAILFROM,      IDC_TXTSMTPFROM,
                         IDC_LBLMAILSUBJECT,   IDC_TXTSMTPSUBJECT,
                         IDC_TXTSMTPSERVER,    IDC_TXTSMTPPORT,
                         IDC_LBLTITLECOMPUTER, IDC_LBLCOMPUTERNAME,
                         IDC_LBLTITLEUSER,     IDC_LBLUSERNAME};
  for (const bool channels : kLayouts) {
    SCOPED_TRACE(channels ? "with channel rules" : "without");
    std::multiset<int> ids;
    for (const Placement& place : MainWindowLayout(channels)) ids.insert(place.id);
    for (int id : visible) EXPECT_EQ(ids.count(id), 1u) << "control " << id;
    for (int id : {IDC_FRAMECHANNELS, IDC_LSTCHANNELS}) {
      EXPECT_EQ(ids.count(id), channels ? 1u : 0u) << "control " << id;
    }
    EXPECT_EQ(ids.size(), std::size(visible) + (channels ? 2 : 0));
  }
}

// The channels' frame comes between the logs and the services; the rule
// frames share the monitoring frame evenly, and nothing else moves.
TEST(MainWindowLayout, ChannelRulesTakeAFifthOfTheRuleListsAndMoveNothingElse) {
  const auto four = ById(false);
  const auto five = ById(true);
  const int frames[] = {IDC_FRAMESYSTEM, IDC_FRAMESECURITY, IDC_FRAMEAPPLICATION, IDC_FRAMECHANNELS,
                        IDC_FRAMESERVICES};
  const Placement& monitor = five.at(IDC_FRAMEMONITOR);
  for (std::size_t i = 0; i < std::size(frames); ++i) {
    const Placement& f = five.at(frames[i]);
    EXPECT_EQ(f.height, five.at(IDC_FRAMESYSTEM).height) << f.id;
    EXPECT_EQ(f.x, four.at(IDC_FRAMESYSTEM).x) << f.id;
    EXPECT_EQ(f.width, four.at(IDC_FRAMESYSTEM).width) << f.id;
    if (i > 0) {
      EXPECT_GT(f.y, five.at(frames[i - 1]).y + five.at(frames[i - 1]).height) << f.id;
    }
  }
  // Each list still shows its header and two rows at least.
  EXPECT_GE(five.at(IDC_LSTCHANNELS).height, 60);
  EXPECT_LE(five.at(IDC_FRAMESERVICES).y + five.at(IDC_FRAMESERVICES).height,
            monitor.y + monitor.height - 4);
  for (const auto& [id, place] : four) {
    const bool ruleFrameOrList =
        place.container == IDC_FRAMEMONITOR ||
        (four.count(place.container) && four.at(place.container).container == IDC_FRAMEMONITOR);
    if (ruleFrameOrList) continue;
    const Placement& moved = five.at(id);
    EXPECT_EQ(std::tie(moved.x, moved.y, moved.width, moved.height),
              std::tie(place.x, place.y, place.width, place.height))
        << id;
  }
}

TEST(MainWindowLayout, ControlsStayInsideTheirFrameBelowItsCaption) {
  for (const bool channels : kLayouts) {
    const auto byId = ById(channels);
    for (const Placement& place : MainWindowLayout(channels)) {
      EXPECT_GT(place.width, 0) << place.id;
      EXPECT_GT(place.height, 0) << place.id;
      if (place.container == 0) {
        EXPECT_GE(place.x, 0) << place.id;
        EXPECT_GE(place.y, 0) << place.id;
        EXPECT_LE(place.x + place.width, kLayoutWidth) << place.id;
        EXPECT_LE(place.y + place.height, kLayoutHeight) << place.id;
        continue;
      }
      const auto frame = byId.find(place.container);
      ASSERT_NE(frame, byId.end()) << place.id;
      const Placement& f = frame->second;
      // The frame's caption takes the first 16 pixels, its border a few more on each side.
      EXPECT_GE(place.x, f.x + 4) << place.id;
      EXPECT_GE(place.y, f.y + 16) << place.id;
      EXPECT_LE(place.x + place.width, f.x + f.width - 4) << place.id;
      EXPECT_LE(place.y + place.height, f.y + f.height - 4) << place.id;
    }
  }
}

TEST(MainWindowLayout, NeighboursInTheSameFrameDoNotOverlap) {
  for (const bool channels : kLayouts) {
    const auto layout = MainWindowLayout(channels);
    for (std::size_t i = 0; i < layout.size(); ++i) {
      for (std::size_t j = i + 1; j < layout.size(); ++j) {
        if (layout[i].container != layout[j].container) continue;
        EXPECT_FALSE(Overlap(layout[i], layout[j])) << layout[i].id << " and " << layout[j].id;
      }
    }
  }
}

TEST(MainWindowLayout, ScalesToTheNearestPixel) {
  struct Case {
    int value;
    unsigned dpi;
    int expected;
  };
  const Case cases[] = {
      {800, 96, 800}, {800, 144, 1200}, {800, 120, 1000}, {7, 120, 9},  // 8.75
      {5, 120, 6},                                                      // 6.25
      {3, 144, 5},                                                      // 4.5 goes up
      {0, 192, 0},    {-10, 144, -15},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
  }
}

}  // namespace
}  // namespace zkq::win32
