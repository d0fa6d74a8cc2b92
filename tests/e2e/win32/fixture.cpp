// zkq_e2e_fixture: a window whose contents are known in advance, so that the
// runner can check the driver's readers (texts, check boxes, list views,
// status bar, message boxes, the notification-icon callback) before trusting
// them with the real program. Class "zkqE2eFixture", title "E2E 試験窓".
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "app/main_window_ids.h"

namespace {

constexpr int kEdit = 101, kCheck = 102, kDisabledButton = 103, kList = 104, kStatus = 105,
              kUnchecked = 106;
// Commands that open a message box (posted by the runner as WM_COMMAND).
constexpr int kBoxExclamation = 201, kBoxInformation = 202, kBoxPlain = 203, kBoxError = 204,
              kTrayAdd = 205;

int closedBoxes = 0;
NOTIFYICONDATAW tray{};

void SetStatus(HWND hwnd, const std::wstring& text) {
  SendMessageW(GetDlgItem(hwnd, kStatus), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Create(HWND hwnd) {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
                   int id) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
  };
  child(L"EDIT", L"件名：監視 テスト", WS_BORDER, 10, 10, 300, 24, kEdit);
  HWND check = child(L"BUTTON", L"起動時に自動スタート", BS_AUTOCHECKBOX, 10, 40, 300, 24, kCheck);
  SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
  child(L"BUTTON", L"起動時にアイコン化", BS_AUTOCHECKBOX, 10, 70, 300, 24, kUnchecked);
  HWND disabled = child(L"BUTTON", L"ｽﾀｰﾄ(&S)", BS_PUSHBUTTON, 320, 10, 100, 28, kDisabledButton);
  EnableWindow(disabled, FALSE);

  HWND list = child(WC_LISTVIEWW, L"", LVS_REPORT | WS_BORDER, 10, 100, 600, 200, kList);
  const wchar_t* headers[] = {L"指定", L"種類", L"ソース"};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.fmt = LVCFMT_LEFT;
    col.cx = 80 + 40 * i;
    col.pszText = const_cast<LPWSTR>(headers[i]);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
  // A long cell, an empty cell and Japanese text: what a reader gets wrong first.
  std::wstring longText(300, L'監');
  const wchar_t* rows[][3] = {{L"対象", L"エラー", L"*"}, {L"除外", L"", longText.c_str()}};
  for (int r = 0; r < 2; ++r) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = r;
    item.pszText = const_cast<LPWSTR>(rows[r][0]);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int c = 1; c < 3; ++c) {
      LVITEMW sub{};
      sub.iSubItem = c;
      sub.pszText = const_cast<LPWSTR>(rows[r][c]);
      SendMessageW(list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&sub));
    }
  }
  CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatus)), inst, nullptr);
  SetStatus(hwnd, L"稼動開始。[2026/12/08 04:14:53]");
}

void ShowBox(HWND hwnd, UINT style) {
  MessageBoxW(hwnd, L"試験の本文です。\r\n二行目", L"zkQuorvane", MB_OK | style);
  SetStatus(hwnd, L"閉じた数：" + std::to_wstring(++closedBoxes));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      Create(hwnd);
      return 0;
    case WM_SIZE:
      SendMessageW(GetDlgItem(hwnd, kStatus), WM_SIZE, 0, 0);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case kBoxExclamation: ShowBox(hwnd, MB_ICONEXCLAMATION); return 0;
        case kBoxInformation: ShowBox(hwnd, MB_ICONINFORMATION); return 0;
        case kBoxPlain: ShowBox(hwnd, 0); return 0;
        case kBoxError: ShowBox(hwnd, MB_ICONERROR); return 0;
        case kTrayAdd:
          tray.cbSize = sizeof tray;
          tray.hWnd = hwnd;
          tray.uID = 0;
          tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
          tray.uCallbackMessage = ZKQ_WM_TRAYICON;
          tray.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
          lstrcpynW(tray.szTip, L"zkQuorvane", 64);
          Shell_NotifyIconW(NIM_ADD, &tray);
          ShowWindow(hwnd, SW_HIDE);
          return 0;
      }
      break;
    case ZKQ_WM_TRAYICON:
      if (lp == WM_LBUTTONDBLCLK) {
        Shell_NotifyIconW(NIM_DELETE, &tray);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        SetStatus(hwnd, L"ダブルクリック");
      } else if (lp == WM_RBUTTONUP) {
        HMENU menu = CreatePopupMenu();
        AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_FILE0, L"スタート(&S)");
        AppendMenuW(menu, MF_STRING, IDM_FILE2, L"終了(&X)");
        SetForegroundWindow(hwnd);
        POINT pt{100, 100};
        TrackPopupMenu(menu, TPM_LEFTALIGN, pt.x, pt.y, 0, hwnd, nullptr);
        DestroyMenu(menu);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  if (msg == WM_COMMAND && LOWORD(wp) == IDM_FILE2) {
    DestroyWindow(hwnd);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"zkqE2eFixture";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"E2E 試験窓", WS_OVERLAPPEDWINDOW, 50, 50, 640,
                              380, nullptr, nullptr, inst, nullptr);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}
