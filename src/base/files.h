#pragma once
// The one way the program reads and rewrites its own files (settings, rules).
// A rewrite goes to a temporary file of its own beside the old one, is flushed
// to disk and then put in place of it, keeping what the administrator set on
// the old file, so a failed or interrupted write always leaves the old file
// whole. Another program that holds the file for a moment (a virus scanner, a
// backup agent) makes the rewrite wait briefly and try again.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zkq {

enum class ReplaceOutcome {
  Done,
  Busy,  // another program holds the file: worth another try
  Failed,
};

// How often, and how far apart, a replacement is tried while the file is busy.
inline constexpr int kReplaceTries = 10;
inline constexpr std::chrono::milliseconds kReplacePause{100};

// The calls a rewrite makes, so that tests can make any of them fail.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  virtual bool Write(std::FILE* file, std::string_view bytes);
  virtual bool Flush(std::FILE* file);  // to the disk, not only out of the C library
  // Puts from in place of the file to. Where to exists it keeps its
  // permissions (on Windows its ACL, owner and attributes: ReplaceFileW).
  virtual ReplaceOutcome Replace(const std::filesystem::path& from,
                                 const std::filesystem::path& to);
  virtual void Pause(std::chrono::milliseconds time);  // between two tries
};

FileCalls& SystemFileCalls();

// The whole content of a regular file; nothing when it is missing, is no
// regular file or cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Replaces (or creates) path with bytes through a temporary file beside it;
// false, with the old file as it was and no temporary file left, when any
// step fails.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           FileCalls& calls = SystemFileCalls());

}  // namespace zkq
