#include "main_window_win32.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <iterator>

#include "app/main_window_ids.h"
#include "app/startup.h"
#include "base/failure.h"
#include "base/text.h"
#include "main_window_layout.h"
#include "resource_ids.h"

namespace zkq::win32 {
namespace {

// A keyword search wants a keyword; the empty one opens the search page.
constexpr wchar_t kNoKeyword[] = L"";
const std::u16string kEmptyText;

enum class Kind { Frame, List, Check, Label, Edit, Button, IconButton };

struct ControlRecipe {
  int id;
  Kind kind;
  const char16_t* caption;
};

// In creation order, which is also the tab order: each frame before what it
// holds, the buttons last.
constexpr ControlRecipe kControls[] = {
    {IDC_FRAMEMONITOR, Kind::Frame, u"監視ルール"},
    {IDC_FRAMESYSTEM, Kind::Frame, u"システムログ"},
    {IDC_LSTSYSTEM, Kind::List, u""},
    {IDC_FRAMESECURITY, Kind::Frame, u"セキュリティログ"},
    {IDC_LSTSECURITY, Kind::List, u""},
    {IDC_FRAMEAPPLICATION, Kind::Frame, u"アプリケーションログ"},
    {IDC_LSTAPPLICATION, Kind::List, u""},
    {IDC_FRAMECHANNELS, Kind::Frame, u"チャンネル"},
    {IDC_LSTCHANNELS, Kind::List, u""},
    {IDC_FRAMESERVICES, Kind::Frame, u"サービス"},
    {IDC_LSTSERVICES, Kind::List, u""},

    {IDC_FRAMESETTING, Kind::Frame, u"設定"},
    {IDC_CHKSETTING0, Kind::Check, u"起動時に自動スタート"},
    {IDC_CHKSETTING1, Kind::Check, u"起動時にアイコン化"},
    {IDC_CHKSETTING2, Kind::Check, u"サービスとして起動"},
    {IDC_LBLINTERVAL, Kind::Label, u"監視間隔："},
    {IDC_TXTINTERVAL, Kind::Edit, u""},
    {IDC_LBLINTERVALUNIT, Kind::Label, u"分毎"},
    {IDC_LBLSTARTDATETIME, Kind::Label, u"監視対象日時："},
    {IDC_TXTSTARTDATETIME, Kind::Edit, u""},
    {IDC_LBLSTARTDATETIMEUNIT, Kind::Label, u"から"},

    {IDC_FRAMEMAIL, Kind::Frame, u"メール送信先"},
    {IDC_LBLMAILTO, Kind::Label, u"宛先："},
    {IDC_TXTSMTPTO, Kind::Edit, u""},
    {IDC_LBLMAILFROM, Kind::Label, u"送信者："},
    {IDC_TXTSMTPFROM, Kind::Edit, u""},
    {IDC_LBLMAILSUBJECT, Kind::Label, u"件名："},
    {IDC_TXTSMTPSUBJECT, Kind::Edit, u""},
    {IDC_TXTSMTPSERVER, Kind::Edit, u""},
    {IDC_TXTSMTPPORT, Kind::Edit, u""},

    {IDC_FRAMECOMPUTER, Kind::Frame, u"コンピュータ情報"},
    {IDC_LBLTITLECOMPUTER, Kind::Label, u"コンピュータ名："},
    {IDC_LBLCOMPUTERNAME, Kind::Label, u""},
    {IDC_LBLTITLEUSER, Kind::Label, u"ユーザ名："},
    {IDC_LBLUSERNAME, Kind::Label, u""},

    {IDC_CMDSTART, Kind::Button, u"ｽﾀｰﾄ(&S)"},
    {IDC_CMDSTOP, Kind::Button, u"ｽﾄｯﾌﾟ(&E)"},
    {IDC_CMDEXIT, Kind::Button, u"終了(&X)"},
    {IDC_CMDBUTTON0, Kind::IconButton, u""},
    {IDC_CMDBUTTON1, Kind::IconButton, u""},
};

struct Tip {
  int id;
  const char16_t* text;
};
constexpr Tip kTips[] = {
    {IDC_CMDSTART, u"スタートします"}, {IDC_CMDSTOP, u"停止します"},
    {IDC_CMDEXIT, u"終了します"},      {IDC_CMDBUTTON0, u"PC情報をメールで送信します"},
    {IDC_CMDBUTTON1, u"設定変更"},
};

constexpr int kRuleLists[] = {IDC_LSTSYSTEM, IDC_LSTSECURITY, IDC_LSTAPPLICATION, IDC_LSTCHANNELS,
                              IDC_LSTSERVICES};
// Shown only while the rules name other channels.
constexpr int kChannelControls[] = {IDC_FRAMECHANNELS, IDC_LSTCHANNELS};

// The text colour, background mode and the like of a device context, given
// back when this ends.
class SavedDcState {
 public:
  explicit SavedDcState(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  SavedDcState(const SavedDcState&) = delete;
  SavedDcState& operator=(const SavedDcState&) = delete;
  ~SavedDcState() {
    if (saved_ != 0) RestoreDC(dc_, saved_);
  }

 private:
  HDC dc_;
  int saved_;
};

bool IsRuleList(int id) {
  for (int list : kRuleLists) {
    if (list == id) return true;
  }
  return false;
}

// The per-monitor functions exist from Windows 10 1607 on; older systems (and
// Wine) get the system DPI.
}  // namespace

MainWindowWin32::MainWindowWin32(HINSTANCE instance, MessageBoxes& errorBoxes)
    : instance_(instance), errorBoxes_(errorBoxes) {}

MainWindowWin32::~MainWindowWin32() {
  if (window_ != nullptr) {
    ended_ = true;  // no more events during the teardown
    DestroyWindow(window_);
  }
}

bool MainWindowWin32::Create() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                                      ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &WindowBase<MainWindowWin32>::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  UniqueMenu menu(LoadMenuW(instance_, MAKEINTRESOURCEW(IDR_MAINMENU)));
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND created = CreateWindowExW(0, kMainWindowClass, Wide(kAppTitle), style, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 816, 600, nullptr, menu.Get(), instance_, this);
  if (created == nullptr) return false;
  // From here on the window owns its menu and destroys it with itself.
  menu_ = menu.Release();
  // Explorer runs without elevation: an elevated program would otherwise never
  // hear that the taskbar is back, and its tray icon would stay lost.
  ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);

  CreateControls();
  ApplyDpi(WindowDpi(window_));
  return true;
}

HWND MainWindowWin32::CreateChild(const wchar_t* className, const std::u16string& text, DWORD style,
                                  int id, DWORD exStyle) {
  return CreateWindowExW(exStyle, className, Wide(text), WS_CHILD | style, 0, 0, 0, 0, window_,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

void MainWindowWin32::CreateControls() {
  for (const ControlRecipe& control : kControls) {
    const std::u16string caption = control.caption;
    switch (control.kind) {
      case Kind::Frame:
        CreateChild(L"BUTTON", caption, WS_VISIBLE | BS_GROUPBOX, control.id);
        break;
      case Kind::List: {
        HWND list =
            CreateChild(WC_LISTVIEWW, caption,
                        WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                        control.id, WS_EX_CLIENTEDGE);
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        break;
      }
      case Kind::Check:
        CreateChild(L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, control.id);
        break;
      case Kind::Label:
        CreateChild(L"STATIC", caption, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, control.id);
        break;
      case Kind::Edit:
        CreateChild(L"EDIT", caption, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, control.id,
                    WS_EX_CLIENTEDGE);
        break;
      case Kind::Button:
        CreateChild(L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, control.id);
        break;
      case Kind::IconButton:
        CreateChild(L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON,
                    control.id);
        break;
    }
  }
  for (int id : kChannelControls) ShowWindow(Control(id), SW_HIDE);
  // The working lists of a cycle are never shown, but carry their columns.
  // They own no rows: a cycle of a hundred thousand new records would spend
  // seconds inserting them one by one.
  for (int id : {IDC_LSTLOG1, IDC_LSTLOG2}) {
    CreateChild(WC_LISTVIEWW, u"", LVS_REPORT | LVS_OWNERDATA, id);
  }
  statusBar_ = CreateChild(STATUSCLASSNAMEW, u"", WS_VISIBLE | SBARS_SIZEGRIP, IDC_STATUSBAR1);
  int parts[] = {-1};
  SendMessageW(statusBar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  for (const Tip& tip : kTips) AddTooltip(tip.id, tip.text);
}

void MainWindowWin32::AddTooltip(int id, const char16_t* text) {
  if (tooltip_ == nullptr) return;
  TTTOOLINFOW info{};
  // The version 2 size is understood by every comctl32, with or without the manifest.
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = window_;
  info.uId = reinterpret_cast<UINT_PTR>(Control(id));
  info.lpszText = const_cast<wchar_t*>(Wide(text));
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void MainWindowWin32::ApplyDpi(unsigned dpi) {
  ApplyFont(dpi);
  // The heading rows of the channel rules: the window's font in bold.
  LOGFONTW bold{};
  if (GetObjectW(Font(), sizeof bold, &bold) == sizeof bold) {
    bold.lfWeight = FW_BOLD;
    headingFont_ = UniqueFont(CreateFontIndirectW(&bold));
  }
  if (tooltip_ != nullptr) {
    SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  }

  bigIcon_.Reset(LoadIconSized(instance_, IDI_APP, ScaleToDpi(32, dpi)));
  smallIcon_.Reset(LoadIconSized(instance_, IDI_APP, ScaleToDpi(16, dpi)));
  sendIcon_.Reset(LoadIconSized(instance_, IDI_SEND, ScaleToDpi(32, dpi)));
  settingsIcon_.Reset(LoadIconSized(instance_, IDI_SETTINGS, ScaleToDpi(32, dpi)));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
  SendMessageW(Control(IDC_CMDBUTTON0), BM_SETIMAGE, IMAGE_ICON,
               reinterpret_cast<LPARAM>(sendIcon_.Get()));
  SendMessageW(Control(IDC_CMDBUTTON1), BM_SETIMAGE, IMAGE_ICON,
               reinterpret_cast<LPARAM>(settingsIcon_.Get()));
  if (trayAdded_) NotifyIcon(NIM_MODIFY);

  for (const auto& [listId, columns] : columns_) MeasureColumns(listId);
  SizeToLayout();
  LayoutControls();
}

void MainWindowWin32::SizeToLayout() {
  RECT statusRect{};
  GetWindowRect(statusBar_, &statusRect);
  RECT client{0, 0, ScaleToDpi(kLayoutWidth, dpi_),
              ScaleToDpi(kLayoutHeight, dpi_) + (statusRect.bottom - statusRect.top)};
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  if (adjustForDpi == nullptr || !adjustForDpi(&client, style, TRUE, exStyle, dpi_)) {
    AdjustWindowRectEx(&client, style, TRUE, exStyle);
  }
  SetWindowPos(window_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // A menu bar that wraps takes client height: grow once more by what is missing.
  RECT actual{};
  GetClientRect(window_, &actual);
  const int wanted = ScaleToDpi(kLayoutHeight, dpi_) + (statusRect.bottom - statusRect.top);
  if (actual.bottom < wanted) {
    RECT outer{};
    GetWindowRect(window_, &outer);
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left,
                 outer.bottom - outer.top + wanted - actual.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void MainWindowWin32::LayoutControls() {
  for (const Placement& place : MainWindowLayout(channelRulesShown_)) {
    SetWindowPos(Control(place.id), nullptr, ScaleToDpi(place.x, dpi_), ScaleToDpi(place.y, dpi_),
                 ScaleToDpi(place.width, dpi_), ScaleToDpi(place.height, dpi_),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (int id : kChannelControls) {
    ShowWindow(Control(id), channelRulesShown_ ? SW_SHOWNA : SW_HIDE);
  }
  SendMessageW(statusBar_, WM_SIZE, 0, 0);
}

void MainWindowWin32::ShowFirstTime() {
  if (window_ == nullptr || ended_ || shown_) return;
  shown_ = true;
  // Sent to the notification area while it was prepared: it opens there, hidden.
  if (iconised_) {
    ShowWindow(window_, SW_MINIMIZE);
    ShowWindow(window_, SW_HIDE);
    return;
  }
  ShowWindow(window_, pendingState_ == WindowState::Minimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  UpdateWindow(window_);
}

bool MainWindowWin32::TranslateDialogKeys(MSG& msg) {
  return window_ != nullptr && !ended_ && IsDialogMessageW(window_, &msg);
}

void MainWindowWin32::ShowFailure(const std::u16string& description) noexcept {
  try {
    SetBusyCursor(false);
    errorBoxes_.Show(std::u16string(kApplicationErrorText) + u"\r\n" + description,
                     MessageIcon::Exclamation);
  } catch (...) {
    // Out of memory while reporting a failure: nothing better is left to do.
  }
}

LRESULT MainWindowWin32::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    // Explorer restarted and forgot every icon.
    if (iconised_) trayAdded_ = NotifyIcon(NIM_ADD);
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(wParam, lParam);
      return 0;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SIZE:
      if (statusBar_ != nullptr) SendMessageW(statusBar_, WM_SIZE, 0, 0);
      if (events_ != nullptr && !ended_) {
        events_->WindowResized(wParam == SIZE_MINIMIZED ? WindowState::Minimized
                                                        : WindowState::Normal);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kCheckTimerId && events_ != nullptr && !ended_) events_->CheckTimerTicked();
      return 0;
    case ZKQ_WM_TRAYICON:
      // A modal window (a dialog, a message box) has disabled this one: a
      // click on the icon brings that window forward instead of acting
      // behind it.
      if (!IsWindowEnabled(window_)) {
        const UINT mouse = LOWORD(lParam);
        if (mouse == WM_LBUTTONDBLCLK || mouse == WM_RBUTTONUP || mouse == WM_RBUTTONDOWN) {
          const HWND modal = GetLastActivePopup(window_);
          if (modal != window_) SetForegroundWindow(modal);
        }
        return 0;
      }
      if (events_ != nullptr && !ended_) events_->TrayIconNotified(LOWORD(lParam));
      return 0;
    case kServiceRequestMessage:
      return serviceRequests_ && !ended_ ? serviceRequests_(wParam, lParam) : 0;
    case WM_ACTIVATE:
      // Keyboard focus goes back to the control that had it, not to the frame.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
      }
      break;
    case WM_SETFOCUS:
      if (lastFocus_ != nullptr && IsChild(window_, lastFocus_) && IsWindowEnabled(lastFocus_)) {
        SetFocus(lastFocus_);
      }
      return 0;
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      // The close box ends the program, whatever the presenter's unload did.
      if (events_ != nullptr && !ended_) {
        try {
          events_->CloseRequested();
        } catch (...) {
          EndProgram();
          throw;
        }
      }
      EndProgram();
      return 0;
    case WM_DESTROY:
      KillTimer(window_, kCheckTimerId);
      if (trayAdded_) NotifyIcon(NIM_DELETE);
      trayAdded_ = false;
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The base unbinds the window once this returns.
      statusBar_ = tooltip_ = nullptr;
      menu_ = nullptr;
      ended_ = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindowWin32::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  // Menus and accelerators send no window; buttons send BN_CLICKED.
  const bool fromMenu = lParam == 0 && (code == 0 || code == 1);
  const bool clicked = lParam != 0 && code == BN_CLICKED;
  if ((fromMenu || clicked) && events_ != nullptr && !ended_) events_->CommandChosen(id);
}

LRESULT MainWindowWin32::OnNotify(const NMHDR& header) {
  const int id = static_cast<int>(header.idFrom);
  if (header.code == LVN_GETDISPINFOW) {
    const auto rows = eventRows_.find(id);
    LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header)).item;
    if (rows == eventRows_.end() || (item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr ||
        item.cchTextMax <= 0) {
      return 0;
    }
    item.pszText[0] = L'\0';
    const EventList& list = *rows->second;
    if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= list.size()) return 0;
    const EventRow& row = list[static_cast<std::size_t>(item.iItem)];
    const std::u16string* const columns[] = {&row.type,     &row.date,    &row.time, &row.source,
                                             &row.category, &row.eventId, &row.user, &row.computer};
    if (item.iSubItem < 0 || item.iSubItem >= 8) return 0;
    const std::u16string& text = *columns[item.iSubItem];
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
    std::copy_n(text.data(), n, item.pszText);
    item.pszText[n] = L'\0';
    return 0;
  }
  if (header.code == NM_CUSTOMDRAW && headings_.count(id) != 0) {
    return DrawHeadings(header, headings_[id]);
  }
  if (header.code == NM_SETFOCUS && IsRuleList(id) && events_ != nullptr && !ended_) {
    events_->RuleListFocused(id);
  }
  return 0;
}

void MainWindowWin32::SetCaption(const std::u16string& text) {
  SetWindowTextW(window_, Wide(text));
}

void MainWindowWin32::CenterOnScreen() {
  RECT rect{};
  GetWindowRect(window_, &rect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& screen = monitor.rcMonitor;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const int left = screen.left + (screen.right - screen.left) / 2 - width / 2;
  const int top = screen.top + (screen.bottom - screen.top) / 2 - height / 2;
  SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindowWin32::SetBusyCursor(bool busy) {
  busy_ = busy;
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void MainWindowWin32::SetControlText(int id, const std::u16string& text) {
  SetWindowTextW(Control(id), Wide(text));
}

std::u16string MainWindowWin32::ControlText(int id) { return WindowText(Control(id)); }

void MainWindowWin32::SetChecked(int id, bool checked) {
  SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindowWin32::EnableControl(int id, bool enabled) { EnableWindow(Control(id), enabled); }

void MainWindowWin32::EnableMenuItem(int id, bool enabled) {
  if (menu_ == nullptr) return;
  ::EnableMenuItem(menu_, static_cast<UINT>(id), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(window_);
}

void MainWindowWin32::SetStatus(const std::u16string& text) {
  SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text)));
}

void MainWindowWin32::SetupListColumns(int listId, const std::vector<ListColumn>& columns) {
  HWND list = Control(listId);
  if (list == nullptr) return;
  while (ListView_DeleteColumn(list, 0)) {
  }
  columns_[listId] = columns;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.pszText = const_cast<wchar_t*>(Wide(columns[i].header));
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  MeasureColumns(listId);
}

void MainWindowWin32::MeasureColumns(int listId) {
  HWND list = Control(listId);
  const auto found = columns_.find(listId);
  if (list == nullptr || found == columns_.end()) return;
  const std::vector<ListColumn>& columns = found->second;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    // The list measures in its own font, which is the window's.
    const auto width = SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                    reinterpret_cast<LPARAM>(Wide(columns[i].widthSample)));
    ListView_SetColumnWidth(list, static_cast<int>(i), static_cast<int>(width));
  }
}

void MainWindowWin32::SetListRows(int listId, const std::vector<ListRow>& rows) {
  HWND list = Control(listId);
  if (list == nullptr) return;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ListRow& row = rows[i];
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    // Both branches are lvalues, so the text outlives the message that copies it.
    const std::u16string& text = row.empty() ? kEmptyText : row[0];
    item.pszText = const_cast<wchar_t*>(Wide(text));
    const auto index = SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (index < 0) continue;
    for (std::size_t sub = 1; sub < row.size(); ++sub) {
      LVITEMW subItem{};
      subItem.iSubItem = static_cast<int>(sub);
      subItem.pszText = const_cast<wchar_t*>(Wide(row[sub]));
      SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&subItem));
    }
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void MainWindowWin32::SetListSections(int listId, const std::vector<ListSection>& sections) {
  std::vector<ListRow> rows;
  std::vector<Heading>& headings = headings_[listId];
  headings.clear();
  for (const ListSection& section : sections) {
    headings.push_back({static_cast<int>(rows.size()), section.heading});
    // The heading's name is its row's text too, for whoever reads the list.
    rows.push_back({section.heading});
    rows.insert(rows.end(), section.rows.begin(), section.rows.end());
  }
  SetListRows(listId, rows);
}

// A heading row is painted across the whole list, bold and in brackets, once the list has
// drawn itself (grid lines included), so that a long name is not cut at the
// first column.
LRESULT MainWindowWin32::DrawHeadings(const NMHDR& header, const std::vector<Heading>& headings) {
  const auto& draw = reinterpret_cast<const NMLVCUSTOMDRAW&>(header);
  if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYPOSTPAINT;
  if (draw.nmcd.dwDrawStage != CDDS_POSTPAINT || headings.empty()) return CDRF_DODEFAULT;
  HWND list = draw.nmcd.hdr.hwndFrom;
  const HDC dc = draw.nmcd.hdc;
  RECT client{};
  GetClientRect(list, &client);
  // Below the column headers, which are a window of their own.
  if (HWND columns = ListView_GetHeader(list); columns != nullptr && IsWindowVisible(columns)) {
    RECT headerRect{};
    GetWindowRect(columns, &headerRect);
    client.top = headerRect.bottom - headerRect.top;
  }
  const SavedDcState state(dc);
  const HGDIOBJ listFont = reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0));
  const SelectedObject font(dc, headingFont_ ? headingFont_.Get() : listFont);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  const int padding = ScaleToDpi(6, dpi_);
  for (const Heading& heading : headings) {
    RECT row{};
    row.left = LVIR_BOUNDS;
    if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(heading.row),
                      reinterpret_cast<LPARAM>(&row))) {
      continue;
    }
    row.left = client.left;
    row.right = client.right;
    row.top = std::max(row.top, client.top);
    if (row.top >= row.bottom || row.top >= client.bottom) continue;
    // Over the grid lines and a selection, which a heading does not show.
    FillRect(dc, &row, GetSysColorBrush(COLOR_WINDOW));
    row.left += padding;
    row.right -= padding;
    // In brackets, as the alert heads the channel's section.
    const std::u16string text = u"［" + heading.text + u"］";
    DrawTextW(dc, Wide(text), static_cast<int>(text.size()), &row,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  return CDRF_DODEFAULT;
}

void MainWindowWin32::ShowChannelRules(bool shown) {
  if (window_ == nullptr || shown == channelRulesShown_) return;
  channelRulesShown_ = shown;
  LayoutControls();
  // The frames moved: what they covered is drawn anew.
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindowWin32::SetEventRows(int listId, const EventList& rows) {
  HWND list = Control(listId);
  if (list == nullptr) return;
  eventRows_[listId] = &rows;
  ListView_SetItemCountEx(list, static_cast<int>(rows.size()), 0);
  InvalidateRect(list, nullptr, TRUE);
}

void MainWindowWin32::SetWindowState(WindowState state) {
  if (window_ == nullptr || ended_) return;
  if (!shown_) {
    pendingState_ = state;
    return;
  }
  if (state == WindowState::Minimized) {
    // Already in the notification area: showing it minimised would bring it back.
    if (!iconised_) ShowWindow(window_, SW_MINIMIZE);
  } else if (iconised_) {
    RemoveTrayIconAndRestore();
  } else {
    ShowWindow(window_, SW_RESTORE);
  }
}

void MainWindowWin32::EnableCheckTimer(bool enabled) {
  if (window_ == nullptr || ended_) return;
  // SetTimer with the same id replaces the timer, so a second start keeps one.
  if (enabled) {
    SetTimer(window_, kCheckTimerId, kCheckTimerMilliseconds, nullptr);
  } else {
    KillTimer(window_, kCheckTimerId);
  }
}

bool MainWindowWin32::NotifyIcon(DWORD command) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window_;
  data.uID = 0;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = ZKQ_WM_TRAYICON;
  data.hIcon = smallIcon_.Get();
  wcsncpy_s(data.szTip, Wide(trayTip_), _TRUNCATE);
  return Shell_NotifyIconW(command, &data) != FALSE;
}

void MainWindowWin32::AddTrayIcon() {
  if (window_ == nullptr || ended_) return;
  // One icon however often the window is minimised; a failed add (no taskbar
  // yet) is repeated when the taskbar announces itself.
  iconised_ = true;
  if (!trayAdded_) trayAdded_ = NotifyIcon(NIM_ADD);
  ShowWindow(window_, SW_HIDE);
}

void MainWindowWin32::RemoveTrayIconAndRestore() {
  if (window_ == nullptr || ended_) return;
  iconised_ = false;
  ShowWindow(window_, SW_RESTORE);
  ShowWindow(window_, SW_SHOW);
  if (trayAdded_) NotifyIcon(NIM_DELETE);
  trayAdded_ = false;
  SetForegroundWindow(window_);
  SetFocus(window_);
}

void MainWindowWin32::SetTrayTip(const std::u16string& tip) {
  if (tip == trayTip_) return;
  trayTip_ = tip;
  if (window_ != nullptr && !ended_ && trayAdded_) NotifyIcon(NIM_MODIFY);
}

void MainWindowWin32::ShowFileMenuPopup() {
  if (window_ == nullptr || ended_ || menu_ == nullptr) return;
  POINT point{};
  GetCursorPos(&point);
  // Without the foreground the pop-up would not close when the user clicks elsewhere.
  SetForegroundWindow(window_);
  TrackPopupMenuEx(GetSubMenu(menu_, 0), TPM_RIGHTBUTTON | TPM_LEFTALIGN, point.x, point.y, window_,
                   nullptr);
  PostMessageW(window_, WM_NULL, 0, 0);
}

void MainWindowWin32::SetFocusTo(int id) {
  HWND control = Control(id);
  if (control != nullptr && IsWindowEnabled(control)) SetFocus(control);
}

bool MainWindowWin32::IsControlEnabled(int id) {
  HWND control = Control(id);
  return control != nullptr && IsWindowEnabled(control);
}

void MainWindowWin32::OpenHelp(const std::u16string& helpFile, unsigned command) {
  // The help engine answers a missing file with a question of its own while
  // WinHelp waits for it, which would stop the timer and every monitoring cycle
  // until somebody answers. Without a help file there is nothing to show or close.
  if (GetFileAttributesW(Wide(helpFile)) == INVALID_FILE_ATTRIBUTES) {
    if (command != HELP_QUIT) {
      const std::u16string text = u"ヘルプファイルが見つかりません。\r\n" + helpFile;
      MessageBoxW(window_, Wide(text), Wide(kAppTitle), MB_OK | MB_ICONEXCLAMATION);
    }
    return;
  }
  const ULONG_PTR data = command == HELP_PARTIALKEY ? reinterpret_cast<ULONG_PTR>(kNoKeyword) : 0;
  WinHelpW(window_, Wide(helpFile), command, data);
}

void MainWindowWin32::EndProgram() {
  if (window_ == nullptr || ended_) return;
  ended_ = true;
  KillTimer(window_, kCheckTimerId);
  DestroyWindow(window_);
}

}  // namespace zkq::win32
