// zkq_e2e_menu_reader.dll: a WH_CALLWNDPROC hook that the driver sets on the
// program's thread. When the pop-up menu window gets the read-menu message,
// the hook asks that window for its menu and copies every item, by position,
// into the mapping the driver named; menu handles are readable only here.
#include "menu_reader.h"

#include <cwchar>
#include <string>

namespace {

void ReadMenu(HWND popup, DWORD driverPid) {
  const std::wstring name = zkq::e2e::kMappingPrefix + std::to_wstring(driverPid);
  HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str());
  if (!mapping) return;  // the driver gave up already; nothing to tell
  auto* record = static_cast<zkq::e2e::MenuRecord*>(
      MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(zkq::e2e::MenuRecord)));
  if (record) {
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    int count = menu ? GetMenuItemCount(menu) : -1;
    if (count < 0) {
      record->error = static_cast<LONG>(GetLastError() ? GetLastError() : ERROR_INVALID_MENU_HANDLE);
    } else {
      record->count = count;
      for (int i = 0; i < count && i < zkq::e2e::kMaxItems; ++i) {
        zkq::e2e::MenuItemRecord& item = record->items[i];
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE | MIIM_ID | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = item.text;
        info.cch = static_cast<UINT>(std::size(item.text) - 1);
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) {
          record->error = static_cast<LONG>(GetLastError());
          break;
        }
        item.id = info.wID;
        item.type = info.fType;
        item.infoState = info.fState;
        item.menuState = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
      }
    }
    InterlockedExchange(&record->done, 1);
    UnmapViewOfFile(record);
  }
  CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK MenuReaderHook(int code, WPARAM wParam,
                                                                LPARAM lParam) {
  if (code == HC_ACTION) {
    static const UINT readMenu = RegisterWindowMessageW(zkq::e2e::kReadMenuMessage);
    const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (readMenu != 0 && message->message == readMenu)
      ReadMenu(message->hwnd, static_cast<DWORD>(message->wParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
