// Any bytes as a chunk of an .evtx file: opening and reading it to the end
// terminates, hands out only whole records that decode into rows, renders
// every record as XML, and never reads outside the file (ASan).
//
// Byte 7 of the input (the NUL of the chunk's signature) is not taken as it
// is: when it is even, the file header says the log keeps no checksums, so
// that mutations reach the records instead of stopping at the checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "eventlog/evt_file.h"
#include "eventlog/evtx_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace {

std::vector<std::uint8_t> File(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(zkq::kEvtxHeaderBlock, 0);
  std::memcpy(file.data(), "ElfFile", 8);
  const bool checked = size > 7 && (data[7] & 1);
  file[32] = 128;   // header size
  file[36] = 1;     // minor version
  file[38] = 3;     // major version
  file[41] = 0x10;  // header block size 4096
  file[42] = 1;     // one chunk
  file[120] = checked ? 0 : zkq::kEvtxFlagNoChecksums;
  const std::uint32_t crc = zkq::Crc32({file.data(), 120});
  for (int i = 0; i < 4; ++i) file[124 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  file.insert(file.end(), data, data + size);
  if (size > 7) file[zkq::kEvtxHeaderBlock + 7] = 0;
  // A short input is a chunk cut short; every third one is padded to a whole chunk.
  if (size % 3 == 0) file.resize(zkq::kEvtxHeaderBlock + zkq::kEvtxChunkSize, 0);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes = File(data, size);
  std::unique_ptr<zkq::EventLog> log =
      zkq::OpenEvtxLog(zkq::EvtxFile::Open(std::make_unique<zkq::MemorySource>(bytes)));
  zkq::NoAccountNames accounts;
  zkq::NoMessageTables tables;
  zkq::EventRowDecoder decoder(u"System", accounts, tables);
  zkq::EventRowView row;
  std::span<const std::uint8_t> record;
  int corrupt = 0;
  for (int guard = 0;; ++guard) {
    if (guard > 70000) std::abort();  // more records than a chunk can hold
    const std::uint32_t code = log->ReadNext(record);
    if (code == zkq::kErrorHandleEof) break;
    if (code == zkq::kErrorEventlogFileCorrupt) {
      ++corrupt;
      continue;
    }
    if (code != 0) std::abort();
    const zkq::RecordFields f = zkq::DecodeRecordFields(record);
    if (f.length != record.size() || f.reserved != zkq::kRecordSignature) std::abort();
    decoder.Decode(record, std::nullopt, row);
  }
  // Damage is told once, and the end stays the end.
  if (corrupt > 1 || log->ReadNext(record) != zkq::kErrorHandleEof) std::abort();

  std::unique_ptr<zkq::EvtxFile> file =
      zkq::EvtxFile::Open(std::make_unique<zkq::MemorySource>(bytes));
  // A record that has no element at all is no record.
  zkq::ForEachEvtxXml(*file, [](std::u16string_view xml) {
    if (xml.find(u'<') == std::u16string_view::npos) std::abort();
  });
  return 0;
}
