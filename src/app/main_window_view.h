#pragma once
// What the main window presenter needs from its window and from the world.
// The Win32 window implements MainWindowView; tests use fakes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/ports.h"
#include "eventlog/event_row.h"

namespace zkq {

enum class WindowState { Normal, Minimized };

struct ListColumn {
  std::u16string header;
  std::u16string widthSample;  // header followed by blanks; the column is as wide as this text
};

// One row of a list view: the item's text and its sub-items.
using ListRow = std::vector<std::u16string>;

// Rows under a heading row that names them (the rules of one channel).
struct ListSection {
  std::u16string heading;
  std::vector<ListRow> rows;
  friend bool operator==(const ListSection&, const ListSection&) = default;
};

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  virtual void SetCaption(const std::u16string& text) = 0;
  virtual void CenterOnScreen() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // id: a control ID of main_window_ids.h (text fields, labels).
  virtual void SetControlText(int id, const std::u16string& text) = 0;
  virtual std::u16string ControlText(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  // id: a menu item ID (IDM_*).
  virtual void EnableMenuItem(int id, bool enabled) = 0;
  virtual void SetStatus(const std::u16string& text) = 0;
  virtual void SetupListColumns(int listId, const std::vector<ListColumn>& columns) = 0;
  virtual void SetListRows(int listId, const std::vector<ListRow>& rows) = 0;
  // Replaces the rows by the sections, each heading drawn as a row across the list.
  virtual void SetListSections(int listId, const std::vector<ListSection>& sections) = 0;
  // The channel rules' frame, and room made for it among the other rule
  // lists; without it the window keeps the four lists alone.
  virtual void ShowChannelRules(bool shown) = 0;
  // The working lists show rows the monitor holds, without copying them: the
  // list reads them again whenever it needs a text, until the next call.
  virtual void SetEventRows(int listId, const EventList& rows) = 0;
  // May come before the window is first shown: it is then the state the window opens in.
  virtual void SetWindowState(WindowState state) = 0;
  virtual void EnableCheckTimer(bool enabled) = 0;  // tmrCheck, 60000 ms
  // Notification icon: add with the application title as tip and hide the
  // window; remove it and show the window again.
  virtual void AddTrayIcon() = 0;
  virtual void RemoveTrayIconAndRestore() = 0;
  // The icon's tip from now on (the application title until set).
  virtual void SetTrayTip(const std::u16string& tip) = 0;
  virtual void ShowFileMenuPopup() = 0;  // at the mouse position, current enabled states
  virtual void SetFocusTo(int id) = 0;   // ignored when the control is disabled
  virtual bool IsControlEnabled(int id) = 0;
  // WinHelp with the window, the help file and command (3 contents, 0x105 partial key, 2 quit).
  virtual void OpenHelp(const std::u16string& helpFile, unsigned command) = 0;
  virtual void EndProgram() = 0;  // ends the message loop; nothing later runs
};

// The computer it watches.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  virtual std::u16string ComputerName() = 0;  // "" when the query fails
  virtual std::u16string UserName() = 0;
};

// Registration with the Windows service controller and the service dispatch.
class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // Register (with the interactive flag set) or remove the service; true on
  // success. The caller reports the outcome to the user.
  virtual RegistrationOutcome Install() = 0;
  virtual RegistrationOutcome Uninstall() = 0;
  // Accept pause and continue, then start the service dispatch (returns at once).
  virtual void Connect() = 0;
  // The service controller started this process (the program runs as the service).
  virtual bool RunsAsService() { return false; }
};

}  // namespace zkq
