#pragma once
// frmSetting on Windows: the modal dialog with its three groups, tool tips and
// the live clock tmrWatch. Its behaviour is the SettingsDialog presenter's.
#include "base/win32/handles.h"
#include "base/win32/window_base.h"
#include "config/settings_dialog.h"

namespace zkq::win32 {

class SettingsDialogWin32 final : public SettingsDialogView,
                                  public DialogBase<SettingsDialogWin32> {
 public:
  explicit SettingsDialogWin32(MessageBoxes& errorBoxes) : errorBoxes_(errorBoxes) {}
  SettingsDialogWin32(const SettingsDialogWin32&) = delete;
  SettingsDialogWin32& operator=(const SettingsDialogWin32&) = delete;

  // Shows the dialog modally over owner until the presenter closes it.
  void Run(HINSTANCE instance, HWND owner, SettingsDialog& presenter);

  // SettingsDialogView
  void SetCaption(const std::u16string& text) override;
  std::u16string FieldText(SettingsField field) override;
  void SetFieldText(SettingsField field, const std::u16string& text) override;
  void SelectAll(SettingsField field) override;
  void Focus(SettingsField field) override;
  bool Checked(SettingsCheck check) override;
  void SetChecked(SettingsCheck check, bool checked) override;
  int SecurityChoice() override;
  void SetSecurityChoice(int choice) override;
  int AuthChoice() override;
  void SetAuthChoice(int choice) override;
  void StartClock() override;
  void StopClock() override;
  void Close() override;

  // For the dialog base.
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowFailure(const std::u16string& description) noexcept;

 private:
  // The selection of a drop-down list, 0 for none.
  int Choice(int id);
  void SetChoice(int id, int choice);
  void AddToolTips();

  MessageBoxes& errorBoxes_;
  SettingsDialog* presenter_ = nullptr;
  HWND toolTip_ = nullptr;
  bool closeRequested_ = false;
};

// Opens the settings dialog over owner; true when it took new values into
// settings. testMail sends the test mail of its test button.
bool OpenSettingsDialogWindow(HINSTANCE instance, HWND owner, Settings& settings,
                              const SettingsFile& file, Clock& clock, MessageBoxes& boxes,
                              ServiceRegistration& service, TestMailSender& testMail);

}  // namespace zkq::win32
