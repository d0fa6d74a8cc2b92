#include "base/files.h"

#include <memory>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zkq {
namespace fs = std::filesystem;
namespace {

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

File OpenFile(const fs::path& path, bool write) {
#if defined(_WIN32)
  return File(_wfopen(path.c_str(), write ? L"wb" : L"rb"));
#else
  return File(std::fopen(path.c_str(), write ? "wb" : "rb"));
#endif
}

}  // namespace

bool FileCalls::Write(std::FILE* file, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool FileCalls::Flush(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#if defined(_WIN32)
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

bool FileCalls::Rename(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  return !ec;
}

FileCalls& SystemFileCalls() {
  static FileCalls calls;
  return calls;
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) return std::nullopt;
  File file = OpenFile(path, false);
  if (!file) return std::nullopt;
  std::string content;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) content.append(buffer, got);
  if (std::ferror(file.get())) return std::nullopt;
  return content;
}

bool ReplaceFileAtomically(const fs::path& path, std::string_view bytes, FileCalls& calls) {
  if (path.empty() || !path.has_filename()) return false;
  std::error_code ec;
  const fs::file_status old = fs::status(path, ec);
  const bool exists = fs::exists(old);
  fs::path temporary = path;
  temporary += ".tmp";
  bool ok = false;
  {
    File file = OpenFile(temporary, true);
    if (!file) return false;
    ok = calls.Write(file.get(), bytes) && calls.Flush(file.get());
    ok = std::fclose(file.release()) == 0 && ok;
  }
  // The settings file keeps who may read and write it.
  if (ok && exists) fs::permissions(temporary, old.permissions(), ec);
  ok = ok && calls.Rename(temporary, path);
  if (!ok) fs::remove(temporary, ec);
  return ok;
}

}  // namespace zkq
