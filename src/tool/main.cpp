// zkq's entry: arguments in, stdout and stderr out as bytes (UTF-8, and the
// alert text's CR LF untouched, also on Windows).
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "tool/zkq.h"
#include "tool/zkq_mail.h"
#include "tool/zkq_setup.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "base/win32/folder_security.h"
#else
#include <filesystem>
#include <system_error>
#endif

namespace {

class FileOutput : public zkq::Output {
 public:
  explicit FileOutput(std::FILE* file) : file_(file) {}
  void Write(std::string_view bytes) override { std::fwrite(bytes.data(), 1, bytes.size(), file_); }

 private:
  std::FILE* file_;
};

int Run(std::vector<std::u16string> args) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  FileOutput out(stdout), err(stderr);
  if (!args.empty() && zkq::IsZkqSetupCommand(args[0])) {
    const int status = zkq::RunZkqSetup(args, out, err, [](const std::filesystem::path& folder) {
#ifdef _WIN32
      return zkq::win32::CreateStateFolder(folder.wstring());
#else
          std::error_code error;
          std::filesystem::create_directories(folder, error);
          return std::filesystem::is_directory(folder, error);
#endif
    });
    return std::fflush(stdout) != 0 ? 1 : status;
  }
  const bool mail = !args.empty() && zkq::IsZkqMailCommand(args[0]);
#ifdef _WIN32
  const int status = mail ? zkq::RunZkqMail(args, out, err, zkq::StandardInput())
                          : zkq::RunZkqWithSystemLookups(args, out, err);
#else
  const int status =
      mail ? zkq::RunZkqMail(args, out, err, zkq::StandardInput()) : zkq::RunZkq(args, out, err);
#endif
  if (std::fflush(stdout) != 0) return 1;
  return status;
}

}  // namespace

#ifdef _WIN32
// Wide arguments keep file names in any language intact.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) {
    std::u16string arg;
    for (const wchar_t* p = argv[i]; *p != 0; ++p) arg.push_back(static_cast<char16_t>(*p));
    args.push_back(std::move(arg));
  }
  return Run(std::move(args));
}
#else
int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zkq::FromUtf8(argv[i]));
  return Run(std::move(args));
}
#endif
