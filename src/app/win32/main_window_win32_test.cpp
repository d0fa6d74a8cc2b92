#include "main_window_win32.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_window_ids.h"
#include "base/failure.h"
#include "main_window_layout.h"

namespace zkq::win32 {
namespace {

class RecordingBoxes : public MessageBoxes {
 public:
  void Show(const std::u16string& text, MessageIcon icon) override {
    texts.push_back(text);
    icons.push_back(icon);
  }
  std::vector<std::u16string> texts;
  std::vector<MessageIcon> icons;
};

// Records what the window reports, as one line per event.
class RecordingEvents : public MainWindowEvents {
 public:
  void CommandChosen(int id) override {
    log.push_back("command " + std::to_string(id));
    if (failOnCommand) throw Failure(u"型が一致しません。");
  }
  void WindowResized(WindowState state) override {
    log.push_back(state == WindowState::Minimized ? "minimized" : "normal");
    if (state == WindowState::Minimized && onMinimized) onMinimized();
  }
  void TrayIconNotified(unsigned mouseMessage) override {
    log.push_back("tray " + std::to_string(mouseMessage));
  }
  void RuleListFocused(int listId) override { log.push_back("focus " + std::to_string(listId)); }
  void CheckTimerTicked() override { log.push_back("tick"); }
  void CloseRequested() override {
    log.push_back("close");
    if (failOnClose) throw Failure(u"オーバーフローしました。");
  }

  bool Saw(const std::string& line) const {
    for (const auto& entry : log) {
      if (entry == line) return true;
    }
    return false;
  }

  std::vector<std::string> log;
  bool failOnCommand = false;
  bool failOnClose = false;
  std::function<void()> onMinimized;
};

void PumpMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool QuitPosted() {
  MSG message{};
  bool quit = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) quit = true;
  }
  return quit;
}

std::u16string ClassOf(HWND window) {
  wchar_t name[64] = {};
  const int length = GetClassNameW(window, name, 64);
  return FromWide(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

// Whether the shell still holds the window's notification icon.
bool TrayIconExists(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = 0;
  data.uFlags = NIF_TIP;
  wcscpy_s(data.szTip, L"zkQuorvane");
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void DeleteTrayIcon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = 0;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

class MainWindowWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_.Create());
    window_.SetEvents(&events_);
    events_.log.clear();
  }
  void TearDown() override {
    window_.SetEvents(nullptr);
    window_.EndProgram();
    PumpMessages();
  }
  HWND Handle() const { return window_.Handle(); }

  RecordingBoxes boxes_;
  RecordingEvents events_;
  MainWindowWin32 window_{GetModuleHandleW(nullptr), boxes_};
};

// Another test process on the same Wine server (ctest -j2) may show its own
// main window: the search must find this one among those it finds.
bool FoundByAutomation(const wchar_t* title, HWND wanted) {
  for (HWND at = nullptr; (at = FindWindowExW(nullptr, at, L"zkQuorvaneMain", title)) != nullptr;) {
    if (at == wanted) return true;
  }
  return false;
}

TEST_F(MainWindowWin32Test, AutomationFindsTheWindowByClassAndTitle) {
  EXPECT_TRUE(FoundByAutomation(L"zkQuorvane", Handle()));
  EXPECT_TRUE(FoundByAutomation(nullptr, Handle()));
}

TEST_F(MainWindowWin32Test, EveryControlHasItsIdClassAndCaption) {
  struct Case {
    int id;
    const char16_t* className;
    const char16_t* caption;
  };
  const Case cases[] = {
      {IDC_FRAMEMONITOR, u"Button", u"監視ルール"},
      {IDC_FRAMESYSTEM, u"Button", u"システムログ"},
      {IDC_FRAMESECURITY, u"Button", u"セキュリティログ"},
      {IDC_FRAMEAPPLICATION, u"Button", u"アプリケーションログ"},
      {IDC_FRAMECHANNELS, u"Button", u"チャンネル"},
      {IDC_FRAMESERVICES, u"Button", u"サービス"},
      {IDC_FRAMESETTING, u"Button", u"設定"},
      {IDC_FRAMEMAIL, u"Button", u"メール送信先"},
      {IDC_FRAMECOMPUTER, u"Button", u"コンピュータ情報"},
      {IDC_CHKSETTING0, u"Button", u"起動時に自動スタート"},
      {IDC_CHKSETTING1, u"Button", u"起動時にアイコン化"},
      {IDC_CHKSETTING2, u"Button", u"サービスとして起動"},
      {IDC_LBLINTERVAL, u"Static", u"監視間隔："},
      {IDC_LBLINTERVALUNIT, u"Static", u"分毎"},
      {IDC_LBLSTARTDATETIME, u"Static", u"監視対象日時："},
      {IDC_LBLSTARTDATETIMEUNIT, u"Static", u"から"},
      {IDC_LBLMAILTO, u"Static", u"宛先："},
      {IDC_LBLMAILFROM, u"Static", u"送信者："},
      {IDC_LBLMAILSUBJECT, u"Static", u"件名："},
      {IDC_LBLTITLECOMPUTER, u"Static", u"コンピュータ名："},
      {IDC_LBLTITLEUSER, u"Static", u"ユーザ名："},
      {IDC_LBLCOMPUTERNAME, u"Static", u""},
      {IDC_LBLUSERNAME, u"Static", u""},
      {IDC_TXTINTERVAL, u"Edit", u""},
      {IDC_TXTSTARTDATETIME, u"Edit", u""},
      {IDC_TXTSMTPTO, u"Edit", u""},
      {IDC_TXTSMTPFROM, u"Edit", u""},
      {IDC_TXTSMTPSUBJECT, u"Edit", u""},
      {IDC_TXTSMTPSERVER, u"Edit", u""},
      {IDC_TXTSMTPPORT, u"Edit", u""},
      {IDC_CMDSTART, u"Button", u"ｽﾀｰﾄ(&S)"},
      {IDC_CMDSTOP, u"Button", u"ｽﾄｯﾌﾟ(&E)"},
      {IDC_CMDEXIT, u"Button", u"終了(&X)"},
      {IDC_CMDBUTTON0, u"Button", u""},
      {IDC_CMDBUTTON1, u"Button", u""},
      {IDC_LSTSYSTEM, u"SysListView32", u""},
      {IDC_LSTSECURITY, u"SysListView32", u""},
      {IDC_LSTAPPLICATION, u"SysListView32", u""},
      {IDC_LSTCHANNELS, u"SysListView32", u""},
      {IDC_LSTSERVICES, u"SysListView32", u""},
      {IDC_LSTLOG1, u"SysListView32", u""},
      {IDC_LSTLOG2, u"SysListView32", u""},
      {IDC_STATUSBAR1, u"msctls_statusbar32", u""},
  };
  for (const Case& c : cases) {
    HWND control = window_.Control(c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(CompareStringOrdinal(Wide(ClassOf(control)), -1, Wide(c.className), -1, TRUE),
              CSTR_EQUAL)
        << c.id;
    EXPECT_EQ(WindowText(control), c.caption) << c.id;
  }
  // The working lists are never shown; the four rule lists are, and the
  // channel rules' list once there are any.
  EXPECT_FALSE(GetWindowLongPtrW(window_.Control(IDC_LSTLOG1), GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(GetWindowLongPtrW(window_.Control(IDC_LSTLOG2), GWL_STYLE) & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongPtrW(window_.Control(IDC_LSTSYSTEM), GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(GetWindowLongPtrW(window_.Control(IDC_LSTCHANNELS), GWL_STYLE) & WS_VISIBLE);
}

int TextWidth(HWND control, const std::u16string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, Wide(text), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

TEST_F(MainWindowWin32Test, CaptionsFitTheirControlsInTheWindowFont) {
  struct Case {
    int id;
    int margin;  // what the control itself takes beside its text
  };
  const int checkBox = GetSystemMetrics(SM_CXMENUCHECK) + 6;
  const Case cases[] = {
      {IDC_FRAMEMONITOR, 20},
      {IDC_FRAMESYSTEM, 20},
      {IDC_FRAMEAPPLICATION, 20},
      {IDC_FRAMECOMPUTER, 20},
      {IDC_FRAMEMAIL, 20},
      {IDC_CHKSETTING0, checkBox},
      {IDC_CHKSETTING1, checkBox},
      {IDC_CHKSETTING2, checkBox},
      {IDC_LBLINTERVAL, 0},
      {IDC_LBLINTERVALUNIT, 0},
      {IDC_LBLSTARTDATETIME, 0},
      {IDC_LBLSTARTDATETIMEUNIT, 0},
      {IDC_LBLMAILTO, 0},
      {IDC_LBLMAILFROM, 0},
      {IDC_LBLMAILSUBJECT, 0},
      {IDC_LBLTITLECOMPUTER, 0},
      {IDC_LBLTITLEUSER, 0},
      {IDC_CMDSTART, 8},
      {IDC_CMDSTOP, 8},
      {IDC_CMDEXIT, 8},
  };
  for (const Case& c : cases) {
    HWND control = window_.Control(c.id);
    std::u16string text = WindowText(control);
    // The access key's marker is not drawn.
    if (const auto amp = text.find(u'&'); amp != std::u16string::npos) text.erase(amp, 1);
    RECT client{};
    GetClientRect(control, &client);
    EXPECT_LE(TextWidth(control, text) + c.margin, client.right) << c.id;
    // A line of text must fit its height as well.
    SIZE size{};
    HDC dc = GetDC(control);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32W(dc, L"監", 1, &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    EXPECT_LE(size.cy, client.bottom) << c.id;
  }
}

// The tooltip control of the window: a pop-up of this thread owned by it.
HWND FindTooltip(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (lstrcmpiW(name, TOOLTIPS_CLASSW) == 0 && GetWindow(window, GW_OWNER) == s->owner) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST_F(MainWindowWin32Test, ButtonsExplainThemselvesInTooltips) {
  struct Case {
    int id;
    const char16_t* tip;
  };
  const Case cases[] = {
      {IDC_CMDSTART, u"スタートします"}, {IDC_CMDSTOP, u"停止します"},
      {IDC_CMDEXIT, u"終了します"},      {IDC_CMDBUTTON0, u"PC情報をメールで送信します"},
      {IDC_CMDBUTTON1, u"設定変更"},
  };
  HWND tooltip = FindTooltip(Handle());
  ASSERT_NE(tooltip, nullptr);
  EXPECT_EQ(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0), static_cast<LRESULT>(std::size(cases)));
  for (const Case& c : cases) {
    wchar_t text[80] = {};
    TTTOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = Handle();
    info.uId = reinterpret_cast<UINT_PTR>(window_.Control(c.id));
    info.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(FromWide(text, wcslen(text)), c.tip) << c.id;
  }
  // The picture buttons show pictures instead of text.
  EXPECT_NE(SendMessageW(window_.Control(IDC_CMDBUTTON0), BM_GETIMAGE, IMAGE_ICON, 0), 0);
  EXPECT_NE(SendMessageW(window_.Control(IDC_CMDBUTTON1), BM_GETIMAGE, IMAGE_ICON, 0), 0);
}

TEST_F(MainWindowWin32Test, MenusCarryTheirItems) {
  struct Case {
    int position;
    const char16_t* title;
    std::vector<std::pair<int, std::u16string>> items;  // id 0: separator
  };
  const Case cases[] = {
      {0,
       u"ファイル(&F)",
       {{IDM_FILE0, u"スタート(&S)"}, {IDM_FILE1, u"ストップ(&E)"}, {IDM_FILE2, u"終了(&X)"}}},
      {1,
       u"オプション(&O)",
       {{IDM_SETTING0, u"監視ルールの設定(&M)"}, {IDM_SETTING1, u"アプリケーションの設定(&C)"}}},
      {2,
       u"ヘルプ(&H)",
       {{IDM_HELP0, u"目次(&C)"},
        {IDM_HELP1, u"キーワードで検索(&S)..."},
        {0, u""},
        {IDM_HELP3, u"バージョン情報(&A)..."}}},
  };
  HMENU bar = GetMenu(Handle());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetMenuItemCount(bar), 3);
  for (const Case& c : cases) {
    wchar_t text[128] = {};
    const int length = GetMenuStringW(bar, static_cast<UINT>(c.position), text, 128, MF_BYPOSITION);
    EXPECT_EQ(FromWide(text, static_cast<std::size_t>(length)), c.title);
    HMENU popup = GetSubMenu(bar, c.position);
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(c.items.size()));
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      const auto& [id, caption] = c.items[i];
      if (id == 0) {
        EXPECT_TRUE(GetMenuState(popup, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR);
        continue;
      }
      EXPECT_EQ(static_cast<int>(GetMenuItemID(popup, static_cast<int>(i))), id);
      const int n = GetMenuStringW(popup, static_cast<UINT>(id), text, 128, MF_BYCOMMAND);
      EXPECT_EQ(FromWide(text, static_cast<std::size_t>(n)), caption);
    }
  }
}

TEST_F(MainWindowWin32Test, MenuItemsAreEnabledAndGreyedByCommand) {
  HMENU bar = GetMenu(Handle());
  window_.EnableMenuItem(IDM_FILE0, false);
  window_.EnableMenuItem(IDM_SETTING0, false);
  EXPECT_TRUE(GetMenuState(bar, IDM_FILE0, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_TRUE(GetMenuState(bar, IDM_SETTING0, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_FALSE(GetMenuState(bar, IDM_FILE1, MF_BYCOMMAND) & MF_GRAYED);
  window_.EnableMenuItem(IDM_FILE0, true);
  EXPECT_FALSE(GetMenuState(bar, IDM_FILE0, MF_BYCOMMAND) & MF_GRAYED);
  // The notification icon's pop-up is the File menu itself, so it shows the same states.
  EXPECT_TRUE(GetMenuState(GetSubMenu(bar, 1), IDM_SETTING0, MF_BYCOMMAND) & MF_GRAYED);
}

std::u16string ColumnHeader(HWND list, int index) {
  wchar_t text[128] = {};
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT;
  column.pszText = text;
  column.cchTextMax = 128;
  if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(&column))) {
    return u"<none>";
  }
  return FromWide(text, wcslen(text));
}

int ColumnCount(HWND list) { return Header_GetItemCount(ListView_GetHeader(list)); }

TEST_F(MainWindowWin32Test, ListColumnsAreAsWideAsTheirSamples) {
  const std::vector<ListColumn> columns = {{u"指定", u"指定    "},
                                           {u"種類", u"種類      "},
                                           {u"ソース", u"ソース            "},
                                           {u"コンピュータ", u"コンピュータ"}};
  for (int id : {IDC_LSTSYSTEM, IDC_LSTSERVICES, IDC_LSTLOG1}) {
    window_.SetupListColumns(id, columns);
    HWND list = window_.Control(id);
    ASSERT_EQ(ColumnCount(list), 4) << id;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(ColumnHeader(list, i), columns[static_cast<std::size_t>(i)].header) << id;
      LVCOLUMNW column{};
      column.mask = LVCF_FMT;
      SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
      EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
      // Measured independently with GDI in the list's font.
      const int sample = TextWidth(list, columns[static_cast<std::size_t>(i)].widthSample);
      EXPECT_NEAR(ListView_GetColumnWidth(list, i), sample, 2) << id << " column " << i;
    }
    // The blanks of the sample widen the column beyond its header.
    EXPECT_GT(ListView_GetColumnWidth(list, 2), TextWidth(list, u"ソース") + 20);
  }
}

TEST_F(MainWindowWin32Test, SettingUpColumnsAgainReplacesThem) {
  window_.SetupListColumns(IDC_LSTSERVICES, {{u"a", u"a  "}, {u"b", u"b"}, {u"c", u"c"}});
  window_.SetupListColumns(IDC_LSTSERVICES,
                           {{u"サービス名", u"サービス名    "}, {u"状態", u"状態  "}});
  HWND list = window_.Control(IDC_LSTSERVICES);
  ASSERT_EQ(ColumnCount(list), 2);
  EXPECT_EQ(ColumnHeader(list, 0), u"サービス名");
  EXPECT_EQ(ColumnHeader(list, 1), u"状態");
}

std::u16string Cell(HWND list, int row, int column) {
  wchar_t text[256] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 256;
  const auto length = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                   reinterpret_cast<LPARAM>(&item));
  return FromWide(text, static_cast<std::size_t>(length));
}

TEST_F(MainWindowWin32Test, ListRowsReplaceTheOldOnes) {
  window_.SetupListColumns(IDC_LSTSYSTEM,
                           {{u"指定", u"指定"}, {u"種類", u"種類"}, {u"ソース", u"ソース"}});
  HWND list = window_.Control(IDC_LSTSYSTEM);
  window_.SetListRows(IDC_LSTSYSTEM,
                      {{u"1", u"エラー", u"*"}, {u"0", u"警告", u"Disk"}, {u"1", u"情報", u"x"}});
  ASSERT_EQ(ListView_GetItemCount(list), 3);
  EXPECT_EQ(Cell(list, 1, 0), u"0");
  EXPECT_EQ(Cell(list, 1, 1), u"警告");
  EXPECT_EQ(Cell(list, 1, 2), u"Disk");
  EXPECT_EQ(Cell(list, 2, 1), u"情報");

  // A shorter row leaves its missing cells empty; an empty list has no rows.
  window_.SetListRows(IDC_LSTSYSTEM, {{u"1"}});
  ASSERT_EQ(ListView_GetItemCount(list), 1);
  EXPECT_EQ(Cell(list, 0, 0), u"1");
  EXPECT_EQ(Cell(list, 0, 1), u"");
  window_.SetListRows(IDC_LSTSYSTEM, {});
  EXPECT_EQ(ListView_GetItemCount(list), 0);
}

// Where a control sits in the window's client area.
RECT PlaceOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool Visible(HWND control) { return (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

// The pixels of a row between two x positions that the list, painted as it
// paints itself, does not leave in its background colour.
int InkInRow(HWND list, int row, int left, int right) {
  RECT client{};
  GetClientRect(list, &client);
  const WindowDc screen(list);
  const UniqueMemoryDc memory(CreateCompatibleDC(screen.Get()));
  const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.Get(), client.right, client.bottom));
  const SelectedObject selected(memory.Get(), bitmap.Get());
  FillRect(memory.Get(), &client, GetSysColorBrush(COLOR_WINDOW));
  SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()),
               PRF_CLIENT | PRF_ERASEBKGND);
  RECT rect{};
  ListView_GetItemRect(list, row, &rect, LVIR_BOUNDS);
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  int ink = 0;
  // Inside the row and the cells, clear of the grid lines.
  for (int y = rect.top + 2; y < rect.bottom - 2; ++y) {
    for (int x = left; x < right; ++x) ink += GetPixel(memory.Get(), x, y) != background ? 1 : 0;
  }
  return ink;
}

TEST_F(MainWindowWin32Test, ChannelRulesShowUnderTheirHeadingsOnlyWhileThereAreAny) {
  HWND frame = window_.Control(IDC_FRAMECHANNELS);
  HWND list = window_.Control(IDC_LSTCHANNELS);
  EXPECT_FALSE(Visible(frame));
  EXPECT_FALSE(Visible(list));
  const RECT services = PlaceOf(window_.Control(IDC_FRAMESERVICES));
  const RECT system = PlaceOf(window_.Control(IDC_LSTSYSTEM));

  window_.SetupListColumns(
      IDC_LSTCHANNELS,
      {{u"指定", u"指定    "}, {u"種類", u"種類      "}, {u"ソース", u"ソース            "}});
  const std::u16string defender = u"Microsoft-Windows-Windows Defender/Operational";
  window_.SetListSections(
      IDC_LSTCHANNELS,
      {{defender, {{u"対象", u"警告", u""}}},
       {u"ForwardedEvents", {{u"除外", u"エラー", u"Disk"}, {u"対象", u"情報", u"*"}}}});
  ASSERT_EQ(ListView_GetItemCount(list), 5);
  EXPECT_EQ(Cell(list, 0, 0), defender);
  EXPECT_EQ(Cell(list, 0, 1), u"");
  EXPECT_EQ(Cell(list, 1, 1), u"警告");
  EXPECT_EQ(Cell(list, 2, 0), u"ForwardedEvents");
  EXPECT_EQ(Cell(list, 3, 2), u"Disk");
  EXPECT_EQ(Cell(list, 4, 0), u"対象");

  window_.ShowChannelRules(true);
  EXPECT_TRUE(Visible(frame));
  EXPECT_TRUE(Visible(list));
  const RECT application = PlaceOf(window_.Control(IDC_FRAMEAPPLICATION));
  const RECT channels = PlaceOf(frame);
  const RECT servicesNow = PlaceOf(window_.Control(IDC_FRAMESERVICES));
  EXPECT_GT(channels.top, application.bottom);
  EXPECT_GT(servicesNow.top, channels.bottom);
  EXPECT_LT(servicesNow.bottom, PlaceOf(window_.Control(IDC_FRAMEMONITOR)).bottom);
  EXPECT_EQ(servicesNow.left, services.left);
  const RECT systemNow = PlaceOf(window_.Control(IDC_LSTSYSTEM));
  EXPECT_LT(systemNow.bottom - systemNow.top, system.bottom - system.top);
  EXPECT_GE(PlaceOf(list).left, channels.left);
  EXPECT_LE(PlaceOf(list).bottom, channels.bottom);

  // A heading runs on past the first column; an empty cell of a rule stays
  // empty (the first three rows are in view).
  const int first = ListView_GetColumnWidth(list, 0);
  const int second = ListView_GetColumnWidth(list, 1);
  const int third = ListView_GetColumnWidth(list, 2);
  const auto secondColumn = [&](int row) {
    return InkInRow(list, row, first + 3, first + second - 3);
  };
  const auto thirdColumn = [&](int row) {
    return InkInRow(list, row, first + second + 3, first + second + third - 3);
  };
  EXPECT_GT(secondColumn(0), 0);
  EXPECT_GT(thirdColumn(0), 0);
  EXPECT_GT(secondColumn(1), 0);
  EXPECT_EQ(thirdColumn(1), 0);
  EXPECT_GT(secondColumn(2), 0);

  // Without channel rules the window is as it was.
  window_.SetListSections(IDC_LSTCHANNELS, {});
  window_.ShowChannelRules(false);
  EXPECT_EQ(ListView_GetItemCount(list), 0);
  EXPECT_FALSE(Visible(frame));
  EXPECT_FALSE(Visible(list));
  const RECT servicesAfter = PlaceOf(window_.Control(IDC_FRAMESERVICES));
  EXPECT_EQ(std::make_pair(servicesAfter.top, servicesAfter.bottom),
            std::make_pair(services.top, services.bottom));
}

std::u16string StatusText(HWND statusBar) {
  const auto length = LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(length + 1u, L'\0');
  SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  return FromWide(text.data(), length);
}

TEST_F(MainWindowWin32Test, StatusLineShowsTheLatestMessageInItsFirstPanel) {
  HWND status = window_.Control(IDC_STATUSBAR1);
  window_.SetStatus(u"稼動開始。[2026/12/08 04:14:53]");
  EXPECT_EQ(StatusText(status), u"稼動開始。[2026/12/08 04:14:53]");
  window_.SetStatus(u"稼動停止。[2026/12/08 04:20:00]");
  EXPECT_EQ(StatusText(status), u"稼動停止。[2026/12/08 04:20:00]");
}

TEST_F(MainWindowWin32Test, FieldsChecksAndEnabledStates) {
  window_.SetControlText(IDC_TXTSMTPSUBJECT, u"監視結果 - ｶﾀｶﾅ");
  EXPECT_EQ(window_.ControlText(IDC_TXTSMTPSUBJECT), u"監視結果 - ｶﾀｶﾅ");
  window_.SetControlText(IDC_LBLCOMPUTERNAME, u"ABCDEFGHIJKLMNO");
  EXPECT_EQ(window_.ControlText(IDC_LBLCOMPUTERNAME), u"ABCDEFGHIJKLMNO");
  EXPECT_EQ(window_.ControlText(12345), u"");

  window_.SetChecked(IDC_CHKSETTING1, true);
  EXPECT_EQ(SendMessageW(window_.Control(IDC_CHKSETTING1), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(window_.Control(IDC_CHKSETTING0), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  window_.SetChecked(IDC_CHKSETTING1, false);
  EXPECT_EQ(SendMessageW(window_.Control(IDC_CHKSETTING1), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  window_.EnableControl(IDC_CMDSTOP, false);
  EXPECT_FALSE(window_.IsControlEnabled(IDC_CMDSTOP));
  EXPECT_TRUE(window_.IsControlEnabled(IDC_CMDSTART));
  EXPECT_FALSE(window_.IsControlEnabled(12345));
}

TEST_F(MainWindowWin32Test, ForwardsWhatTheUserDoes) {
  struct Case {
    UINT message;
    WPARAM wParam;
    int controlId;  // lParam: that control's window, 0 for none
    LPARAM lParam;
    const char* expected;  // nullptr: nothing reported
  };
  const Case cases[] = {
      {WM_COMMAND, MAKEWPARAM(IDC_CMDSTART, BN_CLICKED), IDC_CMDSTART, 0, "command 1001"},
      {WM_COMMAND, MAKEWPARAM(IDC_CMDBUTTON1, BN_CLICKED), IDC_CMDBUTTON1, 0, "command 1005"},
      {WM_COMMAND, MAKEWPARAM(IDM_HELP3, 0), 0, 0, "command 2023"},
      {WM_COMMAND, MAKEWPARAM(IDM_FILE2, 1), 0, 0, "command 2002"},
      {WM_COMMAND, MAKEWPARAM(IDC_TXTSMTPTO, EN_CHANGE), IDC_TXTSMTPTO, 0, nullptr},
      {ZKQ_WM_TRAYICON, 0, 0, WM_LBUTTONDBLCLK, "tray 515"},
      {ZKQ_WM_TRAYICON, 0, 0, WM_RBUTTONDOWN, "tray 516"},
      {WM_TIMER, kCheckTimerId, 0, 0, "tick"},
      {WM_TIMER, 77, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    events_.log.clear();
    const LPARAM lParam =
        c.controlId != 0 ? reinterpret_cast<LPARAM>(window_.Control(c.controlId)) : c.lParam;
    SendMessageW(Handle(), c.message, c.wParam, lParam);
    if (c.expected == nullptr) {
      EXPECT_TRUE(events_.log.empty()) << c.message;
    } else {
      ASSERT_EQ(events_.log.size(), 1u) << c.expected;
      EXPECT_EQ(events_.log[0], c.expected);
    }
  }
}

// While a modal window has disabled the main window, the tray icon brings
// that window forward and acts on nothing behind it.
TEST_F(MainWindowWin32Test, TheTrayBringsAnOpenModalWindowForward) {
  window_.ShowFirstTime();
  PumpMessages();
  const HWND modal = CreateWindowExW(0, L"STATIC", L"modal", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                     Handle(), nullptr, nullptr, nullptr);
  ASSERT_NE(modal, nullptr);
  SetActiveWindow(modal);
  EnableWindow(Handle(), FALSE);
  // Another program's window is in front.
  const HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 200, 200, 100,
                                     100, nullptr, nullptr, nullptr, nullptr);
  for (const UINT mouse : {WM_RBUTTONUP, WM_LBUTTONDBLCLK}) {
    SetForegroundWindow(other);
    events_.log.clear();
    SendMessageW(Handle(), ZKQ_WM_TRAYICON, 0, mouse);
    EXPECT_TRUE(events_.log.empty()) << mouse;
    EXPECT_EQ(GetForegroundWindow(), modal) << mouse;
  }
  EnableWindow(Handle(), TRUE);
  DestroyWindow(modal);
  DestroyWindow(other);
  SendMessageW(Handle(), ZKQ_WM_TRAYICON, 0, WM_RBUTTONUP);
  EXPECT_EQ(events_.log, std::vector<std::string>{"tray 517"});
}

TEST_F(MainWindowWin32Test, ClickingButtonsAndFocusingRuleListsIsReported) {
  window_.ShowFirstTime();
  PumpMessages();
  events_.log.clear();
  SendMessageW(window_.Control(IDC_CMDEXIT), BM_CLICK, 0, 0);
  EXPECT_TRUE(events_.Saw("command 1003"));

  SetFocus(window_.Control(IDC_LSTSECURITY));
  PumpMessages();
  EXPECT_TRUE(events_.Saw("focus 1021"));

  // Focus moves only to an enabled button.
  window_.EnableControl(IDC_CMDSTART, false);
  window_.SetFocusTo(IDC_CMDSTART);
  EXPECT_EQ(GetFocus(), window_.Control(IDC_LSTSECURITY));
  window_.SetFocusTo(IDC_CMDSTOP);
  EXPECT_EQ(GetFocus(), window_.Control(IDC_CMDSTOP));
}

TEST_F(MainWindowWin32Test, FocusReturnsToTheControlThatHadIt) {
  window_.ShowFirstTime();
  PumpMessages();
  SetFocus(window_.Control(IDC_CMDEXIT));
  SendMessageW(Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
  SetFocus(Handle());
  EXPECT_EQ(GetFocus(), window_.Control(IDC_CMDEXIT));

  // A control disabled meanwhile cannot take it back.
  SendMessageW(Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
  window_.EnableControl(IDC_CMDEXIT, false);
  SetFocus(Handle());
  EXPECT_EQ(GetFocus(), Handle());
}

TEST_F(MainWindowWin32Test, AFailingHandlerShowsTheApplicationErrorAndTheWindowGoesOn) {
  events_.failOnCommand = true;
  SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(IDM_FILE0, 0), 0);
  ASSERT_EQ(boxes_.texts.size(), 1u);
  EXPECT_EQ(boxes_.texts[0], u"アプリケーションエラー！\r\n型が一致しません。");
  EXPECT_EQ(boxes_.icons[0], MessageIcon::Exclamation);
  EXPECT_TRUE(IsWindow(Handle()));
  EXPECT_FALSE(window_.Ended());
}

TEST_F(MainWindowWin32Test, TheCloseBoxEndsTheProgram) {
  for (bool failing : {false, true}) {
    MainWindowWin32 window(GetModuleHandleW(nullptr), boxes_);
    ASSERT_TRUE(window.Create());
    RecordingEvents events;
    events.failOnClose = failing;
    window.SetEvents(&events);
    HWND handle = window.Handle();
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_TRUE(events.Saw("close")) << failing;
    EXPECT_TRUE(window.Ended()) << failing;
    EXPECT_FALSE(IsWindow(handle)) << failing;
    EXPECT_TRUE(QuitPosted()) << failing;
  }
  // The failing unload was reported, and still the program ended.
  ASSERT_EQ(boxes_.texts.size(), 1u);
  EXPECT_EQ(boxes_.texts[0], u"アプリケーションエラー！\r\nオーバーフローしました。");
}

TEST_F(MainWindowWin32Test, OneCheckTimerHoweverOftenItIsStarted) {
  window_.EnableCheckTimer(true);
  window_.EnableCheckTimer(true);
  EXPECT_TRUE(KillTimer(Handle(), kCheckTimerId));
  EXPECT_FALSE(KillTimer(Handle(), kCheckTimerId));
  window_.EnableCheckTimer(true);
  window_.EnableCheckTimer(false);
  EXPECT_FALSE(KillTimer(Handle(), kCheckTimerId));
}

TEST_F(MainWindowWin32Test, WindowOpensInTheStateAskedBeforeItWasShown) {
  events_.onMinimized = [this] { window_.AddTrayIcon(); };
  window_.SetWindowState(WindowState::Minimized);
  EXPECT_FALSE(IsWindowVisible(Handle()));
  EXPECT_FALSE(window_.Iconised());
  window_.ShowFirstTime();
  PumpMessages();
  EXPECT_TRUE(events_.Saw("minimized"));
  EXPECT_TRUE(window_.Iconised());
  EXPECT_FALSE(IsWindowVisible(Handle()));
  EXPECT_TRUE(TrayIconExists(Handle()));

  // Asking for the minimised state again keeps it in the notification area.
  window_.SetWindowState(WindowState::Minimized);
  EXPECT_FALSE(IsWindowVisible(Handle()));

  window_.SetWindowState(WindowState::Normal);
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(IsIconic(Handle()));
  EXPECT_FALSE(TrayIconExists(Handle()));
}

TEST_F(MainWindowWin32Test, IconisedBeforeItWasShownItOpensInTheNotificationArea) {
  window_.SetWindowState(WindowState::Minimized);
  window_.AddTrayIcon();
  window_.ShowFirstTime();
  PumpMessages();
  EXPECT_FALSE(IsWindowVisible(Handle()));
  EXPECT_TRUE(TrayIconExists(Handle()));
  window_.RemoveTrayIconAndRestore();
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(IsIconic(Handle()));
  EXPECT_FALSE(TrayIconExists(Handle()));
}

TEST_F(MainWindowWin32Test, NotificationIconComesAndGoesWithTheWindow) {
  window_.ShowFirstTime();
  PumpMessages();
  ASSERT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(TrayIconExists(Handle()));

  window_.AddTrayIcon();
  window_.AddTrayIcon();
  EXPECT_FALSE(IsWindowVisible(Handle()));
  EXPECT_TRUE(TrayIconExists(Handle()));

  // A restarted taskbar has lost the icon; the window adds it again.
  DeleteTrayIcon(Handle());
  ASSERT_FALSE(TrayIconExists(Handle()));
  SendMessageW(Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(TrayIconExists(Handle()));

  window_.RemoveTrayIconAndRestore();
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(window_.Iconised());
  EXPECT_FALSE(TrayIconExists(Handle()));

  // Without the icon a new taskbar gets none.
  SendMessageW(Handle(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_FALSE(TrayIconExists(Handle()));
}

TEST_F(MainWindowWin32Test, EndingWhileIconisedTakesTheIconAway) {
  window_.ShowFirstTime();
  window_.AddTrayIcon();
  HWND handle = Handle();
  ASSERT_TRUE(TrayIconExists(handle));
  window_.EndProgram();
  EXPECT_TRUE(window_.Ended());
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(TrayIconExists(handle));
  EXPECT_TRUE(QuitPosted());
  // Requests that come after the end find no window and are ignored.
  window_.EnableCheckTimer(true);
  window_.SetStatus(u"x");
  window_.AddTrayIcon();
  EXPECT_FALSE(TrayIconExists(handle));
}

}  // namespace
}  // namespace zkq::win32

namespace zkq::win32 {
namespace {

int ClientWidthOf(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  return rect.right - rect.left;
}

TEST_F(MainWindowWin32Test, MovingToAScreenOfAnotherDpiScalesTheWholeWindow) {
  window_.SetupListColumns(IDC_LSTSERVICES, {{u"サービス名", u"サービス名          "}});
  HWND list = window_.Control(IDC_LSTSERVICES);
  const unsigned before = window_.Dpi();
  const int columnBefore = ListView_GetColumnWidth(list, 0);
  const int fontBefore = TextWidth(window_.Control(IDC_LBLTITLECOMPUTER), u"コンピュータ名：");

  const unsigned after = before * 2;
  RECT suggested{0, 0, 1700, 1250};
  SendMessageW(Handle(), WM_DPICHANGED, MAKEWPARAM(after, after),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(window_.Dpi(), after);
  for (const Placement& place : MainWindowLayout()) {
    EXPECT_EQ(ClientWidthOf(window_.Control(place.id)), ScaleToDpi(place.width, after)) << place.id;
  }
  // The font and the columns measured in it grow with the DPI.
  EXPECT_GT(TextWidth(window_.Control(IDC_LBLTITLECOMPUTER), u"コンピュータ名："),
            fontBefore * 3 / 2);
  EXPECT_GT(ListView_GetColumnWidth(list, 0), columnBefore * 3 / 2);
}

}  // namespace
}  // namespace zkq::win32
