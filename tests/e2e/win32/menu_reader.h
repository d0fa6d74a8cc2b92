#pragma once
// What the driver and its menu-reading hook share. Wine lets no process read
// the menus of another (every menu call answers ERROR_INVALID_MENU_HANDLE), so
// the driver hooks the program's thread and has the hook read the pop-up menu
// in the program's own process, into a named mapping the driver created.

#include <windows.h>

namespace zkq::e2e {

// Sent to the pop-up menu window; wParam is the driver's process id, which
// names the mapping.
inline constexpr wchar_t kReadMenuMessage[] = L"zkq_e2e_read_menu";
inline constexpr wchar_t kMappingPrefix[] = L"Local\\zkq_e2e_menu_";
inline constexpr char kHookName[] = "MenuReaderHook";

struct MenuItemRecord {
  UINT id;
  UINT type;        // MENUITEMINFOW::fType
  UINT infoState;   // MENUITEMINFOW::fState
  UINT menuState;   // GetMenuState by position
  wchar_t text[128];
};

struct MenuRecord {
  LONG done;        // set last by the hook
  LONG error;       // 0, or GetLastError() of the call that failed
  LONG count;       // items in the menu; only the first kMaxItems are recorded
  MenuItemRecord items[32];
};
inline constexpr int kMaxItems = 32;

}  // namespace zkq::e2e
