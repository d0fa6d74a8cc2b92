// The Windows way to put a rewritten file in place (see base/files.h).
#include <windows.h>

#include "base/files.h"

namespace zkq {

namespace fs = std::filesystem;

ReplaceOutcome FileCalls::Replace(const fs::path& from, const fs::path& to) {
  // ReplaceFileW wants full paths (Wine refuses a relative pair).
  std::error_code ec;
  const fs::path source = fs::absolute(from, ec);
  const fs::path target = ec ? to : fs::absolute(to, ec);
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? ReplaceOutcome::Done
               : ReplaceOutcome::Failed;
  }
  // An existing file keeps its ACL, owner and attributes; a rename would give
  // it the folder's defaults. Without a backup name a failure half-way can
  // leave no file under the old name at all: with one, the old file is
  // always either in place or at the backup name, and is put back from there.
  fs::path backup = source;
  backup += ".old";
  if (ReplaceFileW(target.c_str(), source.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    DeleteFileW(backup.c_str());
    return ReplaceOutcome::Done;
  }
  switch (GetLastError()) {
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
      MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
      return ReplaceOutcome::Busy;
    // Another handle without FILE_SHARE_DELETE: a scanner or a backup agent
    // that lets go in a moment.
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
      return ReplaceOutcome::Busy;
    default:
      return ReplaceOutcome::Failed;
  }
}

}  // namespace zkq
