#include "config/win32/settings_dialog_win32.h"

#include <commctrl.h>

#include <vector>

#include "base/win32/wide.h"
#include "config/win32/settings_dialog_ids.h"

namespace zkq::win32 {
namespace {

constexpr UINT_PTR kWatchTimer = 1;

int FieldId(SettingsField field) {
  switch (field) {
    case SettingsField::SmtpServer: return IDC_SET_TXTSMTPSERVER;
    case SettingsField::SmtpPort: return IDC_SET_TXTSMTPPORT;
    case SettingsField::From: return IDC_SET_TXTFROM;
    case SettingsField::To: return IDC_SET_TXTTO;
    case SettingsField::Subject: return IDC_SET_TXTSUBJECT;
    case SettingsField::DateStamp: return IDC_SET_TXTDATESTAMP;
    case SettingsField::TimeStamp: return IDC_SET_TXTTIMESTAMP;
    case SettingsField::Interval: return IDC_SET_TXTINTERVAL;
    case SettingsField::SmtpUser: return IDC_SET_TXTUSER;
    case SettingsField::SmtpPassword: return IDC_SET_TXTPASSWORD;
    case SettingsField::Heartbeat: return IDC_SET_TXTHEARTBEAT;
    case SettingsField::OAuthTenant: return IDC_SET_TXTTENANT;
    case SettingsField::OAuthClientId: return IDC_SET_TXTCLIENTID;
    case SettingsField::OAuthClientSecret: return IDC_SET_TXTSECRET;
  }
  return 0;
}

int CheckId(SettingsCheck check) {
  switch (check) {
    case SettingsCheck::AutoStart: return IDC_SET_CHKSETTING0;
    case SettingsCheck::IconStart: return IDC_SET_CHKSETTING1;
    case SettingsCheck::ServiceStart: return IDC_SET_CHKSETTING2;
    case SettingsCheck::AlertDetail: return IDC_SET_CHKALERTDETAIL;
  }
  return 0;
}

constexpr SettingsField kFields[] = {
    SettingsField::SmtpServer, SettingsField::SmtpPort,  SettingsField::From,
    SettingsField::To,         SettingsField::Subject,   SettingsField::DateStamp,
    SettingsField::TimeStamp,  SettingsField::Interval,  SettingsField::SmtpUser,
    SettingsField::SmtpPassword, SettingsField::Heartbeat, SettingsField::OAuthTenant,
    SettingsField::OAuthClientId, SettingsField::OAuthClientSecret,
};

struct ToolTip {
  int id;
  const char16_t* text;
};
constexpr ToolTip kToolTips[] = {
    {IDC_SET_TXTDATESTAMP, u"フォーマットはYYYY/MM/DD"},
    {IDC_SET_TXTTIMESTAMP, u"フォーマットはhh:mm:ss"},
    {IDC_SET_TXTINTERVAL, u"分指定"},
    {IDC_SET_CHKALERTDETAIL, u"各イベントの行の下に、そのイベントの説明（メッセージ）を載せます"},
    {IDC_SET_TXTFROM, u"送信者メールアドレスを指定します"},
    {IDC_SET_TXTTO,
     u"宛先メールアドレスを指定します。複数の宛先を指定する場合はセミコロン（;）で区切ります。"},
    {IDC_SET_TXTSUBJECT, u"メールの件名を指定します"},
    {IDC_SET_TXTSMTPPORT, u"SMTPサーバのポート番号を指定します"},
    {IDC_SET_TXTSMTPSERVER, u"SMTPサーバ名 or SMTPサーバIPアドレスを指定します"},
    {IDC_SET_CBOSECURITY, u"なし：暗号化しない　STARTTLS：ポート587など　SSL/TLS：ポート465"},
    {IDC_SET_TXTUSER, u"SMTP認証のユーザー名（空欄なら認証しません）"},
    {IDC_SET_TXTPASSWORD, u"空欄のままなら保存済みのパスワードを使います"},
    {IDC_SET_CBOAUTH, u"パスワード：AUTH PLAIN/LOGIN　OAuth 2.0：Microsoft 365などのXOAUTH2"
                      u"（ユーザー名は送信に使うメールボックス）"},
    {IDC_SET_TXTTENANT, u"Microsoft 365のテナントIDまたはドメイン（例：contoso.onmicrosoft.com）"},
    {IDC_SET_TXTCLIENTID, u"アプリの登録のアプリケーション（クライアント）ID"},
    {IDC_SET_TXTSECRET, u"空欄のままなら保存済みのクライアントシークレットを使います"},
    {IDC_SET_CMDBUTTON2, u"画面の設定でテストメールを送信します（保存はしません）"},
    {IDC_SET_CMDBUTTON0, u"設定を保存"},
    {IDC_SET_CMDBUTTON1, u"キャンセル"},
};

}  // namespace

void SettingsDialogWin32::Run(HINSTANCE instance, HWND owner, SettingsDialog& presenter) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  presenter_ = &presenter;
  closeRequested_ = false;
  RunModal(instance, owner, IDD_SETTING);
  presenter_ = nullptr;
}

void SettingsDialogWin32::AddToolTips() {
  toolTip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                             nullptr, nullptr, nullptr);
  if (toolTip_ == nullptr) return;
  // The long recipient tip wraps instead of running off the screen.
  SendMessageW(toolTip_, TTM_SETMAXTIPWIDTH, 0, 400);
  for (const ToolTip& tip : kToolTips) {
    TTTOOLINFOW info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = window_;
    info.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window_, tip.id));
    info.lpszText = const_cast<wchar_t*>(Wide(tip.text));
    SendMessageW(toolTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

INT_PTR SettingsDialogWin32::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      for (const char16_t* choice : kSecurityChoices) {
        SendDlgItemMessageW(window_, IDC_SET_CBOSECURITY, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Wide(choice)));
      }
      for (const char16_t* choice : kAuthChoices) {
        SendDlgItemMessageW(window_, IDC_SET_CBOAUTH, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(Wide(choice)));
      }
      AddToolTips();
      if (presenter_ != nullptr) presenter_->FormLoad();
      return TRUE;
    case WM_TIMER:
      if (wParam != kWatchTimer) return FALSE;
      if (presenter_ != nullptr) presenter_->ClockTicked();
      return TRUE;
    case WM_COMMAND: {
      if (presenter_ == nullptr) return FALSE;
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == EN_SETFOCUS) {
        for (const SettingsField field : kFields) {
          if (FieldId(field) == id) presenter_->FieldFocused(field);
        }
        return TRUE;
      }
      switch (id) {
        case IDC_SET_CMDBUTTON0:
        case IDOK:  // Enter
          presenter_->SaveClicked();
          return TRUE;
        case IDC_SET_CMDBUTTON1:
        case IDCANCEL:  // Escape and the close box
          presenter_->CancelClicked();
          return TRUE;
        case IDC_SET_CMDBUTTON2:
          presenter_->TestClicked();
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_CLOSE:
      if (presenter_ != nullptr) presenter_->CancelClicked();
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, kWatchTimer);
      return FALSE;
    default:
      return FALSE;
  }
}

void SettingsDialogWin32::SetCaption(const std::u16string& text) {
  SetWindowTextW(window_, Wide(text));
}

std::u16string SettingsDialogWin32::FieldText(SettingsField field) {
  const HWND edit = GetDlgItem(window_, FieldId(field));
  std::vector<wchar_t> buffer(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1);
  const int length = GetWindowTextW(edit, buffer.data(), static_cast<int>(buffer.size()));
  return FromWide(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

void SettingsDialogWin32::SetFieldText(SettingsField field, const std::u16string& text) {
  SetDlgItemTextW(window_, FieldId(field), Wide(text));
}

void SettingsDialogWin32::SelectAll(SettingsField field) {
  SendDlgItemMessageW(window_, FieldId(field), EM_SETSEL, 0, 65000);
}

void SettingsDialogWin32::Focus(SettingsField field) {
  SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window_, FieldId(field))),
               TRUE);
}

bool SettingsDialogWin32::Checked(SettingsCheck check) {
  return IsDlgButtonChecked(window_, CheckId(check)) == BST_CHECKED;
}

void SettingsDialogWin32::SetChecked(SettingsCheck check, bool checked) {
  CheckDlgButton(window_, CheckId(check), checked ? BST_CHECKED : BST_UNCHECKED);
}

int SettingsDialogWin32::Choice(int id) {
  const LRESULT choice = SendDlgItemMessageW(window_, id, CB_GETCURSEL, 0, 0);
  return choice == CB_ERR ? 0 : static_cast<int>(choice);
}

void SettingsDialogWin32::SetChoice(int id, int choice) {
  SendDlgItemMessageW(window_, id, CB_SETCURSEL, static_cast<WPARAM>(choice), 0);
}

int SettingsDialogWin32::SecurityChoice() { return Choice(IDC_SET_CBOSECURITY); }

void SettingsDialogWin32::SetSecurityChoice(int choice) { SetChoice(IDC_SET_CBOSECURITY, choice); }

int SettingsDialogWin32::AuthChoice() { return Choice(IDC_SET_CBOAUTH); }

void SettingsDialogWin32::SetAuthChoice(int choice) { SetChoice(IDC_SET_CBOAUTH, choice); }

void SettingsDialogWin32::StartClock() { SetTimer(window_, kWatchTimer, 1000, nullptr); }

void SettingsDialogWin32::StopClock() {
  if (window_ != nullptr) KillTimer(window_, kWatchTimer);
}

void SettingsDialogWin32::Close() {
  if (closeRequested_ || window_ == nullptr) return;
  closeRequested_ = true;
  KillTimer(window_, kWatchTimer);
  EndDialog(window_, 0);
}

void SettingsDialogWin32::ShowFailure(const std::u16string& description) noexcept {
  try {
    errorBoxes_.Show(u"アプリケーションエラー！\r\n" + description, MessageIcon::Exclamation);
  } catch (...) {
  }
}

bool OpenSettingsDialogWindow(HINSTANCE instance, HWND owner, Settings& settings,
                              const SettingsFile& file, Clock& clock, MessageBoxes& boxes,
                              ServiceRegistration& service, TestMailSender& testMail) {
  SettingsDialogWin32 dialog(boxes);
  SettingsDialog presenter({dialog, file, clock, boxes, service, testMail}, settings);
  dialog.Run(instance, owner, presenter);
  return presenter.ValuesTaken();
}

}  // namespace zkq::win32
