#pragma once
// The settings file zkQuorvane.ini: a profile file in code page 932 with one
// section [zkQuorvane], read and written with the semantics of the Windows
// profile functions by the program's own code (config/profile.h).
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/ports.h"
#include "config/profile.h"

namespace zkq {

inline constexpr char16_t kSettingsSection[] = u"zkQuorvane";
inline constexpr char16_t kSettingsFileName[] = u"zkQuorvane.ini";

// Shown after the full path of the settings file when a write fails.
inline constexpr char16_t kSettingsWriteFailed[] = u" ファイルの書き込み時にエラーが発生しました。";
// Shown after the application title when the start-up load fails.
inline constexpr char16_t kSettingsLoadFailed[] = u".iniファイルの読み込みに失敗しました！";

// The in-memory copy of the section: the texts exactly as read.
struct Settings {
  std::u16string SmtpServer, SmtpPort, From, To, Subject;
  std::u16string DateStamp, TimeStamp, Rules, Interval;
  std::u16string AutoStart, IconStart, ServiceStart;
  // Optional: a folder (relative to the program folder) whose System.evt,
  // Security.evt and Application.evt replace the live event logs; "" for the
  // live logs.
  std::u16string EventLogDir;
  // Optional: "None" (or absent), "StartTls" or "Tls"; the login for AUTH
  // (none when SmtpUser is empty). SmtpPassword is the password itself: the
  // file keeps it protected (kProtectedPasswordPrefix).
  std::u16string SmtpSecurity, SmtpUser, SmtpPassword;
  // Optional: "Password" (or absent) logs in with SmtpUser and SmtpPassword;
  // "OAuth2" with XOAUTH2 as the mailbox SmtpUser, with a token that the
  // client-credentials grant gives for OAuthTenant, OAuthClientId and
  // OAuthClientSecret (kept protected like SmtpPassword). OAuthScope and
  // OAuthTokenUrl stand in for their defaults when they are not empty.
  std::u16string SmtpAuth, OAuthTenant, OAuthClientId, OAuthClientSecret, OAuthScope, OAuthTokenUrl;
  // The newest record examined in each log, "number:seconds"; "" for none.
  std::u16string SystemBookmark, SecurityBookmark, ApplicationBookmark;
  // Optional: "0" leaves each event's message text out of the alert; any
  // other value, absent included, puts it under the event's line.
  std::u16string AlertDetail;
  // The time of day ("hh:mm", local) of the daily report; empty: no report.
  std::u16string Heartbeat;
};

// The minutes after midnight of a Heartbeat text "hh:mm" (blanks around it
// allowed); nothing for any other text, an empty one included: no report.
std::optional<int> HeartbeatMinutes(std::u16string_view text);

// Whether the alert carries each event's message text (AlertDetail is not "0").
bool AlertDetailOn(const Settings& settings);

// Keeps a password unreadable to anyone but this machine (DPAPI at machine
// scope on Windows, so that the service and the desktop program both read it).
class PasswordProtector {
 public:
  virtual ~PasswordProtector() = default;
  // The protected form of the bytes; nothing when they cannot be protected.
  virtual std::optional<std::string> Protect(std::string_view clear) = 0;
  // The bytes again; nothing for a blob this machine did not protect.
  virtual std::optional<std::string> Unprotect(std::string_view blob) = 0;
};

// Shown once at the start, around the key, when a password or secret typed
// into the file in clear could not be written back protected.
inline constexpr char16_t kClearSecretKept[] = u"設定ファイルの ";
inline constexpr char16_t kClearSecretKeptRest[] =
    u" を保護して保存できませんでした。平文のまま残っています。";

// The stored form of a protected password: this, then Base64 of the blob.
inline constexpr char16_t kProtectedPasswordPrefix[] = u"dpapi:";
// The password as the file keeps it; nothing when it cannot be protected.
std::optional<std::u16string> ProtectedPasswordText(std::u16string_view password,
                                                    PasswordProtector& protector);
// The password of the stored text: a protected one unprotected ("" when that
// fails or no protector is given), any other text as it stands (typed in by hand).
std::u16string PasswordOfStoredText(std::u16string_view stored, PasswordProtector* protector);

// Every read and write of the settings file goes through this.
class SettingsFile {
 public:
  SettingsFile(std::filesystem::path path, MessageBoxes& boxes);
  const std::filesystem::path& Path() const { return path_; }
  void SetPath(std::filesystem::path path) { path_ = std::move(path); }

  // The value, at most 254 bytes in code page 932; "" for an absent or empty
  // key and for a missing file or section.
  // size works as GetPrivateProfileString's buffer: at most size - 1 bytes.
  std::u16string ReadIniString(std::u16string_view section, std::u16string_view key,
                               std::size_t size = 255) const;
  // On failure shows "<full path> ファイルの書き込み時にエラーが発生しました。"
  // (unless showFailure is false) and returns false; callers go on as if it
  // had worked.
  bool WriteIniString(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value, bool showFailure = true) const;
  // Several keys in one write of the file, as WriteIniString otherwise.
  bool WriteIniStrings(std::u16string_view section,
                       std::span<const std::pair<std::u16string_view, std::u16string_view>> values,
                       bool showFailure = true) const;
  // Keys of several sections in one write of the file: each entry is
  // section, key, value.
  bool WriteIniEntries(std::span<const std::array<std::u16string_view, 3>> entries,
                       bool showFailure = true) const;
  // The write warning, for a caller that wrote without showing it.
  void ShowWriteFailure() const;
  void ShowWarning(const std::u16string& text) const {
    boxes_.Show(text, MessageIcon::Exclamation);
  }
  std::u16string WriteFailureText() const;

  // What protects SmtpPassword; none where the file's password is never read.
  void SetProtector(PasswordProtector* protector) { protector_ = protector; }
  PasswordProtector* Protector() const { return protector_; }

 private:
  std::filesystem::path path_;
  PasswordProtector* protector_ = nullptr;
  MessageBoxes& boxes_;
};

// The path of the settings file for a program folder.
std::filesystem::path SettingsPath(const std::filesystem::path& programDir);

// The path as the user reads it in a message: absolute, in the system's own
// separators.
std::u16string PathText(const std::filesystem::path& path);

// The start-up load: reads every key in order and sets countdown to
// Interval - 1. A password or client secret typed into the file in clear is
// used, and written back protected when the file has a protector. Throws Failure when Interval
// is no 16-bit number; the caller shows SettingsLoadFailedText of its
// description.
Settings LoadSettings(const SettingsFile& file, std::int16_t& countdown);
// "zkQuorvane.iniファイルの読み込みに失敗しました！" CR LF description.
std::u16string SettingsLoadFailedText(const std::u16string& description);

// Countdown: ticks left before the next monitoring cycle, Interval - 1.
// Throws Failure when Interval is no 16-bit number.
std::int16_t CountdownFor(const Settings& settings);

// A stored password may be longer than other values (its protected form is).
inline constexpr std::size_t kPasswordReadSize = 4096;

}  // namespace zkq
