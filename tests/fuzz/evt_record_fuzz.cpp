// One record of any bytes through the decoder and the row texts: nothing may
// read outside the record, and every span the decoder hands out lies inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "eventlog/no_lookups.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace {

bool Inside(std::span<const std::uint8_t> part, const std::vector<std::uint8_t>& whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact copy, so the sanitizer sees the end of the record.
  const std::vector<std::uint8_t> record(data, data + size);
  const zkq::RecordFields f = zkq::DecodeRecordFields(record);
  if (!Inside(f.source, record) || !Inside(f.computer, record) || !Inside(f.sid, record) ||
      !Inside(f.strings, record)) {
    std::abort();
  }
  if (f.source.size() % 2 != 0 || f.computer.size() % 2 != 0) std::abort();
  if (f.sidState == zkq::SidState::Readable && f.sid.size() != 8 + 4 * std::size_t{f.sid[1]}) {
    std::abort();
  }

  zkq::NoAccountNames accounts;
  zkq::NoMessageTables tables;
  zkq::EventRowDecoder decoder(u"System", accounts, tables);
  zkq::EventRowView row;
  if (!decoder.Decode(record, std::nullopt, row)) std::abort();  // no stamp: always listed
  if (row.date.size() != 10 || row.time.size() != 8) std::abort();
  if (row.category != u"なし") std::abort();
  const std::optional<std::int64_t> stamp = zkq::RecordUtcSeconds(f.timeWritten);
  if (!decoder.Decode(record, stamp, row)) std::abort();  // same second as the stamp
  if (decoder.Decode(record, *stamp + 1, row)) std::abort();
  return 0;
}
