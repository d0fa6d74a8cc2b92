#pragma once
// The settings file zkQuorvane.ini: a profile file in code page 932 with one
// section [zkQuorvane], read and written with the semantics of the Windows
// profile functions by the program's own code (config/profile.h).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

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
};

// Every read and write of the settings file goes through this.
class SettingsFile {
 public:
  SettingsFile(std::filesystem::path path, MessageBoxes& boxes);
  const std::filesystem::path& Path() const { return path_; }
  void SetPath(std::filesystem::path path) { path_ = std::move(path); }

  // The value, at most 254 bytes in code page 932; "" for an absent or empty
  // key and for a missing file or section.
  std::u16string ReadIniString(std::u16string_view section, std::u16string_view key) const;
  // On failure shows "<full path> ファイルの書き込み時にエラーが発生しました。"
  // (unless showFailure is false) and returns false; callers go on as if it
  // had worked.
  bool WriteIniString(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value, bool showFailure = true) const;
  // The write warning, for a caller that wrote without showing it.
  void ShowWriteFailure() const;

 private:
  std::filesystem::path path_;
  MessageBoxes& boxes_;
};

// The path of the settings file for a program folder.
std::filesystem::path SettingsPath(const std::filesystem::path& programDir);

// The path as the user reads it in a message: absolute, in the system's own
// separators.
std::u16string PathText(const std::filesystem::path& path);

// The start-up load: reads every key in order and sets countdown to
// Interval - 1. Throws Failure when Interval is no 16-bit number; the caller
// shows SettingsLoadFailedText of its description.
Settings LoadSettings(const SettingsFile& file, std::int16_t& countdown);
// "zkQuorvane.iniファイルの読み込みに失敗しました！" CR LF description.
std::u16string SettingsLoadFailedText(const std::u16string& description);

// Countdown: ticks left before the next monitoring cycle, Interval - 1.
// Throws Failure when Interval is no 16-bit number.
std::int16_t CountdownFor(const Settings& settings);

}  // namespace zkq
