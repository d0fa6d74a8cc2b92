#pragma once
// Windows XML event log files (.evtx): a 4 KiB file header, then chunks of
// 64 KiB, each with its own header, its string and template tables, and its
// records, whose events are Binary XML. A full log wraps: chunks are reused
// from the first on, so their order in the file is not the records' order.
//
// Damage never stops the reading: a chunk whose signature or header checksum
// is wrong is skipped, as is a record whose sizes disagree or whose Binary XML
// breaks off; of a chunk whose records' checksum is wrong, the records that
// are still whole are read. Both are counted, and the log reports them once, after its last
// record, as a corrupt log. A header copied while the log was open ("dirty")
// is read past its own chunk count, as far as the file holds valid chunks.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "eventlog/binxml.h"
#include "eventlog/byte_source.h"
#include "eventlog/ports.h"

namespace zkq {

inline constexpr std::size_t kEvtxHeaderBlock = 4096;
inline constexpr std::size_t kEvtxChunkSize = 65536;
inline constexpr std::size_t kEvtxChunkHeaderSize = 512;
inline constexpr std::uint32_t kEvtxFlagDirty = 0x1;
inline constexpr std::uint32_t kEvtxFlagFull = 0x2;
// The log keeps no checksums (they are left 0).
inline constexpr std::uint32_t kEvtxFlagNoChecksums = 0x4;

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

struct EvtxFileHeader {
  std::uint64_t firstChunk = 0, lastChunk = 0, nextRecordId = 0;
  std::uint16_t chunkCount = 0;
  std::uint32_t flags = 0;
  bool checksumOk = false;
};

// What a chunk's header says; the chunk lies at offset in the file.
struct EvtxChunkInfo {
  std::uint64_t offset = 0;
  std::uint64_t firstRecordId = 0, lastRecordId = 0;
  std::uint32_t freeSpace = 0, recordsCrc = 0;
  bool checkRecords = true;
};

// One record of a chunk: its identifier, written time (FILETIME) and event.
struct EvtxRecord {
  std::uint64_t id = 0, written = 0;
  std::uint32_t eventPos = 0, eventEnd = 0;  // the Binary XML, in chunk offsets
};

// Begins with "ElfFile\0".
bool IsEvtxHeader(std::span<const std::uint8_t> bytes);

class EvtxFile {
 public:
  // Nothing when the source holds no .evtx file header.
  static std::unique_ptr<EvtxFile> Open(std::unique_ptr<ByteSource> source);

  const EvtxFileHeader& Header() const { return header_; }
  // The chunks whose header is sound, newest records first.
  const std::vector<EvtxChunkInfo>& Chunks() const { return chunks_; }
  // Chunks skipped for a wrong signature or header checksum.
  std::size_t DamagedChunks() const { return damagedChunks_; }

  // Reads the chunk and lists its records, oldest first; nullopt when it cannot
  // be read. damaged counts a wrong checksum of the records (the records that
  // are still whole are listed) and each run of bytes skipped because a
  // record's sizes disagree. The bytes stay valid until the next call.
  std::optional<std::span<const std::uint8_t>> LoadChunk(const EvtxChunkInfo& chunk,
                                                         std::vector<EvtxRecord>& records,
                                                         std::size_t& damaged);

 private:
  explicit EvtxFile(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}
  std::unique_ptr<ByteSource> source_;
  EvtxFileHeader header_;
  std::vector<EvtxChunkInfo> chunks_;
  std::size_t damagedChunks_ = 0;
};

// The fields of one event that the rows and the alert use.
struct EvtxEvent {
  std::uint64_t recordId = 0;
  std::uint64_t timeCreated = 0;  // FILETIME; the record's written time when absent
  std::uint16_t eventId = 0, qualifiers = 0, task = 0;
  std::uint8_t level = 0;
  std::uint64_t keywords = 0;
  std::u16string provider, eventSourceName, computer;
  std::vector<std::uint8_t> userSid;
  std::u16string strings;  // EventData values or UserData leaves, each ended by a NUL
  std::uint16_t stringCount = 0;
  std::u16string message;  // RenderingInfo/Message, where the record carries one
};

// The names of the event that the rows use.
enum class EvtxField : std::uint8_t;
struct EvtxPlan;

// Reads the events of one chunk; keeps the chunk's names between records.
class EvtxEventReader {
 public:
  explicit EvtxEventReader(std::span<const std::uint8_t> chunk);
  ~EvtxEventReader();
  // False when the record's Binary XML breaks off.
  bool Read(const EvtxRecord& record, EvtxEvent& event);
  // Appends the record's XML as Event Viewer's XML view shows it.
  bool AppendXml(const EvtxRecord& record, std::u16string& xml);

 private:
  std::span<const std::uint8_t> chunk_;
  BinXmlWalker walker_;
  std::vector<EvtxField> fields_;  // what each name of the chunk is, by its id
  // Fills the event from the values of an instance of the template at
  // definition, standing in context; false when only a walk can read it.
  bool Apply(std::uint32_t definition, std::string_view context,
             std::span<const BinXmlValue> values, EvtxEvent& event, int depth);
  bool Apply(const EvtxPlan& plan, std::span<const BinXmlValue> values, EvtxEvent& event,
             int depth);

  // Per template definition (its offset) and context: where the fields are
  // in its instances.
  std::unordered_map<std::string, std::unique_ptr<EvtxPlan>> plans_;
  std::string planKey_;  // reused from record to record
  std::vector<BinXmlValue> values_;
  std::vector<std::vector<BinXmlValue>> nested_;  // the values of nested instances, by depth
  std::u16string text_;
};

// The record in the EVENTLOGRECORD layout the reader decodes: the type from
// the keywords and level, the event ID with its qualifiers, the task as the
// category, TimeCreated as the written time, and the 64-bit record identifier.
void BuildEventLogRecord(const EvtxEvent& event, std::vector<std::uint8_t>& out);

// Opens the file, reading its chunk headers; nothing when it cannot be read
// or is no .evtx file.
std::unique_ptr<EvtxFile> OpenEvtxFile(const std::filesystem::path& path);

// Calls onXml with each record's XML, newest first; returns the damage found
// (chunks and records skipped), as the log would tell it.
std::size_t ForEachEvtxXml(EvtxFile& file, const std::function<void(std::u16string_view)>& onXml);

// The log of an .evtx file, read newest first by record identifier.
std::unique_ptr<EventLog> OpenEvtxLog(std::unique_ptr<EvtxFile> file);

}  // namespace zkq
