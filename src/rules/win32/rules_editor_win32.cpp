#include "rules/win32/rules_editor_win32.h"

#include <commctrl.h>

#include "base/win32/wide.h"
#include "rules/win32/rules_editor_ids.h"

namespace zkq::win32 {
namespace {

int Id(int panel, int offset) { return IDC_RULES_PANEL0 + IDC_RULES_PANEL_STEP * panel + offset; }
int FieldOffset(RuleField field) { return IDC_RULES_OFS_FIELD + static_cast<int>(field); }

struct Chooser {
  const char16_t* const* entries;
  int count;
};
Chooser EntriesOf(RuleField field) {
  switch (field) {
    case RuleField::Target: return {kTargetEntries.data(), static_cast<int>(kTargetEntries.size())};
    case RuleField::Type: return {kTypeEntries.data(), static_cast<int>(kTypeEntries.size())};
    case RuleField::State: return {kStatusEntries.data(), static_cast<int>(kStatusEntries.size())};
    default: return {nullptr, 0};
  }
}

struct Tip {
  RuleField field;
  const char16_t* text;
};
constexpr Tip kFieldTips[] = {
    {RuleField::Target, u"監視対象とするか除外するを指定"},
    {RuleField::Type, u"イベントの種類を指定"},
    {RuleField::Source, u"イベントのソースを指定"},
    {RuleField::Category, u"イベントの分類を指定"},
    {RuleField::EventId, u"イベントIDを指定"},
    {RuleField::ServiceName, u"サービス名を指定（表示名ではありませんのでご注意願います）"},
    {RuleField::State, u"ステータスを指定"},
    {RuleField::Channel, u"チャンネル名を指定（一覧にないチャンネル名も入力できます）"},
};

}  // namespace

void RulesEditorWin32::Run(HINSTANCE instance, HWND owner, RulesEditor& presenter) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  instance_ = instance;
  presenter_ = &presenter;
  closed_ = false;
  RunModal(instance, owner, IDD_RULES);
  presenter_ = nullptr;
}

HWND RulesEditorWin32::Control(int panel, int offset) const {
  return GetDlgItem(window_, Id(panel, offset));
}

void RulesEditorWin32::SetUp() {
  tooltips_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                              instance_, nullptr);
  auto tip = [&](HWND control, const char16_t* text) {
    if (tooltips_ == nullptr || control == nullptr) return;
    TOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = window_;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<wchar_t*>(Wide(text));
    SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  };
  up_ = UniqueIcon(LoadIconSized(instance_, IDI_RULES_ARROW_UP, MulDiv(16, static_cast<int>(Dpi()), 96)));
  down_ = UniqueIcon(LoadIconSized(instance_, IDI_RULES_ARROW_DOWN, MulDiv(16, static_cast<int>(Dpi()), 96)));

  const WindowDc windowDc(window_);
  const HDC dc = windowDc.Get();
  const SelectedObject font(dc, Font());
  for (int k = 0; k < kRulePanels; ++k) {
    HWND list = Control(k, IDC_RULES_OFS_LIST);
    // A channel name cut short unfolds in a tip.
    ListView_SetExtendedListViewStyle(
        list, LVS_EX_FULLROWSELECT | (k == kChannelPanel ? LVS_EX_LABELTIP : 0));
    const std::span<const RuleColumn> columns = ColumnsOf(k);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      // The header followed by the column's blanks, in the dialog's font.
      std::wstring header = ToWide(columns[c].header) + std::wstring(columns[c].blanks, L' ');
      SIZE extent{};
      GetTextExtentPoint32W(dc, header.c_str(), static_cast<int>(header.size()), &extent);
      std::wstring text = ToWide(columns[c].header);
      LVCOLUMNW column{};
      column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
      column.fmt = LVCFMT_LEFT;
      column.cx = extent.cx;
      column.pszText = text.data();
      SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
    for (const RuleField field : FieldsOf(k)) {
      HWND control = Control(k, FieldOffset(field));
      for (const Tip& t : kFieldTips) {
        if (t.field != field) continue;
        tip(control, t.text);
        // The channel box takes typed text in an edit control of its own,
        // which is where the mouse rests.
        if (HWND typed = FindWindowExW(control, nullptr, L"Edit", nullptr)) tip(typed, t.text);
      }
      const Chooser chooser = EntriesOf(field);
      for (int i = 0; i < chooser.count; ++i) {
        SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(chooser.entries[i])));
      }
    }
    SendMessageW(Control(k, IDC_RULES_OFS_UP), BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(up_.Get()));
    SendMessageW(Control(k, IDC_RULES_OFS_DOWN), BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(down_.Get()));
    tip(Control(k, IDC_RULES_OFS_UP), u"上へ移動");
    tip(Control(k, IDC_RULES_OFS_DOWN), u"下へ移動");
    tip(Control(k, IDC_RULES_OFS_REGISTER), u"登録");
    tip(Control(k, IDC_RULES_OFS_DELETE), u"削除");
  }
  tip(GetDlgItem(window_, IDC_RULES_CMDBUTTON0), u"監視ルールを保存します");
  tip(GetDlgItem(window_, IDC_RULES_CMDBUTTON1), u"保存せずに戻る");
}

// A button, or Enter (IDOK: the dialog has no default button) in a panel's
// fields, which registers what they hold.
bool RulesEditorWin32::Command(int id) {
  if (id == IDCANCEL || id == IDC_RULES_CMDBUTTON1) {
    presenter_->CancelClicked();
    return true;
  }
  if (id == IDC_RULES_CMDBUTTON0) {
    presenter_->SaveClicked();
    return true;
  }
  if (id == IDOK) {
    // In the channel box the focus is in the box's own edit control.
    HWND focus = GetFocus();
    if (focus != nullptr && GetParent(focus) != window_) focus = GetParent(focus);
    const int focused = GetDlgCtrlID(focus);
    const int offset = (focused - IDC_RULES_PANEL0) % IDC_RULES_PANEL_STEP;
    const int panel = (focused - IDC_RULES_PANEL0) / IDC_RULES_PANEL_STEP;
    if (focused < IDC_RULES_PANEL0 || panel >= kRulePanels || offset < IDC_RULES_OFS_FIELD) {
      return true;
    }
    presenter_->RegisterClicked(panel);
    return true;
  }
  const int panel = (id - IDC_RULES_PANEL0) / IDC_RULES_PANEL_STEP;
  if (id < IDC_RULES_PANEL0 || panel >= kRulePanels) return false;
  switch ((id - IDC_RULES_PANEL0) % IDC_RULES_PANEL_STEP) {
    case IDC_RULES_OFS_REGISTER: presenter_->RegisterClicked(panel); return true;
    case IDC_RULES_OFS_DELETE: presenter_->DeleteClicked(panel); return true;
    case IDC_RULES_OFS_UP: presenter_->MoveUpClicked(panel); return true;
    case IDC_RULES_OFS_DOWN: presenter_->MoveDownClicked(panel); return true;
    default: return false;
  }
}

INT_PTR RulesEditorWin32::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetUp();
      if (presenter_ != nullptr) presenter_->FormLoad();
      return TRUE;
    case WM_COMMAND:
      if (presenter_ == nullptr) return FALSE;
      if (HIWORD(wParam) != BN_CLICKED && lParam != 0) return FALSE;
      return Command(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      const int id = static_cast<int>(header->idFrom);
      const int panel = (id - IDC_RULES_PANEL0) / IDC_RULES_PANEL_STEP;
      if (presenter_ == nullptr || id < IDC_RULES_PANEL0 || panel >= kRulePanels ||
          (id - IDC_RULES_PANEL0) % IDC_RULES_PANEL_STEP != IDC_RULES_OFS_LIST) {
        return FALSE;
      }
      // A click refills the fields from the current row even when it stays
      // selected (edits not yet registered are then undone); whatever moves
      // the selection, a click or a key, refreshes the panel too.
      if (header->code == NM_CLICK && updating_ == 0) presenter_->ListChanged(panel);
      if (header->code == LVN_ITEMCHANGED && updating_ == 0) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) != 0 &&
            ((change->uOldState ^ change->uNewState) & LVIS_SELECTED) != 0) {
          presenter_->ListChanged(panel);
        }
      }
      return FALSE;
    }
    case WM_CLOSE:
      if (presenter_ != nullptr) presenter_->CancelClicked();
      return TRUE;
    case WM_DESTROY:
      if (tooltips_ != nullptr) DestroyWindow(tooltips_);
      tooltips_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void RulesEditorWin32::SetCaption(const std::u16string& text) {
  SetWindowTextW(window_, Wide(text));
}

void RulesEditorWin32::SetRows(int panel, const std::vector<std::vector<std::u16string>>& rows) {
  HWND list = Control(panel, IDC_RULES_OFS_LIST);
  ++updating_;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      std::wstring text = ToWide(rows[r][c]);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(r);
      item.iSubItem = static_cast<int>(c);
      item.pszText = text.data();
      SendMessageW(list, c == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, c == 0 ? 0 : r,
                   reinterpret_cast<LPARAM>(&item));
    }
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  --updating_;
}

int RulesEditorWin32::CurrentRow(int panel) {
  return ListView_GetNextItem(Control(panel, IDC_RULES_OFS_LIST), -1, LVNI_SELECTED);
}

void RulesEditorWin32::SetCurrentRow(int panel, int row) {
  HWND list = Control(panel, IDC_RULES_OFS_LIST);
  ++updating_;
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  if (row >= 0) {
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, row, FALSE);
  }
  --updating_;
}

std::u16string RulesEditorWin32::FieldText(int panel, RuleField field) {
  HWND control = Control(panel, FieldOffset(field));
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return FromWide(text);
}

void RulesEditorWin32::SetFieldText(int panel, RuleField field, const std::u16string& text) {
  HWND control = Control(panel, FieldOffset(field));
  const Chooser chooser = EntriesOf(field);
  if (chooser.entries == nullptr) {
    SetWindowTextW(control, Wide(text));
    return;
  }
  // Exactly one of the entries, compared case for case; anything else chooses none.
  int index = -1;
  for (int i = 0; i < chooser.count; ++i) {
    if (text == chooser.entries[i]) index = i;
  }
  SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void RulesEditorWin32::SetChannelEntries(const std::vector<std::u16string>& channels) {
  HWND box = Control(kChannelPanel, FieldOffset(RuleField::Channel));
  // Resetting the entries would empty the box's text as well.
  const std::u16string typed = FieldText(kChannelPanel, RuleField::Channel);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::u16string& channel : channels) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(channel)));
  }
  SetWindowTextW(box, Wide(typed));
}

void RulesEditorWin32::EnableButtons(int panel, bool up, bool down, bool registerRule,
                                     bool deleteRule) {
  const std::pair<int, bool> buttons[] = {{IDC_RULES_OFS_UP, up},
                                          {IDC_RULES_OFS_DOWN, down},
                                          {IDC_RULES_OFS_REGISTER, registerRule},
                                          {IDC_RULES_OFS_DELETE, deleteRule}};
  for (const auto& [offset, enabled] : buttons) {
    HWND button = Control(panel, offset);
    EnableWindow(button, enabled);
  }
}

void RulesEditorWin32::Focus(int panel, RuleField field) {
  SendMessageW(window_, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(Control(panel, FieldOffset(field))), TRUE);
}

void RulesEditorWin32::SetBusyCursor(bool busy) {
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void RulesEditorWin32::Close() {
  if (closed_ || window_ == nullptr) return;
  closed_ = true;
  EndDialog(window_, 0);
}

void RulesEditorWin32::ShowFailure(const std::u16string& description) noexcept {
  try {
    SetBusyCursor(false);
    boxes_.Show(std::u16string(kRulesEditorErrorLine) + u"\r\n" + description,
                MessageIcon::Exclamation);
  } catch (...) {
  }
}

void OpenRulesEditorWindow(HINSTANCE instance, HWND owner, const std::filesystem::path& rulesFile,
                           MessageBoxes& boxes, ListChannelNames channels) {
  RulesEditorWin32 dialog(boxes);
  RulesEditor presenter(
      {dialog, boxes, rulesFile, LoadRuleLists, SaveRuleLists, std::move(channels)});
  dialog.Run(instance, owner, presenter);
}

}  // namespace zkq::win32
