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

// Where an installed program (no settings file beside it) keeps its
// settings, rules, outbox and bookmarks: %ProgramData%\zkQuorvane, which only
// SYSTEM and Administrators may change.
class StateFolder {
 public:
  virtual ~StateFolder() = default;
  // Its full path; "" when the system does not tell.
  virtual std::u16string Path() = 0;
  // Creates it, with those permissions, when it is missing; true when this
  // process may write in it.
  virtual bool Prepare() = 0;
};

inline constexpr char16_t kHelpFileName[] = u"zkQuorvane.hlp";
inline constexpr char16_t kApplicationErrorText[] = u"アプリケーションエラー！";
inline constexpr char16_t kPathNotFound[] = u"パスが見つかりません。";
// Around the state folder's path when this process cannot write in it.
inline constexpr char16_t kStateFolderNotWritable[] = u"設定と監視の記録を保存するフォルダー ";
inline constexpr char16_t kStateFolderRemedy[] =
    u" に書き込めないため、監視を始められません。\r\n"
    u"管理者として実行するか、サービスとして監視してください。";

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

// Main: chooses the program folder, makes it current, keeps the command line,
// loads the settings (pointing file at the settings path of that folder) and
// sets the help path (beside the executable). The program folder is the
// executable's when a settings file stands beside it (or no state folder is
// given), else the state folder, which is prepared first: a process that
// cannot write there says so and never monitors with a state it cannot
// keep. On a failure it shows the message and returns nothing: the main window
// is then not created.
std::optional<StartupValues> RunMain(std::u16string_view exePath, std::u16string_view commandLine,
                                     SettingsFile& file, MessageBoxes& boxes,
                                     CurrentDirectory& currentDirectory,
                                     StateFolder* stateFolder = nullptr);

}  // namespace zkq
