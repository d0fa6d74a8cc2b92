#pragma once
// The main window on Win32: creates the controls, menus, status bar, tooltips
// and notification icon, forwards what the user does to MainWindowEvents and
// carries out what the presenter asks through MainWindowView.
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "base/ports.h"
#include "base/win32/window_base.h"
#include "win_util.h"

namespace zkq::win32 {

inline constexpr wchar_t kMainWindowClass[] = L"zkQuorvaneMain";
inline constexpr UINT_PTR kCheckTimerId = 1;
inline constexpr UINT kCheckTimerMilliseconds = 60000;
// Sent by the service dispatcher's thread: wParam the request, lParam the
// control code; the answer is the handler's success flag.
inline constexpr UINT kServiceRequestMessage = WM_APP + 2;

// What the window reports; the program forwards these to the presenter.
class MainWindowEvents {
 public:
  virtual ~MainWindowEvents() = default;
  virtual void CommandChosen(int id) = 0;  // a button (IDC_CMD*) or a menu item (IDM_*)
  virtual void WindowResized(WindowState state) = 0;
  virtual void TrayIconNotified(unsigned mouseMessage) = 0;  // WM_LBUTTONDBLCLK, WM_RBUTTONDOWN ...
  virtual void RuleListFocused(int listId) = 0;
  virtual void CheckTimerTicked() = 0;
  virtual void CloseRequested() = 0;  // the close box, Alt+F4, the system menu
};

class MainWindowWin32 final : public MainWindowView, public WindowBase<MainWindowWin32> {
 public:
  // errorBoxes shows the application error when a handler fails.
  MainWindowWin32(HINSTANCE instance, MessageBoxes& errorBoxes);
  ~MainWindowWin32() override;
  MainWindowWin32(const MainWindowWin32&) = delete;
  MainWindowWin32& operator=(const MainWindowWin32&) = delete;

  // Creates the window, still hidden, with every control. False on failure.
  bool Create();
  void SetEvents(MainWindowEvents* events) { events_ = events; }
  // Answers kServiceRequestMessage; without it every request is refused.
  void SetServiceRequests(std::function<LRESULT(WPARAM, LPARAM)> answer) {
    serviceRequests_ = std::move(answer);
  }
  // Shows the window for the first time, in the state asked for before.
  void ShowFirstTime();
  // For the message loop: keyboard navigation between the controls.
  bool TranslateDialogKeys(MSG& msg);

  HWND Control(int id) const { return GetDlgItem(window_, id); }
  bool Ended() const { return ended_; }
  bool Iconised() const { return iconised_; }

  // MainWindowView
  void SetCaption(const std::u16string& text) override;
  void CenterOnScreen() override;
  void SetBusyCursor(bool busy) override;
  void SetControlText(int id, const std::u16string& text) override;
  std::u16string ControlText(int id) override;
  void SetChecked(int id, bool checked) override;
  void EnableControl(int id, bool enabled) override;
  void EnableMenuItem(int id, bool enabled) override;
  void SetStatus(const std::u16string& text) override;
  void SetupListColumns(int listId, const std::vector<ListColumn>& columns) override;
  void SetListRows(int listId, const std::vector<ListRow>& rows) override;
  void SetListSections(int listId, const std::vector<ListSection>& sections) override;
  void ShowChannelRules(bool shown) override;
  void SetEventRows(int listId, const EventList& rows) override;
  void SetWindowState(WindowState state) override;
  void EnableCheckTimer(bool enabled) override;
  void AddTrayIcon() override;
  void RemoveTrayIconAndRestore() override;
  void SetTrayTip(const std::u16string& tip) override;
  void ShowFileMenuPopup() override;
  void SetFocusTo(int id) override;
  bool IsControlEnabled(int id) override;
  void OpenHelp(const std::u16string& helpFile, unsigned command) override;
  void EndProgram() override;

  // For the window base: every message, and the failure of a handler.
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowFailure(const std::u16string& description) noexcept;

 private:
  void CreateControls();
  HWND CreateChild(const wchar_t* className, const std::u16string& text, DWORD style, int id,
                   DWORD exStyle = 0);
  void AddTooltip(int id, const char16_t* text);
  void ApplyDpi(unsigned dpi);
  void LayoutControls();
  void SizeToLayout();
  void MeasureColumns(int listId);
  bool NotifyIcon(DWORD command);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(const NMHDR& header);
  struct Heading {
    int row;
    std::u16string text;
  };
  // NM_CUSTOMDRAW of a list with heading rows.
  LRESULT DrawHeadings(const NMHDR& header, const std::vector<Heading>& headings);

  HINSTANCE instance_;
  MessageBoxes& errorBoxes_;
  MainWindowEvents* events_ = nullptr;
  std::function<LRESULT(WPARAM, LPARAM)> serviceRequests_;
  HWND statusBar_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND lastFocus_ = nullptr;
  HMENU menu_ = nullptr;  // owned by the window once it exists
  UniqueIcon bigIcon_, smallIcon_, sendIcon_, settingsIcon_;
  UniqueFont headingFont_;
  UINT taskbarCreated_ = 0;
  WindowState pendingState_ = WindowState::Normal;
  bool shown_ = false;
  bool busy_ = false;
  bool iconised_ = false;   // minimised to the notification area
  bool trayAdded_ = false;  // the shell holds our icon
  std::u16string trayTip_ = kAppTitle;
  bool ended_ = false;
  std::map<int, std::vector<ListColumn>> columns_;
  // The rows behind each owner-data working list.
  std::map<int, const EventList*> eventRows_;
  // The heading rows of each list of sections.
  std::map<int, std::vector<Heading>> headings_;
  bool channelRulesShown_ = false;
};

}  // namespace zkq::win32
