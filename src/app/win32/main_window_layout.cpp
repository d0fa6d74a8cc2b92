#include "main_window_layout.h"

#include <array>

#include "app/main_window_ids.h"

namespace zkq::win32 {
namespace {

// Left column: the rule lists stacked in the monitoring frame, wide enough
// for all five rule columns. Right column: settings, mail, computer, then the
// buttons.
constexpr int kRuleFrameTop = 22;

struct RuleStack {
  int step, height;  // of each frame
};
constexpr RuleStack kFourLists{122, 118};
constexpr RuleStack kFiveLists{98, 94};

constexpr Placement RuleFrame(int id, int index, RuleStack stack) {
  return {id, IDC_FRAMEMONITOR, 16, kRuleFrameTop + index * stack.step, 452, stack.height};
}
constexpr Placement RuleList(int id, int frameId, int index, RuleStack stack) {
  return {id, frameId, 26, kRuleFrameTop + index * stack.step + 20, 432, stack.height - 30};
}

constexpr int kRight = 484;
constexpr int kRightWidth = 308;
constexpr int kInner = kRight + 12;

constexpr Placement kMonitorFrame{IDC_FRAMEMONITOR, 0, 8, 4, 468, 510};

struct RuleListIds {
  int frame, list;
};

// The monitoring frame and the rule lists in it, top to bottom, each in its frame.
template <std::size_t N>
constexpr std::array<Placement, 1 + 2 * N> RuleLists(const RuleListIds (&ids)[N], RuleStack stack) {
  std::array<Placement, 1 + 2 * N> out{};
  out[0] = kMonitorFrame;
  for (std::size_t i = 0; i < N; ++i) {
    const int index = static_cast<int>(i);
    out[1 + 2 * i] = RuleFrame(ids[i].frame, index, stack);
    out[2 + 2 * i] = RuleList(ids[i].list, ids[i].frame, index, stack);
  }
  return out;
}

constexpr RuleListIds kFourIds[] = {{IDC_FRAMESYSTEM, IDC_LSTSYSTEM},
                                    {IDC_FRAMESECURITY, IDC_LSTSECURITY},
                                    {IDC_FRAMEAPPLICATION, IDC_LSTAPPLICATION},
                                    {IDC_FRAMESERVICES, IDC_LSTSERVICES}};
constexpr RuleListIds kFiveIds[] = {{IDC_FRAMESYSTEM, IDC_LSTSYSTEM},
                                    {IDC_FRAMESECURITY, IDC_LSTSECURITY},
                                    {IDC_FRAMEAPPLICATION, IDC_LSTAPPLICATION},
                                    {IDC_FRAMECHANNELS, IDC_LSTCHANNELS},
                                    {IDC_FRAMESERVICES, IDC_LSTSERVICES}};
constexpr auto kFourRuleLists = RuleLists(kFourIds, kFourLists);
constexpr auto kFiveRuleLists = RuleLists(kFiveIds, kFiveLists);

constexpr std::array kRightColumn{
    Placement{IDC_FRAMESETTING, 0, kRight, 4, kRightWidth, 150},
    Placement{IDC_CHKSETTING0, IDC_FRAMESETTING, kInner, 24, 284, 20},
    Placement{IDC_CHKSETTING1, IDC_FRAMESETTING, kInner, 46, 284, 20},
    Placement{IDC_CHKSETTING2, IDC_FRAMESETTING, kInner, 68, 284, 20},
    Placement{IDC_LBLINTERVAL, IDC_FRAMESETTING, kInner, 97, 110, 18},
    Placement{IDC_TXTINTERVAL, IDC_FRAMESETTING, 610, 94, 50, 22},
    Placement{IDC_LBLINTERVALUNIT, IDC_FRAMESETTING, 666, 97, 50, 18},
    Placement{IDC_LBLSTARTDATETIME, IDC_FRAMESETTING, kInner, 123, 110, 18},
    Placement{IDC_TXTSTARTDATETIME, IDC_FRAMESETTING, 610, 120, 138, 22},
    Placement{IDC_LBLSTARTDATETIMEUNIT, IDC_FRAMESETTING, 752, 123, 32, 18},

    Placement{IDC_FRAMEMAIL, 0, kRight, 160, kRightWidth, 134},
    Placement{IDC_LBLMAILTO, IDC_FRAMEMAIL, kInner, 183, 70, 18},
    Placement{IDC_TXTSMTPTO, IDC_FRAMEMAIL, 570, 180, 214, 22},
    Placement{IDC_LBLMAILFROM, IDC_FRAMEMAIL, kInner, 209, 70, 18},
    Placement{IDC_TXTSMTPFROM, IDC_FRAMEMAIL, 570, 206, 214, 22},
    Placement{IDC_LBLMAILSUBJECT, IDC_FRAMEMAIL, kInner, 235, 70, 18},
    Placement{IDC_TXTSMTPSUBJECT, IDC_FRAMEMAIL, 570, 232, 214, 22},
    Placement{IDC_TXTSMTPSERVER, IDC_FRAMEMAIL, kInner, 260, 220, 22},
    Placement{IDC_TXTSMTPPORT, IDC_FRAMEMAIL, 722, 260, 62, 22},

    Placement{IDC_FRAMECOMPUTER, 0, kRight, 300, kRightWidth, 76},
    Placement{IDC_LBLTITLECOMPUTER, IDC_FRAMECOMPUTER, kInner, 322, 116, 18},
    Placement{IDC_LBLCOMPUTERNAME, IDC_FRAMECOMPUTER, 616, 322, 168, 18},
    Placement{IDC_LBLTITLEUSER, IDC_FRAMECOMPUTER, kInner, 348, 116, 18},
    Placement{IDC_LBLUSERNAME, IDC_FRAMECOMPUTER, 616, 348, 168, 18},

    Placement{IDC_CMDSTART, 0, kRight, 388, 98, 30},
    Placement{IDC_CMDSTOP, 0, kRight + 105, 388, 98, 30},
    Placement{IDC_CMDEXIT, 0, kRight + 210, 388, 98, 30},
    Placement{IDC_CMDBUTTON0, 0, kRight, 426, 48, 42},
    Placement{IDC_CMDBUTTON1, 0, kRight + 56, 426, 48, 42},
};

template <std::size_t N, std::size_t M>
constexpr std::array<Placement, N + M> Joined(const std::array<Placement, N>& left,
                                              const std::array<Placement, M>& right) {
  std::array<Placement, N + M> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = left[i];
  for (std::size_t i = 0; i < M; ++i) out[N + i] = right[i];
  return out;
}

constexpr auto kLayout = Joined(kFourRuleLists, kRightColumn);
constexpr auto kLayoutWithChannels = Joined(kFiveRuleLists, kRightColumn);

}  // namespace

std::span<const Placement> MainWindowLayout(bool channelRules) {
  if (channelRules) return kLayoutWithChannels;
  return kLayout;
}

int ScaleToDpi(int value, unsigned dpi) {
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

}  // namespace zkq::win32
