#include "app/startup.h"

#include <exception>
#include <system_error>

#include "base/failure.h"
#include "base/text.h"

namespace zkq {

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool ProcessCurrentDirectory::Set(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::current_path(dir, error);
  return !error;
}

std::u16string ProgramDirText(std::u16string_view exePath) {
  const auto last = exePath.find_last_of(u"\\/");
  if (last == std::u16string_view::npos) return {};
  const std::u16string_view dir = exePath.substr(0, last);
  // A folder at the root keeps its separator, as the root is written "C:\" or "/".
  if (dir.empty() || (dir.size() == 2 && dir[1] == u':')) {
    return std::u16string(exePath.substr(0, last + 1));
  }
  return std::u16string(dir);
}

std::u16string HelpPathFor(std::u16string_view programDir) {
  std::u16string path(programDir);
  if (path.empty() || !IsSeparator(path.back())) path += u'\\';
  path += kHelpFileName;
  return path;
}

std::u16string ArgumentsOf(std::u16string_view fullCommandLine) {
  std::size_t pos = 0;
  if (!fullCommandLine.empty() && fullCommandLine[0] == u'"') {
    const auto close = fullCommandLine.find(u'"', 1);
    pos = close == std::u16string_view::npos ? fullCommandLine.size() : close + 1;
  } else {
    pos = fullCommandLine.find_first_of(u" \t");
    if (pos == std::u16string_view::npos) pos = fullCommandLine.size();
  }
  if (pos < fullCommandLine.size() &&
      (fullCommandLine[pos] == u' ' || fullCommandLine[pos] == u'\t')) {
    ++pos;
  }
  return std::u16string(fullCommandLine.substr(pos));
}

std::filesystem::path PathFromText(std::u16string_view text) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(text.begin(), text.end()));
#else
  return std::filesystem::path(ToUtf8(text));
#endif
}

std::optional<StartupValues> RunMain(std::u16string_view exePath, std::u16string_view commandLine,
                                     SettingsFile& file, MessageBoxes& boxes,
                                     CurrentDirectory& currentDirectory, StateFolder* stateFolder) {
  const auto showApplicationError = [&](const std::u16string& description) {
    boxes.Show(std::u16string(kApplicationErrorText) + u"\r\n" + description,
               MessageIcon::Exclamation);
  };

  StartupValues values;
  std::u16string dirText;
  try {
    dirText = ProgramDirText(exePath);
    values.programDir = PathFromText(dirText);
    std::error_code error;
    if (!dirText.empty() && stateFolder != nullptr &&
        !std::filesystem::exists(SettingsPath(values.programDir), error)) {
      const std::u16string state = stateFolder->Path();
      if (state.empty()) throw Failure(kPathNotFound, kPathNotFoundNumber);
      if (!stateFolder->Prepare()) {
        boxes.Show(kStateFolderNotWritable + state + kStateFolderRemedy, MessageIcon::Exclamation);
        return std::nullopt;
      }
      values.programDir = PathFromText(state);
    }
    if (dirText.empty() || !currentDirectory.Set(values.programDir))
      throw Failure(kPathNotFound, kPathNotFoundNumber);
    values.rawCommandLine = std::u16string(commandLine);
    values.commandLine = Trim(commandLine);
  } catch (const Failure& failure) {
    showApplicationError(failure.Description());
    return std::nullopt;
  } catch (const std::exception& error) {
    showApplicationError(FromUtf8(error.what()));
    return std::nullopt;
  }

  try {
    file.SetPath(SettingsPath(values.programDir));
    values.settings = LoadSettings(file, values.countdown);
  } catch (const Failure& failure) {
    boxes.Show(SettingsLoadFailedText(failure.Description()), MessageIcon::Exclamation);
    return std::nullopt;
  } catch (const std::exception& error) {
    boxes.Show(SettingsLoadFailedText(FromUtf8(error.what())), MessageIcon::Exclamation);
    return std::nullopt;
  }

  values.helpPath = HelpPathFor(dirText);
  return values;
}

}  // namespace zkq
