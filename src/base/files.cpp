#include "base/files.h"

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

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

// A name beside path that no other rewrite uses: two rewrites at once, or a
// temporary file a scanner still holds, never meet.
fs::path TemporaryNameFor(const fs::path& path) {
  static std::atomic<unsigned> counter = 0;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    // Appended piece by piece: GCC 12 warns wrongly about "." + std::string.
    fs::path temporary = path;
    temporary += ".";
    temporary += std::to_string(ticks % 1000000007);
    temporary += "-";
    temporary += std::to_string(++counter);
    temporary += ".tmp";
    std::error_code ec;
    if (!fs::exists(temporary, ec)) return temporary;
  }
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

#if !defined(_WIN32)
// Windows has its own (base/win32/replace_file.cpp).
ReplaceOutcome FileCalls::Replace(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  // The file keeps who may read and write it.
  const fs::file_status old = fs::status(to, ec);
  if (fs::exists(old)) fs::permissions(from, old.permissions(), ec);
  fs::rename(from, to, ec);
  return ec ? ReplaceOutcome::Failed : ReplaceOutcome::Done;
}
#endif

void FileCalls::Pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

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
  // Only a file is replaced: a folder of that name (Wine's ReplaceFileW would
  // put the file in its place, contents and all) stays as it is.
  std::error_code ec;
  const fs::file_status old = fs::status(path, ec);
  if (fs::exists(old) && !fs::is_regular_file(old)) return false;
  const fs::path temporary = TemporaryNameFor(path);
  bool ok = false;
  {
    File file = OpenFile(temporary, true);
    if (!file) return false;
    ok = calls.Write(file.get(), bytes) && calls.Flush(file.get());
    ok = std::fclose(file.release()) == 0 && ok;
  }
  ReplaceOutcome outcome = ok ? ReplaceOutcome::Busy : ReplaceOutcome::Failed;
  for (int tries = 0; outcome == ReplaceOutcome::Busy && tries < kReplaceTries; ++tries) {
    if (tries > 0) calls.Pause(kReplacePause);
    outcome = calls.Replace(temporary, path);
  }
  if (outcome != ReplaceOutcome::Done) fs::remove(temporary, ec);
  return outcome == ReplaceOutcome::Done;
}

}  // namespace zkq
