#pragma once
// The settings dialog frmSetting: the mail connection, the examination stamp
// with its live clock, the monitoring interval and the three start-up options.
// It checks the entries, registers or removes the service when the service
// option changes, writes the keys and fills the caller's Settings. The Win32
// dialog forwards its events here and implements SettingsDialogView.
#include <array>
#include <string>

#include "base/ports.h"
#include "config/settings.h"

namespace zkq {

// The eight text fields, in the order the save checks them.
enum class SettingsField { SmtpServer, SmtpPort, From, To, Subject, DateStamp, TimeStamp, Interval };
// chkSetting 0, 1 and 2.
enum class SettingsCheck { AutoStart, IconStart, ServiceStart };

inline constexpr char16_t kSettingsDialogCaption[] = u"設定 - zkQuorvane";
inline constexpr char16_t kSettingsChanged[] = u"設定が変更されました！";
inline constexpr char16_t kNoSmtpServer[] = u"SMTPサーバを指定してください。";
inline constexpr char16_t kNoSmtpPort[] = u"サーバのポートを指定してください。";
inline constexpr char16_t kNoFrom[] = u"送信者アドレスを指定してください。";
inline constexpr char16_t kNoTo[] = u"宛先アドレスを指定してください。";
inline constexpr char16_t kNoSubject[] = u"件名を指定してください。";
inline constexpr char16_t kBadDate[] =
    u"日付のフォーマットが正しくありません！\r\nYYYY/MM/DDで指定してください。";
inline constexpr char16_t kBadTime[] =
    u"時刻のフォーマットが正しくありません！\r\nhh:mm:ssで指定してください。";
inline constexpr char16_t kBadInterval[] = u"イベントログの監視間隔（数字）を指定してください。";

class SettingsDialogView {
 public:
  virtual ~SettingsDialogView() = default;
  virtual void SetCaption(const std::u16string& text) = 0;
  virtual std::u16string FieldText(SettingsField field) = 0;
  virtual void SetFieldText(SettingsField field, const std::u16string& text) = 0;
  // Selects the whole text of the field.
  virtual void SelectAll(SettingsField field) = 0;
  virtual void Focus(SettingsField field) = 0;
  virtual bool Checked(SettingsCheck check) = 0;
  virtual void SetChecked(SettingsCheck check, bool checked) = 0;
  // tmrWatch, once a second until stopped.
  virtual void StartClock() = 0;
  virtual void StopClock() = 0;
  // Ends the modal dialog.
  virtual void Close() = 0;
};

// Registers the program as a Windows service (interactive) or removes it.
class ServiceRegistration {
 public:
  virtual ~ServiceRegistration() = default;
  virtual RegistrationOutcome Install() = 0;
  virtual RegistrationOutcome Uninstall() = 0;
};

struct SettingsDialogPorts {
  SettingsDialogView& view;
  const SettingsFile& file;
  Clock& clock;
  MessageBoxes& boxes;
  ServiceRegistration& service;
};

// "yyyy/mm/dd" of a date the Japanese locale accepts ("2004/1/5"), else "".
std::u16string CheckDateText(std::u16string_view text);
// The text when it is exactly "hh:mm:ss" with a real time of day, else "".
std::u16string CheckTimeText(std::u16string_view text);

class SettingsDialog {
 public:
  // settings is the program's in-memory copy; a save fills it.
  SettingsDialog(SettingsDialogPorts ports, Settings& settings);

  // Form_Load.
  void FormLoad();
  // tmrWatch_Timer.
  void ClockTicked();
  void FieldFocused(SettingsField field);
  void SaveClicked();
  void CancelClicked();

  // True once a save has taken the entries into Settings, so that the caller
  // shows them; also when a key could not be written and the user then
  // cancelled, since the program works with those values from now on.
  bool ValuesTaken() const { return taken_; }

 private:
  void ShowNow();
  bool Refuse(const char16_t* message, SettingsField field);
  void ApplyServiceOption();

  SettingsDialogPorts ports_;
  Settings& settings_;
  bool clockRunning_ = false;
  bool taken_ = false;
  bool closed_ = false;
};

}  // namespace zkq
