#pragma once
// The one way the program reads and rewrites its own files (settings, rules).
// A rewrite goes to a temporary file beside the old one, is flushed to disk
// and then renamed over it, keeping the old file's permissions, so a failed or
// interrupted write always leaves the old file whole.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

// The calls a rewrite makes, so that tests can make any of them fail.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  virtual bool Write(std::FILE* file, std::string_view bytes);
  virtual bool Flush(std::FILE* file);  // to the disk, not only out of the C library
  virtual bool Rename(const std::filesystem::path& from, const std::filesystem::path& to);
};

FileCalls& SystemFileCalls();

// The whole content of a regular file; nothing when it is missing, is no
// regular file or cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Replaces (or creates) path with bytes through "<path>.tmp"; false, with the
// old file as it was and no temporary file left, when any step fails.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           FileCalls& calls = SystemFileCalls());

}  // namespace zkq
