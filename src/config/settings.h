#pragma once
// The settings file zkQuorvane.ini: a profile file in code page 932 with one
// section [zkQuorvane], read and written with the semantics of the Windows
// profile functions by the program's own code.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/ports.h"

namespace zkq {

inline constexpr char16_t kSettingsSection[] = u"zkQuorvane";
inline constexpr char16_t kSettingsFileName[] = u"zkQuorvane.ini";

// The profile format, on bytes (code page 932), without any message.
namespace profile {
// The value of key in section, as GetPrivateProfileStringA returns it into a
// buffer of `size` bytes ("" when absent or empty). Never throws.
std::string Read(const std::filesystem::path& file, std::string_view section,
                 std::string_view key, std::size_t size = 255);
// Sets key in section, keeping every other line; creates the file and the
// section when missing. The file is replaced through a temporary file and a
// rename. False when the file could not be written.
bool Write(const std::filesystem::path& file, std::string_view section,
           std::string_view key, std::string_view value);
}  // namespace profile

// The in-memory copy of the section: the texts exactly as read.
struct Settings {
  std::u16string SmtpServer, SmtpPort, From, To, Subject;
  std::u16string DateStamp, TimeStamp, Rules, Interval;
  std::u16string AutoStart, IconStart, ServiceStart;
};

// Every read and write of the settings file goes through this.
class SettingsFile {
 public:
  SettingsFile(std::filesystem::path path, MessageBoxes& boxes);
  const std::filesystem::path& Path() const { return path_; }
  void SetPath(std::filesystem::path path) { path_ = std::move(path); }

  std::u16string ReadIniString(std::u16string_view section, std::u16string_view key) const;
  // On failure shows "<full path> ファイルの書き込み時にエラーが発生しました。"
  // and returns false; callers go on as if it had worked.
  bool WriteIniString(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value) const;

 private:
  std::filesystem::path path_;
  MessageBoxes& boxes_;
};

// The path of the settings file for a program folder.
std::filesystem::path SettingsPath(const std::filesystem::path& programDir);

// The start-up load: reads every key in order and sets countdown to
// Interval - 1. Throws Failure when Interval is no 16-bit number; the caller
// shows "zkQuorvane.iniファイルの読み込みに失敗しました！" with the description.
Settings LoadSettings(const SettingsFile& file, std::int16_t& countdown);
std::u16string SettingsLoadFailedText(const std::u16string& description);

// Countdown: ticks left before the next monitoring cycle.
std::int16_t CountdownFor(const Settings& settings);  // Interval - 1, may throw Failure

}  // namespace zkq
