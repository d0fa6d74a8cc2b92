// zkq_e2e_driver: drives the program from a second process, the way a user
// would, and reports what it sees. One command a line, taken from the command
// line (each argument is one command) or, without arguments, from stdin until
// EOF or "quit". Each command answers with exactly one JSON line on stdout:
//   {"ok":true,"value":...}   or   {"ok":false,"error":"..."}
// so that the runner can keep one driver open for a whole test.
//
// Windows of another process are read with messages the system marshals
// (WM_GETTEXT, BM_GETCHECK) and, for list views and the status bar, whose
// messages carry pointers, through a buffer allocated in the program's own
// address space (VirtualAllocEx / ReadProcessMemory).
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window_ids.h"
#include "menu_reader.h"

namespace {

constexpr UINT kSendTimeoutMs = 5000;
// The id of tmrCheck (kCheckTimerId in src/app/win32/main_window_win32.h, a
// header that brings the whole window and its adapters with it).
constexpr UINT_PTR kCheckTimerId = 1;
constexpr DWORD kPollMs = 50;

// --- output -------------------------------------------------------------

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}
std::string Quote(const std::wstring& w) { return Quote(Utf8(w)); }
std::string Bool(bool b) { return b ? "true" : "false"; }

// A failed command: thrown inside a command, turned into {"ok":false} by the loop.
struct CommandError {
  std::string message;
};
[[noreturn]] void Fail(const std::string& message) { throw CommandError{message}; }

// --- windows --------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

// Another process's texts change while they are read: a length asked first
// and the text second cut a text that grew in between, and a list read cell
// by cell may meet a refill. So every read of another process's state is
// repeated until two reads in a row agree.
template <typename Read>
auto Settled(Read read) -> decltype(read()) {
  auto last = read();
  for (int i = 0; i < 50; ++i) {
    auto again = read();
    if (again == last) return again;
    last = std::move(again);
  }
  Fail("the text kept changing while it was read");
}

// WM_GETTEXT reaches controls of another process (GetWindowText would not ask
// them). The buffer is never sized from a length asked before: it grows until
// the text fits with room to spare.
std::wstring TextOf(HWND hwnd) {
  return Settled([hwnd] {
    for (size_t size = 1024;; size *= 4) {
      std::wstring text(size, L'\0');
      DWORD_PTR copied = 0;
      if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(),
                               reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                               kSendTimeoutMs, &copied))
        Fail("the window does not answer WM_GETTEXT");
      if (copied + 1 < size || size >= (1u << 22)) {
        text.resize(copied);
        return text;
      }
    }
  });
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

struct TrayIcon {
  HWND tray;  // the window that draws it
  RECT rect;  // in the client area of tray
  std::wstring tip;
};

struct WindowInfo {
  HWND hwnd;
  std::wstring className;
  DWORD pid;
};

std::vector<WindowInfo> TopLevelWindows() {
  std::vector<HWND> handles;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&handles));
  std::vector<WindowInfo> out;
  for (HWND h : handles) out.push_back({h, ClassOf(h), ProcessOf(h)});
  return out;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> handles;
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&handles));
  return handles;
}

std::string RectJson(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return "{\"left\":" + std::to_string(r.left) + ",\"top\":" + std::to_string(r.top) +
         ",\"right\":" + std::to_string(r.right) + ",\"bottom\":" + std::to_string(r.bottom) + "}";
}

// --- memory in the program's process ------------------------------------

class RemoteBuffer {
 public:
  RemoteBuffer(DWORD pid, size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                               PROCESS_QUERY_INFORMATION,
                           FALSE, pid);
    if (!process_) Fail("cannot open the program's process (" + std::to_string(GetLastError()) + ")");
    address_ = static_cast<char*>(
        VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!address_) {
      CloseHandle(process_);
      Fail("cannot allocate memory in the program's process");
    }
  }
  ~RemoteBuffer() {
    VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  char* At(size_t offset) const { return address_ + offset; }
  void Write(size_t offset, const void* data, size_t n) {
    SIZE_T done = 0;
    if (offset + n > size_ || !WriteProcessMemory(process_, At(offset), data, n, &done) || done != n)
      Fail("cannot write the program's memory");
  }
  void Read(size_t offset, void* data, size_t n) const {
    SIZE_T done = 0;
    if (offset + n > size_ || !ReadProcessMemory(process_, At(offset), data, n, &done) || done != n)
      Fail("cannot read the program's memory");
  }
  // A NUL-terminated text of at most maxChars characters at offset.
  std::wstring ReadText(size_t offset, size_t maxChars) const {
    std::wstring text(maxChars, L'\0');
    Read(offset, text.data(), maxChars * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    return text;
  }

 private:
  HANDLE process_ = nullptr;
  char* address_ = nullptr;
  size_t size_;
};

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
    Fail("the window does not answer message " + std::to_string(msg));
  return static_cast<LRESULT>(result);
}

// --- the driver's state and commands -------------------------------------

class Driver {
 public:
  std::string Run(const std::vector<std::wstring>& args);

 private:
  HWND Target() const {
    if (!target_ || !IsWindow(target_)) Fail("no window: use wait-window first");
    return target_;
  }
  HWND Control(const std::wstring& idText) const;
  std::string WaitWindow(const std::wstring& cls, const std::wstring& title, DWORD timeout);
  std::string ControlJson(HWND control) const;
  std::string ListColumns(HWND list) const;
  std::string ListRows(HWND list) const;
  std::string ListColumnsOnce(HWND list) const;
  std::string ListRowsOnce(HWND list) const;
  std::string Status() const;
  std::vector<HWND> MessageBoxes() const;
  std::string MessageBoxJson(HWND box) const;
  std::string IconOf(HWND box) const;
  std::vector<TrayIcon> TrayIcons() const;
  std::string WindowsJson() const;
  HWND VisiblePopup() const;
  bool Ours(DWORD pid) const { return programPid_ == 0 || pid == programPid_; }
  void WaitIdle(DWORD timeout);

  HWND target_ = nullptr;
  DWORD programPid_ = 0;  // 0: any process (before wait-window / wait-process)
  HANDLE program_ = nullptr;  // the process that "start" launched
  LPARAM idleMark_ = 0;
};

int Number(const std::wstring& text) {
  wchar_t* end = nullptr;
  long v = std::wcstol(text.c_str(), &end, 0);
  if (text.empty() || *end != L'\0') Fail("not a number: " + Utf8(text));
  return static_cast<int>(v);
}

void Require(const std::vector<std::wstring>& args, size_t count, const char* usage) {
  if (args.size() != count + 1) Fail(std::string("usage: ") + usage);
}

// Polls until ready() yields a value or timeout passes; no fixed sleeps anywhere.
template <typename F>
auto Poll(DWORD timeout, F ready) -> decltype(ready()) {
  DWORD start = GetTickCount();
  for (;;) {
    auto result = ready();
    if (result || GetTickCount() - start >= timeout) return result;
    Sleep(kPollMs);
  }
}

HWND Driver::Control(const std::wstring& idText) const {
  int id = Number(idText);
  for (HWND child : Descendants(Target()))
    if (GetDlgCtrlID(child) == id) return child;
  Fail("no control with id " + std::to_string(id));
}

std::string Driver::WaitWindow(const std::wstring& cls, const std::wstring& title, DWORD timeout) {
  HWND found = Poll(timeout, [&] { return FindWindowW(cls.c_str(), title.c_str()); });
  if (!found) Fail("no window of class " + Utf8(cls) + " titled " + Utf8(title));
  target_ = found;
  programPid_ = ProcessOf(found);
  return "{\"hwnd\":" + std::to_string(reinterpret_cast<std::uintptr_t>(found)) +
         ",\"pid\":" + std::to_string(programPid_) +
         ",\"visible\":" + Bool(IsWindowVisible(found)) + ",\"rect\":" + RectJson(found) + "}";
}

// Waits until the program's thread has taken every message posted to it before
// this call: its handlers have returned, or one of them runs a modal loop (a
// message box). Posted messages are taken in order, so a mark posted last is
// taken last; the mark is a hover time for lstLog1, which means nothing to a
// list without hot tracking and is never shown, since that list is hidden.
void Driver::WaitIdle(DWORD timeout) {
  HWND list = Control(std::to_wstring(IDC_LSTLOG1));
  LPARAM mark = 40000 + (++idleMark_ % 1000);
  if (!PostMessageW(list, LVM_SETHOVERTIME, 0, mark)) Fail("cannot post to lstLog1");
  bool taken = Poll(timeout, [&] {
    DWORD_PTR now = 0;
    // A short wait: the thread answers only between messages, and a cycle may be running.
    return SendMessageTimeoutW(list, LVM_GETHOVERTIME, 0, 0, SMTO_NORMAL, 200, &now) &&
           static_cast<LPARAM>(now) == mark;
  });
  if (!taken) Fail("the program is still busy after " + std::to_string(timeout) + " ms");
}

std::string Driver::ControlJson(HWND c) const {
  std::wstring cls = ClassOf(c);
  std::string out = "{\"class\":" + Quote(cls) + ",\"text\":" + Quote(TextOf(c)) +
                    ",\"enabled\":" + Bool(IsWindowEnabled(c)) +
                    ",\"visible\":" + Bool(IsWindowVisible(c));
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    LONG type = GetWindowLongW(c, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
        type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
      out += ",\"checked\":" + Bool(Send(c, BM_GETCHECK, 0, 0) == BST_CHECKED);
  }
  return out + "}";
}

std::string Driver::ListColumns(HWND list) const {
  return Settled([&] { return ListColumnsOnce(list); });
}

std::string Driver::ListRows(HWND list) const {
  return Settled([&] { return ListRowsOnce(list); });
}

std::string Driver::ListColumnsOnce(HWND list) const {
  HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
  int count = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  constexpr size_t kChars = 512;
  RemoteBuffer remote(programPid_, sizeof(LVCOLUMNW) + kChars * sizeof(wchar_t));
  std::string out = "[";
  for (int i = 0; i < count; ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.pszText = reinterpret_cast<LPWSTR>(remote.At(sizeof(LVCOLUMNW)));
    col.cchTextMax = kChars;
    remote.Write(0, &col, sizeof col);
    wchar_t nul = L'\0';
    remote.Write(sizeof(LVCOLUMNW), &nul, sizeof nul);
    if (!Send(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.At(0))))
      Fail("LVM_GETCOLUMN failed for column " + std::to_string(i));
    remote.Read(0, &col, sizeof col);
    const char* align = (col.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT    ? "right"
                        : (col.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER ? "center"
                                                                          : "left";
    if (i) out += ",";
    out += "{\"text\":" + Quote(remote.ReadText(sizeof(LVCOLUMNW), kChars)) +
           ",\"width\":" + std::to_string(col.cx) + ",\"align\":\"" + align + "\"}";
  }
  return out + "]";
}

std::string Driver::ListRowsOnce(HWND list) const {
  HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  if (columns < 1) columns = 1;
  int rows = static_cast<int>(Send(list, LVM_GETITEMCOUNT, 0, 0));
  // Large enough for any cell this program shows (a rule field is at most a
  // line of the rules file); a longer cell would come back cut, not overrun.
  constexpr size_t kChars = 4096;
  RemoteBuffer remote(programPid_, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  std::string out = "[";
  for (int r = 0; r < rows; ++r) {
    out += r ? ",[" : "[";
    for (int c = 0; c < columns; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.pszText = reinterpret_cast<LPWSTR>(remote.At(sizeof(LVITEMW)));
      item.cchTextMax = kChars;
      remote.Write(0, &item, sizeof item);
      wchar_t nul = L'\0';
      remote.Write(sizeof(LVITEMW), &nul, sizeof nul);
      Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(remote.At(0)));
      if (c) out += ",";
      out += Quote(remote.ReadText(sizeof(LVITEMW), kChars));
    }
    out += "]";
  }
  return out + "]";
}

std::string Driver::Status() const {
  HWND bar = nullptr;
  for (HWND child : Descendants(Target()))
    if (_wcsicmp(ClassOf(child).c_str(), STATUSCLASSNAMEW) == 0) bar = child;
  if (!bar) Fail("the window has no status bar");
  // SB_GETTEXT takes no buffer size, so the buffer is larger than any text
  // the bar can hold (its length is a 16-bit count) and the read is repeated
  // until it agrees with itself.
  constexpr size_t kChars = 0x10000 + 1;
  RemoteBuffer remote(programPid_, kChars * sizeof(wchar_t));
  const std::wstring text = Settled([&] {
    wchar_t nul = L'\0';
    remote.Write(0, &nul, sizeof nul);
    Send(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote.At(0)));
    return remote.ReadText(0, kChars);
  });
  int parts = static_cast<int>(Send(bar, SB_GETPARTS, 0, 0));
  return "{\"text\":" + Quote(text) + ",\"parts\":" + std::to_string(parts) + "}";
}

std::vector<HWND> Driver::MessageBoxes() const {
  std::vector<HWND> out;
  for (const WindowInfo& w : TopLevelWindows())
    if (w.className == L"#32770" && IsWindowVisible(w.hwnd) && Ours(w.pid)) out.push_back(w.hwnd);
  return out;
}

// Which standard icon a message box shows. Icon handles are private to the
// program's process under Wine, so the icon is told by its pixels: the
// exclamation triangle is yellow, the information and question marks blue, the
// error sign red. A box without an icon has no visible SS_ICON control, or one
// without an image.
std::string Driver::IconOf(HWND box) const {
  HWND icon = nullptr;
  for (HWND child : Descendants(box))
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child))
      icon = child;
  if (!icon) return "none";
  if (!Send(icon, STM_GETICON, 0, 0)) return "none";
  RECT r{};
  GetWindowRect(icon, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return "none";
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  int yellow = 0, blue = 0, red = 0;
  const auto* px = static_cast<const std::uint8_t*>(bits);
  for (int i = 0; i < w * h; ++i) {
    int b = px[4 * i], g = px[4 * i + 1], rd = px[4 * i + 2];
    if (rd > 180 && g > 140 && b < 100) ++yellow;
    else if (b > 150 && rd < 120 && g < 200) ++blue;
    else if (rd > 170 && g < 90 && b < 90) ++red;
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  int least = (w * h) / 20;  // a few stray pixels of an outline do not name an icon
  if (yellow >= least && yellow >= blue && yellow >= red) return "exclamation";
  if (red >= least && red >= blue) return "error";
  if (blue >= least) return "information";
  return "unknown";
}

std::string Driver::MessageBoxJson(HWND box) const {
  HWND textControl = GetDlgItem(box, 0xFFFF);
  // A box that has just opened may not be painted yet: its icon is read from
  // the screen, so wait until the icon can be told (a box without one answers at once).
  std::string icon;
  Poll(3000, [&] { return (icon = IconOf(box)) != "unknown"; });
  std::string out = "{\"caption\":" + Quote(TextOf(box)) +
                    ",\"text\":" + Quote(textControl ? TextOf(textControl) : std::wstring()) +
                    ",\"icon\":\"" + icon + "\",\"buttons\":[";
  bool first = true;
  for (HWND child : Descendants(box)) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child)) continue;
    out += first ? "" : ",";
    first = false;
    out += "{\"id\":" + std::to_string(GetDlgCtrlID(child)) + ",\"text\":" + Quote(TextOf(child)) +
           "}";
  }
  return out + "],\"pid\":" + std::to_string(ProcessOf(box)) + ",\"rect\":" + RectJson(box) + "}";
}

// The icons of the notification area are not windows: Wine's taskbar draws
// them and keeps one tool per icon in its tooltip control, with the icon's tip
// and its rectangle in the tray window. Those tools are what a user hovers
// and clicks, so they are what the driver reads and clicks.
std::vector<TrayIcon> Driver::TrayIcons() const {
  std::vector<TrayIcon> out;
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) return out;
  DWORD explorer = ProcessOf(tray);
  // TTM_ENUMTOOLS copies the whole text, whatever its length: room to spare.
  constexpr size_t kChars = 1024;
  for (const WindowInfo& w : TopLevelWindows()) {
    if (w.pid != explorer || w.className != L"tooltips_class32") continue;
    int count = static_cast<int>(Send(w.hwnd, TTM_GETTOOLCOUNT, 0, 0));
    if (count <= 0) continue;
    RemoteBuffer remote(explorer, sizeof(TTTOOLINFOW) + kChars * sizeof(wchar_t));
    for (int i = 0; i < count; ++i) {
      TTTOOLINFOW info{};
      info.cbSize = sizeof info;
      info.lpszText = reinterpret_cast<LPWSTR>(remote.At(sizeof(TTTOOLINFOW)));
      remote.Write(0, &info, sizeof info);
      wchar_t nul = L'\0';
      remote.Write(sizeof(TTTOOLINFOW), &nul, sizeof nul);
      if (!Send(w.hwnd, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.At(0))))
        continue;
      remote.Read(0, &info, sizeof info);
      // The taskbar keeps the tool of a deleted icon, with an empty rectangle.
      if (IsRectEmpty(&info.rect)) continue;
      out.push_back({info.hwnd, info.rect, remote.ReadText(sizeof(TTTOOLINFOW), kChars)});
    }
  }
  return out;
}

// Mouse messages to the icon's place in the tray window, as the taskbar gets
// them from a real mouse; it tells the icon's owner through its callback.
void ClickTrayIcon(const TrayIcon& icon, const std::vector<UINT>& messages) {
  LPARAM at = MAKELPARAM((icon.rect.left + icon.rect.right) / 2,
                         (icon.rect.top + icon.rect.bottom) / 2);
  for (UINT m : messages) {
    WPARAM keys = (m == WM_LBUTTONDOWN || m == WM_LBUTTONDBLCLK) ? MK_LBUTTON
                  : m == WM_RBUTTONDOWN                          ? MK_RBUTTON
                                                                 : 0;
    PostMessageW(icon.tray, m, keys, at);
  }
}

std::string Driver::WindowsJson() const {
  std::string out = "[";
  bool first = true;
  for (const WindowInfo& w : TopLevelWindows()) {
    out += first ? "" : ",";
    first = false;
    wchar_t title[256] = {};
    GetWindowTextW(w.hwnd, title, 256);
    out += "{\"class\":" + Quote(w.className) + ",\"title\":" + Quote(std::wstring(title)) +
           ",\"pid\":" + std::to_string(w.pid) + ",\"visible\":" + Bool(IsWindowVisible(w.hwnd)) +
           ",\"children\":" + std::to_string(Descendants(w.hwnd).size()) +
           ",\"rect\":" + RectJson(w.hwnd) + "}";
  }
  return out + "]";
}

HWND Driver::VisiblePopup() const {
  for (const WindowInfo& w : TopLevelWindows())
    if (w.className == L"#32768" && IsWindowVisible(w.hwnd) && Ours(w.pid)) return w.hwnd;
  return nullptr;
}

// Has the hook DLL beside the driver read the pop-up's menu in the process
// that owns it; the result comes back through a mapping named after the driver.
zkq::e2e::MenuRecord ReadPopupMenu(HWND popup) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dll(self);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"zkq_e2e_menu_reader.dll";
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) Fail("cannot load " + Utf8(dll) + " (" + std::to_string(GetLastError()) + ")");
  auto hook = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(module, zkq::e2e::kHookName)));
  if (!hook) {
    FreeLibrary(module);
    Fail("the menu reader has no hook");
  }
  const std::wstring name = zkq::e2e::kMappingPrefix + std::to_wstring(GetCurrentProcessId());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(zkq::e2e::MenuRecord), name.c_str());
  auto* shared = mapping ? static_cast<zkq::e2e::MenuRecord*>(MapViewOfFile(
                               mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(zkq::e2e::MenuRecord)))
                         : nullptr;
  zkq::e2e::MenuRecord result{};
  std::string failure;
  if (!shared) {
    failure = "cannot create the menu mapping";
  } else {
    ZeroMemory(shared, sizeof *shared);
    HHOOK hooked = SetWindowsHookExW(WH_CALLWNDPROC, hook, module, GetWindowThreadProcessId(popup, nullptr));
    if (!hooked) {
      failure = "cannot hook the program's thread (" + std::to_string(GetLastError()) + ")";
    } else {
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(popup, RegisterWindowMessageW(zkq::e2e::kReadMenuMessage),
                          GetCurrentProcessId(), 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
      UnhookWindowsHookEx(hooked);
      if (!InterlockedCompareExchange(&shared->done, 0, 0))
        failure = "the pop-up menu was not read in the program's process";
      else if (shared->error)
        failure = "the program's process cannot read its pop-up menu (" + std::to_string(shared->error) + ")";
      else
        result = *shared;
    }
  }
  if (shared) UnmapViewOfFile(shared);
  if (mapping) CloseHandle(mapping);
  FreeLibrary(module);
  if (!failure.empty()) Fail(failure);
  return result;
}

std::string MenuItemsJson(const zkq::e2e::MenuRecord& menu) {
  std::string out = "[";
  for (int i = 0; i < menu.count && i < zkq::e2e::kMaxItems; ++i) {
    const zkq::e2e::MenuItemRecord& item = menu.items[i];
    wchar_t text[std::size(item.text) + 1] = {};
    std::wmemcpy(text, item.text, std::size(item.text));
    out += std::string(i ? "," : "") + "{\"position\":" + std::to_string(i) +
           ",\"text\":" + Quote(std::wstring(text)) + ",\"id\":" + std::to_string(item.id) +
           ",\"separator\":" + Bool(item.type & MFT_SEPARATOR) +
           ",\"grayed\":" + Bool(item.menuState & MF_GRAYED) +
           ",\"disabled\":" + Bool(item.menuState & MF_DISABLED) +
           ",\"enabled\":" + Bool(!(item.infoState & MFS_DISABLED)) + "}";
  }
  if (menu.count > zkq::e2e::kMaxItems) Fail("the pop-up menu has more items than the driver reads");
  return out + "]";
}

DWORD PidOfImage(const std::wstring& name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD pid = 0;
  for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry))
    if (_wcsicmp(entry.szExeFile, name.c_str()) == 0) pid = entry.th32ProcessID;
  CloseHandle(snap);
  return pid;
}

std::string Driver::Run(const std::vector<std::wstring>& a) {
  const std::wstring& cmd = a[0];
  if (cmd == L"wait-window") {
    Require(a, 3, "wait-window CLASS TITLE TIMEOUT_MS");
    return WaitWindow(a[1], a[2], static_cast<DWORD>(Number(a[3])));
  }
  if (cmd == L"find-window") {  // does not change the target
    Require(a, 2, "find-window CLASS TITLE");
    HWND h = FindWindowW(a[1].c_str(), a[2].c_str());
    return "{\"exists\":" + Bool(h != nullptr) + ",\"visible\":" + Bool(h && IsWindowVisible(h)) +
           "}";
  }
  if (cmd == L"wait-process") {
    Require(a, 2, "wait-process IMAGE_NAME TIMEOUT_MS");
    DWORD pid = Poll(static_cast<DWORD>(Number(a[2])), [&] { return PidOfImage(a[1]); });
    if (!pid) Fail("no process " + Utf8(a[1]));
    programPid_ = pid;
    return std::to_string(pid);
  }
  if (cmd == L"start") {
    // start EXE [ARGUMENTS]: the command line is the quoted program path, and
    // when ARGUMENTS is given, one blank and ARGUMENTS exactly as written, so
    // that leading, trailing and only blanks reach the program unchanged.
    if (a.size() < 2 || a.size() > 3) Fail("usage: start EXE [ARGUMENTS]");
    std::wstring line = L"\"" + a[1] + L"\"";
    if (a.size() == 3) line += L" " + a[2];
    std::wstring dir = a[1].substr(0, a[1].find_last_of(L"\\/"));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(a[1].c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.c_str(), &si, &pi))
      Fail("cannot start " + Utf8(a[1]) + " (" + std::to_string(GetLastError()) + ")");
    CloseHandle(pi.hThread);
    if (program_) CloseHandle(program_);
    program_ = pi.hProcess;
    programPid_ = pi.dwProcessId;
    target_ = nullptr;
    return std::to_string(programPid_);
  }
  if (cmd == L"wait-exit") {
    Require(a, 1, "wait-exit TIMEOUT_MS");
    if (!program_) Fail("no program started");
    if (WaitForSingleObject(program_, static_cast<DWORD>(Number(a[1]))) != WAIT_OBJECT_0)
      Fail("the program is still running");
    DWORD code = 0;
    GetExitCodeProcess(program_, &code);
    return std::to_string(code);
  }
  if (cmd == L"running") return Bool(program_ && WaitForSingleObject(program_, 0) == WAIT_TIMEOUT);
  if (cmd == L"kill") {
    if (program_ && WaitForSingleObject(program_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(program_, 1);
      WaitForSingleObject(program_, 5000);
      return "true";
    }
    return "false";
  }
  if (cmd == L"caption") return Quote(TextOf(Target()));
  if (cmd == L"rect") return RectJson(Target());
  if (cmd == L"visible") return Bool(IsWindowVisible(Target()));
  if (cmd == L"iconic") return Bool(IsIconic(Target()));
  if (cmd == L"wait-visible" || cmd == L"wait-hidden") {
    Require(a, 1, "wait-visible|wait-hidden TIMEOUT_MS");
    bool want = cmd == L"wait-visible";
    HWND t = Target();
    if (!Poll(static_cast<DWORD>(Number(a[1])), [&] { return (IsWindowVisible(t) != 0) == want; }))
      Fail(want ? "the window stays hidden" : "the window stays visible");
    return "true";
  }
  if (cmd == L"wait-gone") {
    Require(a, 1, "wait-gone TIMEOUT_MS");
    HWND t = target_;
    if (!Poll(static_cast<DWORD>(Number(a[1])), [&] { return !t || !IsWindow(t); }))
      Fail("the window is still there");
    return "true";
  }
  if (cmd == L"text") {
    Require(a, 1, "text ID");
    return Quote(TextOf(Control(a[1])));
  }
  if (cmd == L"enabled") {
    Require(a, 1, "enabled ID");
    return Bool(IsWindowEnabled(Control(a[1])));
  }
  if (cmd == L"control") {
    Require(a, 1, "control ID");
    return ControlJson(Control(a[1]));
  }
  if (cmd == L"controls") {  // every control of the window, by ID
    std::string out = "{";
    bool first = true;
    for (HWND child : Descendants(Target())) {
      int id = GetDlgCtrlID(child);
      if (id <= 0) continue;
      out += first ? "" : ",";
      first = false;
      out += "\"" + std::to_string(id) + "\":" + ControlJson(child);
    }
    return out + "}";
  }
  if (cmd == L"status") return Status();
  if (cmd == L"list-columns") {
    Require(a, 1, "list-columns ID");
    return ListColumns(Control(a[1]));
  }
  if (cmd == L"list-rows") {
    Require(a, 1, "list-rows ID");
    return ListRows(Control(a[1]));
  }
  // --- typing and choosing, as a user does in a dialog -------------------
  if (cmd == L"set-text") {  // replaces the text as a paste would; the control tells its parent
    Require(a, 2, "set-text ID TEXT");
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(Control(a[1]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored))
      Fail("the control does not answer WM_SETTEXT");
    return "true";
  }
  if (cmd == L"focus") {  // the keyboard focus to a control, as a click or Tab would put it
    Require(a, 1, "focus ID");
    HWND c = Control(a[1]);
    HWND parent = GetParent(c);
    if (ClassOf(parent) == L"#32770") {
      // A dialog moves its focus itself, default button included.
      PostMessageW(parent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
    } else {
      DWORD program = GetWindowThreadProcessId(c, nullptr);
      AttachThreadInput(GetCurrentThreadId(), program, TRUE);
      SetFocus(c);
      AttachThreadInput(GetCurrentThreadId(), program, FALSE);
    }
    return "true";
  }
  if (cmd == L"focused") {  // the ID of the control with the keyboard focus, 0 for none
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(Target(), nullptr), &info) || !info.hwndFocus)
      return "0";
    // Typing in a combo box goes to the box's own edit control: the box has the focus.
    HWND focus = info.hwndFocus;
    if (ClassOf(GetParent(focus)) == L"ComboBox") focus = GetParent(focus);
    return std::to_string(GetDlgCtrlID(focus));
  }
  if (cmd == L"type" || cmd == L"key") {
    // type TEXT: characters to the focused control. key NAME: one key
    // (tab, shift+tab, enter, escape, space, up, down, left, right, home,
    // end, delete, or alt+LETTER for an access key), pressed and released.
    Require(a, 1, cmd == L"type" ? "type TEXT" : "key NAME");
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(Target(), nullptr), &info) || !info.hwndFocus)
      Fail("no control has the focus");
    HWND f = info.hwndFocus;
    if (cmd == L"type") {
      for (wchar_t ch : a[1]) PostMessageW(f, WM_CHAR, ch, 1);
      return "true";
    }
    const std::wstring& name = a[1];
    if (name.size() == 5 && name.rfind(L"alt+", 0) == 0) {
      // What the system makes of Alt and a letter: the dialog's access keys.
      const LPARAM altDown = 1 | (1 << 29);
      PostMessageW(f, WM_SYSKEYDOWN, VK_MENU, altDown);
      PostMessageW(f, WM_SYSCHAR, towlower(name[4]), altDown);
      PostMessageW(f, WM_SYSKEYUP, VK_MENU, 1 | (1 << 29) | (3u << 30));
      return "true";
    }
    static const std::pair<const wchar_t*, UINT> keys[] = {
        {L"tab", VK_TAB},     {L"enter", VK_RETURN}, {L"escape", VK_ESCAPE}, {L"space", VK_SPACE},
        {L"up", VK_UP},       {L"down", VK_DOWN},    {L"left", VK_LEFT},     {L"right", VK_RIGHT},
        {L"home", VK_HOME},   {L"end", VK_END},      {L"delete", VK_DELETE}, {L"shift+tab", VK_TAB}};
    for (const auto& [keyName, vk] : keys) {
      if (name != keyName) continue;
      // IsDialogMessage asks the key state for Shift+Tab; the driver's own
      // state is what a posted key carries, so Shift is held while it goes.
      if (name == L"shift+tab") {
        DWORD program = GetWindowThreadProcessId(f, nullptr);
        AttachThreadInput(GetCurrentThreadId(), program, TRUE);
        BYTE state[256] = {};
        GetKeyboardState(state);
        state[VK_SHIFT] = 0x80;
        SetKeyboardState(state);
        AttachThreadInput(GetCurrentThreadId(), program, FALSE);
      }
      PostMessageW(f, WM_KEYDOWN, vk, 1);
      if (vk == VK_SPACE) PostMessageW(f, WM_CHAR, L' ', 1);
      PostMessageW(f, WM_KEYUP, vk, 1 | (3u << 30));
      return "true";
    }
    Fail("unknown key " + Utf8(name));
  }
  if (cmd == L"check") {  // check ID 0|1: ticks or clears a check box as a click would, if needed
    Require(a, 2, "check ID 0|1");
    HWND c = Control(a[1]);
    const bool want = Number(a[2]) != 0;
    if ((Send(c, BM_GETCHECK, 0, 0) == BST_CHECKED) != want) PostMessageW(c, BM_CLICK, 0, 0);
    return "true";
  }
  if (cmd == L"combo-items") {  // the entries of a drop-down chooser, in order
    Require(a, 1, "combo-items ID");
    HWND c = Control(a[1]);
    return Settled([&] {
      const int count = static_cast<int>(Send(c, CB_GETCOUNT, 0, 0));
      std::string out = "[";
      for (int i = 0; i < count; ++i) {
        // CB_GETLBTEXT takes no size: room for twice the length just asked,
        // and the whole list read again should an entry change meanwhile.
        const int length = static_cast<int>(Send(c, CB_GETLBTEXTLEN, i, 0));
        std::wstring item(length < 0 ? 0 : 2 * static_cast<size_t>(length) + 256, L'\0');
        if (length > 0) Send(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(std::wcslen(item.c_str()));
        if (i) out += ',';
        out += Quote(item);
      }
      return out + "]";
    });
  }
  if (cmd == L"combo-select") {  // combo-select ID INDEX (-1: nothing), as a user's choice
    Require(a, 2, "combo-select ID INDEX");
    HWND c = Control(a[1]);
    Send(c, CB_SETCURSEL, static_cast<WPARAM>(Number(a[2])), 0);
    PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(c));
    return "true";
  }
  if (cmd == L"combo-selected") {  // the chosen entry's index, -1 for none
    Require(a, 1, "combo-selected ID");
    return std::to_string(static_cast<int>(Send(Control(a[1]), CB_GETCURSEL, 0, 0)));
  }
  if (cmd == L"list-selected") {  // the selected row of a list view, -1 for none
    Require(a, 1, "list-selected ID");
    return std::to_string(static_cast<int>(Send(Control(a[1]), LVM_GETNEXTITEM,
                                                static_cast<WPARAM>(-1), LVNI_SELECTED)));
  }
  if (cmd == L"list-select") {
    // list-select ID ROW: that row selected and focused, the others not (-1:
    // none). The list tells its parent (LVN_ITEMCHANGED), as a click does.
    Require(a, 2, "list-select ID ROW");
    HWND list = Control(a[1]);
    const int row = Number(a[2]);
    RemoteBuffer remote(programPid_, sizeof(LVITEMW));
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    remote.Write(0, &item, sizeof item);
    Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote.At(0)));
    if (row >= 0) {
      item.state = LVIS_SELECTED | LVIS_FOCUSED;
      remote.Write(0, &item, sizeof item);
      Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
      Send(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    }
    return "true";
  }
  if (cmd == L"list-click") {
    // list-click ID ROW: a left click in the middle of the row, posted as the
    // mouse gives it, so that the list reacts as to a real click (NM_CLICK).
    Require(a, 2, "list-click ID ROW");
    HWND list = Control(a[1]);
    RemoteBuffer remote(programPid_, sizeof(RECT));
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    remote.Write(0, &rect, sizeof rect);
    if (!Send(list, LVM_GETITEMRECT, static_cast<WPARAM>(Number(a[2])),
              reinterpret_cast<LPARAM>(remote.At(0)))) {
      Fail("no such row");
    }
    remote.Read(0, &rect, sizeof rect);
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    return "true";
  }
  if (cmd == L"click") {  // posted: the handler may open a modal window
    Require(a, 1, "click ID");
    PostMessageW(Control(a[1]), BM_CLICK, 0, 0);
    return "true";
  }
  if (cmd == L"menu") {
    Require(a, 1, "menu ID");
    PostMessageW(Target(), WM_COMMAND, MAKEWPARAM(Number(a[1]), 0), 0);
    return "true";
  }
  if (cmd == L"tick") {
    // One tick of tmrCheck now, as its timer would give it; answers once the
    // tick has been handled (or a message box it opened is up).
    Require(a, 1, "tick TIMEOUT_MS");
    if (!PostMessageW(Target(), WM_TIMER, kCheckTimerId, 0)) Fail("cannot post the tick");
    WaitIdle(static_cast<DWORD>(Number(a[1])));
    return "true";
  }
  if (cmd == L"wait-idle") {
    Require(a, 1, "wait-idle TIMEOUT_MS");
    WaitIdle(static_cast<DWORD>(Number(a[1])));
    return "true";
  }
  if (cmd == L"close") {  // what the close box does
    PostMessageW(Target(), WM_SYSCOMMAND, SC_CLOSE, 0);
    return "true";
  }
  if (cmd == L"wait-msgbox") {
    Require(a, 1, "wait-msgbox TIMEOUT_MS");
    // The box is filled while it is created: wait until its text control exists too.
    HWND box = Poll(static_cast<DWORD>(Number(a[1])), [&]() -> HWND {
      for (HWND b : MessageBoxes())
        if (GetDlgItem(b, 0xFFFF)) return b;
      return nullptr;
    });
    if (!box) Fail("no message box");
    return MessageBoxJson(box);
  }
  if (cmd == L"msgbox-press") {  // msgbox-press [BUTTON_ID], default the first button
    if (a.size() > 2) Fail("usage: msgbox-press [BUTTON_ID]");
    std::vector<HWND> boxes = MessageBoxes();
    if (boxes.empty()) Fail("no message box");
    HWND button = nullptr;
    for (HWND child : Descendants(boxes.front())) {
      if (_wcsicmp(ClassOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child)) continue;
      if (a.size() == 1 || GetDlgCtrlID(child) == Number(a[1])) {
        button = child;
        break;
      }
    }
    if (!button) Fail("the message box has no such button");
    PostMessageW(button, BM_CLICK, 0, 0);
    HWND box = boxes.front();
    if (!Poll(5000, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
      Fail("the message box stays open");
    return "true";
  }
  if (cmd == L"tray-icons") {  // the tips of all icons in the notification area
    std::string out = "[";
    for (const TrayIcon& icon : TrayIcons())
      out += std::string(out.size() > 1 ? "," : "") + "{\"tip\":" + Quote(icon.tip) +
             ",\"left\":" + std::to_string(icon.rect.left) + ",\"top\":" + std::to_string(icon.rect.top) +
             ",\"right\":" + std::to_string(icon.rect.right) +
             ",\"bottom\":" + std::to_string(icon.rect.bottom) + "}";
    return out + "]";
  }
  if (cmd == L"wait-tray" || cmd == L"wait-no-tray") {
    Require(a, 2, "wait-tray|wait-no-tray TIP TIMEOUT_MS");
    bool want = cmd == L"wait-tray";
    auto present = [&] {
      for (const TrayIcon& i : TrayIcons())
        if (i.tip == a[1]) return true;
      return false;
    };
    if (!Poll(static_cast<DWORD>(Number(a[2])), [&] { return present() == want; }))
      Fail(want ? "no icon with the tip " + Utf8(a[1]) + " in the notification area"
                : "the icon " + Utf8(a[1]) + " stays in the notification area");
    return "true";
  }
  if (cmd == L"tray-dblclick" || cmd == L"tray-rclick") {
    Require(a, 1, "tray-dblclick|tray-rclick TIP");
    std::vector<TrayIcon> icons = TrayIcons();
    const TrayIcon* icon = nullptr;
    for (const TrayIcon& i : icons)
      if (i.tip == a[1]) icon = &i;
    if (!icon) Fail("no icon with the tip " + Utf8(a[1]) + " in the notification area");
    if (cmd == L"tray-dblclick")
      ClickTrayIcon(*icon, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
    else
      ClickTrayIcon(*icon, {WM_RBUTTONDOWN, WM_RBUTTONUP});
    return "true";
  }
  if (cmd == L"tray-callback") {
    // The program's own callback message, as the notification area sends it.
    Require(a, 1, "tray-callback MOUSE_MESSAGE");
    PostMessageW(Target(), ZKQ_WM_TRAYICON, 0, Number(a[1]));
    return "true";
  }
  if (cmd == L"wait-popup") {
    Require(a, 1, "wait-popup TIMEOUT_MS");
    HWND popup = Poll(static_cast<DWORD>(Number(a[1])), [&] { return VisiblePopup(); });
    if (!popup) Fail("no pop-up menu");
    return "{\"rect\":" + RectJson(popup) + "}";
  }
  if (cmd == L"wait-no-popup") {
    Require(a, 1, "wait-no-popup TIMEOUT_MS");
    if (!Poll(static_cast<DWORD>(Number(a[1])), [&] { return VisiblePopup() == nullptr; }))
      Fail("the pop-up menu stays open");
    return "true";
  }
  if (cmd == L"popup-key") {  // a key pressed while the pop-up menu tracks
    Require(a, 1, "popup-key CHAR|escape");
    HWND popup = VisiblePopup();
    if (!popup) Fail("no pop-up menu");
    if (a[1] == L"escape") {
      PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 1);
    } else {
      PostMessageW(popup, WM_CHAR, a[1].empty() ? 0 : a[1][0], 1);
    }
    return "true";
  }
  if (cmd == L"popup-items") {
    // The items of the showing pop-up menu, read by position in the program's
    // own process (see menu_reader.h).
    HWND popup = VisiblePopup();
    if (!popup) Fail("no pop-up menu");
    return MenuItemsJson(ReadPopupMenu(popup));
  }
  if (cmd == L"repaint") {
    // Paints the window and every child now, so that a screenshot taken next
    // shows it whole; the round trip afterwards lets the program finish drawing.
    HWND w = Target();
    RedrawWindow(w, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    return "true";
  }
  if (cmd == L"minimize") {  // what the minimise box does
    PostMessageW(Target(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return "true";
  }
  if (cmd == L"wait-taskbar") {
    // Touching the desktop makes Wine start it with its taskbar, as a logged-on
    // user's desktop is there before any program starts.
    Require(a, 1, "wait-taskbar TIMEOUT_MS");
    GetDesktopWindow();
    if (!Poll(static_cast<DWORD>(Number(a[1])), [] { return FindWindowW(L"Shell_TrayWnd", nullptr); }))
      Fail("no taskbar");
    return "true";
  }
  if (cmd == L"windows") return WindowsJson();
  if (cmd == L"tree") {  // the descendants of a top-level window, for exploring by hand
    Require(a, 1, "tree CLASS");
    HWND top = FindWindowW(a[1].c_str(), nullptr);
    if (!top) Fail("no window of class " + Utf8(a[1]));
    std::string out = "[";
    for (HWND child : Descendants(top)) {
      out += out.size() > 1 ? "," : "";
      wchar_t title[256] = {};
      GetWindowTextW(child, title, 256);
      out += "{\"class\":" + Quote(ClassOf(child)) + ",\"title\":" + Quote(std::wstring(title)) +
             ",\"id\":" + std::to_string(GetDlgCtrlID(child)) +
             ",\"visible\":" + Bool(IsWindowVisible(child)) + ",\"rect\":" + RectJson(child) + "}";
    }
    return out + "]";
  }
  if (cmd == L"sleep") {  // only for exploring by hand; tests poll instead
    Require(a, 1, "sleep MS");
    Sleep(static_cast<DWORD>(Number(a[1])));
    return "true";
  }
  Fail("unknown command " + Utf8(cmd));
}

// Words separated by blanks; "..." keeps blanks inside one word.
std::vector<std::wstring> Split(const std::wstring& line) {
  std::vector<std::wstring> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring word;
    if (line[i] == L'"') {
      ++i;
      while (i < line.size() && line[i] != L'"') word += line[i++];
      ++i;
    } else {
      while (i < line.size() && line[i] != L' ' && line[i] != L'\t') word += line[i++];
    }
    words.push_back(word);
  }
  return words;
}

void Answer(const std::string& json) {
  std::fwrite(json.data(), 1, json.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Driver driver;
  int failures = 0;
  auto execute = [&](const std::wstring& line) {
    std::vector<std::wstring> words = Split(line);
    if (words.empty()) return true;
    if (words[0] == L"quit") return false;
    try {
      Answer("{\"ok\":true,\"value\":" + driver.Run(words) + "}");
    } catch (const CommandError& e) {
      ++failures;
      Answer("{\"ok\":false,\"error\":" + Quote(e.message) + "}");
    }
    return true;
  };
  if (argc > 1) {
    for (int i = 1; i < argc; ++i)
      if (!execute(argv[i])) break;
    return failures ? 1 : 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!execute(Wide(line))) break;
  }
  return failures ? 1 : 0;
}
