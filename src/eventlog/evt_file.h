#pragma once
// Exported or copied .evt event log files: the 48-byte header, the records in a
// ring that wraps from the end of the file back to offset 48, and the 40-byte
// end-of-file record that marks where the newest record ends.
//
// A log copied while in use ("dirty") has a stale header, so the end-of-file
// record is found by its signature; the records are then read newest first,
// backwards through the length copy that ends every record, down to the oldest
// record the end-of-file record names. Whatever lies in the unused space beyond
// is stale and not part of the log.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eventlog/ports.h"

namespace zkq {

inline constexpr std::size_t kEvtHeaderSize = 48;
inline constexpr std::size_t kEvtEofRecordSize = 40;
inline constexpr std::uint32_t kEvtFlagDirty = 0x1;
inline constexpr std::uint32_t kEvtFlagWrapped = 0x2;
// What the event log service answers for a log whose record chain is broken.
inline constexpr std::uint32_t kErrorEventlogFileCorrupt = 1500;

// Windows error codes the file reader reports, as the event log service would.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorReadFault = 30;

enum class EvtOpenError { None, Missing, NotRegularFile, Unreadable, NotEventLog };

struct EvtOpenResult {
  std::unique_ptr<EventLog> log;  // set when error is None
  EvtOpenError error = EvtOpenError::None;
  // The Windows error code for the failure (0 when opened): the file error,
  // or kErrorEventlogFileCorrupt for a file that is no event log.
  std::uint32_t code = 0;
};

// Takes the file's bytes; nullptr when they are no event log (no valid header).
std::unique_ptr<EventLog> OpenEvtBytes(std::vector<std::uint8_t> bytes);

// Reads the file into memory and opens it; an .evtx file (found by its
// signature) is opened through EvtxFile instead, reading only the chunks asked for. Only a regular file is read (a
// folder, a pipe or a device is refused before it is opened); the 48-byte
// header is checked before the rest is read, and no more is read than the
// header says the log holds.
EvtOpenResult OpenEvtFile(const std::filesystem::path& path);

// A log that has no records (an absent file is an empty log).
std::unique_ptr<EventLog> EmptyEventLog();
// A log whose first read fails with code, so that the reader reports it as a
// read failure rather than as an empty log.
std::unique_ptr<EventLog> FailedEventLog(std::uint32_t code);

// The three logs as System.evt, Security.evt and Application.evt of a folder.
// The file name is matched without regard to letter case, so a copied
// "SYSTEM.EVT" serves as well. A file that is absent, cannot be read or is no
// event log gives a log whose first read fails with the file's error code, so
// the monitor says so instead of finding nothing.
class EvtFileSource : public EventLogSource {
 public:
  explicit EvtFileSource(std::filesystem::path dir);
  std::unique_ptr<EventLog> Open(std::u16string_view server, std::u16string_view logName,
                                 std::uint32_t& error) override;
  // The file that serves logName (it may not exist).
  std::filesystem::path PathOf(std::u16string_view logName) const;

 private:
  std::filesystem::path dir_;
};

}  // namespace zkq
