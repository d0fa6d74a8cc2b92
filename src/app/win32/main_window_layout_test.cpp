#include "main_window_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/main_window_ids.h"

namespace zkq::win32 {
namespace {

bool Overlap(const Placement& a, const Placement& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::map<int, Placement> ById() {
  std::map<int, Placement> byId;
  for (const Placement& place : MainWindowLayout()) byId.emplace(place.id, place);
  return byId;
}

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
  std::multiset<int> ids;
  for (const Placement& place : MainWindowLayout()) ids.insert(place.id);
  for (int id : visible) EXPECT_EQ(ids.count(id), 1u) << "control " << id;
  EXPECT_EQ(ids.size(), std::size(visible));
}

TEST(MainWindowLayout, ControlsStayInsideTheirFrameBelowItsCaption) {
  const auto byId = ById();
  for (const Placement& place : MainWindowLayout()) {
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

TEST(MainWindowLayout, NeighboursInTheSameFrameDoNotOverlap) {
  const auto layout = MainWindowLayout();
  for (std::size_t i = 0; i < layout.size(); ++i) {
    for (std::size_t j = i + 1; j < layout.size(); ++j) {
      if (layout[i].container != layout[j].container) continue;
      EXPECT_FALSE(Overlap(layout[i], layout[j])) << layout[i].id << " and " << layout[j].id;
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
