#pragma once
// The start procedure: runs before any window exists, and decides whether the
// main window is created at all.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/main_window.h"
#include "base/ports.h"
#include "config/settings.h"

namespace zkq {

// The process's current directory.
class CurrentDirectory {
 public:
  virtual ~CurrentDirectory() = default;
  // Makes dir the current drive and directory; false when that fails.
  virtual bool Set(const std::filesystem::path& dir) = 0;
};

// std::filesystem::current_path.
class ProcessCurrentDirectory : public CurrentDirectory {
 public:
  bool Set(const std::filesystem::path& dir) override;
};

inline constexpr char16_t kHelpFileName[] = u"zkQuorvane.hlp";
inline constexpr char16_t kApplicationErrorText[] = u"アプリケーションエラー！";
inline constexpr char16_t kPathNotFound[] = u"パスが見つかりません。";

// The folder of the executable as text: everything before the last "\" (or
// "/"), keeping the separator when that folder is the root of a drive
// ("C:\zkQuorvane.exe" gives "C:\").
std::u16string ProgramDirText(std::u16string_view exePath);

// The program folder, a "\" unless it already ends in one, and the help file name.
std::u16string HelpPathFor(std::u16string_view programDir);

// The arguments of a full process command line (GetCommandLineW): the program
// name, quoted or not, and the one blank after it are dropped; any further
// blanks belong to the arguments, which is how " -uninstall" stays rejected.
std::u16string ArgumentsOf(std::u16string_view fullCommandLine);

// Text (UTF-16) to a path for I/O.
std::filesystem::path PathFromText(std::u16string_view text);

// Main: makes the program folder current, keeps the command line, loads the
// settings (pointing file at the settings path of the program folder) and sets
// the help path. On a failure it shows the settings-load message or the
// application error and returns nothing: the main window is then not created.
std::optional<StartupValues> RunMain(std::u16string_view exePath, std::u16string_view commandLine,
                                     SettingsFile& file, MessageBoxes& boxes,
                                     CurrentDirectory& currentDirectory);

}  // namespace zkq
