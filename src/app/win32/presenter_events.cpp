#include "presenter_events.h"

#include "app/main_window_ids.h"

namespace zkq::win32 {

void PresenterEvents::CommandChosen(int id) {
  switch (id) {
    case IDC_CMDSTART:
      presenter_.StartClicked();
      break;
    case IDC_CMDSTOP:
      presenter_.StopClicked();
      break;
    case IDC_CMDEXIT:
      presenter_.ExitClicked();
      break;
    case IDC_CMDBUTTON0:
      presenter_.SendClicked();
      break;
    case IDC_CMDBUTTON1:
      presenter_.SettingsClicked();
      break;
    case IDM_FILE0:
    case IDM_FILE1:
    case IDM_FILE2:
    case IDM_SETTING0:
    case IDM_SETTING1:
    case IDM_HELP0:
    case IDM_HELP1:
    case IDM_HELP3:
      presenter_.MenuCommand(id);
      break;
    default:
      break;  // the check boxes and fields have no handlers
  }
}

void PresenterEvents::TrayIconNotified(unsigned mouseMessage) {
  if (mouseMessage == WM_LBUTTONDBLCLK) {
    presenter_.TrayDoubleClicked();
  } else if (mouseMessage == WM_RBUTTONDOWN) {
    presenter_.TrayRightClicked();
  }
}

}  // namespace zkq::win32
