#include "main_window_layout.h"

#include <array>

#include "app/main_window_ids.h"

namespace zkq::win32 {
namespace {

// Left column: the four rule lists stacked in the monitoring frame, wide
// enough for all five rule columns. Right column: settings, mail, computer,
// then the buttons.
constexpr int kRuleFrameTop = 22;
constexpr int kRuleFrameStep = 122;
constexpr int kRuleFrameHeight = 118;

constexpr Placement RuleFrame(int id, int index) {
  return {id, IDC_FRAMEMONITOR, 16, kRuleFrameTop + index * kRuleFrameStep, 452, kRuleFrameHeight};
}
constexpr Placement RuleList(int id, int frameId, int index) {
  return {id, frameId, 26, kRuleFrameTop + index * kRuleFrameStep + 20, 432, kRuleFrameHeight - 30};
}

constexpr int kRight = 484;
constexpr int kRightWidth = 308;
constexpr int kInner = kRight + 12;

constexpr std::array kLayout{
    Placement{IDC_FRAMEMONITOR, 0, 8, 4, 468, 510},
    RuleFrame(IDC_FRAMESYSTEM, 0),
    RuleList(IDC_LSTSYSTEM, IDC_FRAMESYSTEM, 0),
    RuleFrame(IDC_FRAMESECURITY, 1),
    RuleList(IDC_LSTSECURITY, IDC_FRAMESECURITY, 1),
    RuleFrame(IDC_FRAMEAPPLICATION, 2),
    RuleList(IDC_LSTAPPLICATION, IDC_FRAMEAPPLICATION, 2),
    RuleFrame(IDC_FRAMESERVICES, 3),
    RuleList(IDC_LSTSERVICES, IDC_FRAMESERVICES, 3),

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

}  // namespace

std::span<const Placement> MainWindowLayout() { return kLayout; }

int ScaleToDpi(int value, unsigned dpi) {
  const long long scaled = static_cast<long long>(value) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

}  // namespace zkq::win32
