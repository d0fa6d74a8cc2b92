#include "base/win32/window_base.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zkq::win32 {
namespace {

constexpr UINT kThrowStd = WM_APP + 1;
constexpr UINT kThrowAnything = WM_APP + 2;

// A whole dialog: everything it states is its own behaviour; the thunk, the
// error boundary, the font and the binding come from the base.
class FixtureDialog : public DialogBase<FixtureDialog> {
 public:
  INT_PTR HandleMessage(UINT message, WPARAM, LPARAM) {
    switch (message) {
      case WM_INITDIALOG:
        fontAtStart =
            reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(window_, IDCANCEL), WM_GETFONT, 0, 0));
        PostMessageW(window_, kThrowStd, 0, 0);
        return TRUE;
      case kThrowStd:
        PostMessageW(window_, kThrowAnything, 0, 0);
        throw std::runtime_error("disk full");
      case kThrowAnything:
        PostMessageW(window_, WM_COMMAND, IDCANCEL, 0);
        throw 42;
      case WM_COMMAND:
        EndDialog(window_, 7);
        return TRUE;
      default:
        return FALSE;
    }
  }
  void ShowFailure(const std::u16string& description) noexcept { failures.push_back(description); }

  HFONT fontAtStart = nullptr;
  std::vector<std::u16string> failures;
};

TEST(DialogBase, TheSmallestDialogGetsThunkBoundaryAndFont) {
  FixtureDialog dialog;
  EXPECT_EQ(dialog.RunModal(GetModuleHandleW(nullptr), nullptr, 100), 7);
  EXPECT_EQ(dialog.failures,
            (std::vector<std::u16string>{u"disk full", u"予期しないエラーが発生しました。"}));
  ASSERT_NE(dialog.Font(), nullptr);
  EXPECT_EQ(dialog.fontAtStart, dialog.Font()) << "the controls use the message font";
  EXPECT_EQ(dialog.Handle(), nullptr) << "unbound once destroyed";
}

}  // namespace
}  // namespace zkq::win32
