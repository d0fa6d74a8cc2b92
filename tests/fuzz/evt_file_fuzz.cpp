// Any bytes as an .evt file: opening and reading it to the end terminates,
// hands out only whole records with consecutive numbers, and never more
// record bytes than the file holds.
//
// Inputs whose first byte is odd are not taken as a file but as the recipe of
// a well-formed log (records, wrap point, stale parts) that is then damaged
// at a few places, so the search reaches deep into real layouts without seeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "eventlog/evt_builder.h"
#include "eventlog/evt_file.h"
#include "eventlog/no_lookups.h"
#include "eventlog/record.h"
#include "eventlog/row_decoder.h"

namespace {

class Recipe {
 public:
  Recipe(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{Byte()} << (8 * i);
    return v;
  }
  bool Done() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_, at_ = 0;
};

std::vector<std::uint8_t> Build(Recipe& r) {
  zkq::EvtRecipe recipe;
  const std::uint32_t first = 1 + r.U32() % 100000;
  const int count = r.Byte() % 24;
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) {
    zkq::RecordRecipe rec;
    rec.number = first + static_cast<std::uint32_t>(i);
    rec.timeWritten = r.U32();
    rec.eventId = r.U32();
    rec.type = r.Byte();
    rec.category = r.Byte();
    rec.source = std::u16string(r.Byte() % 9, static_cast<char16_t>(0x30 + r.Byte()));
    if (r.Byte() & 1) rec.sid = zkq::MakeSid(5, {21, r.U32(), r.U32()});
    if (r.Byte() & 1) rec.strings = {u"s"};
    recipe.records.push_back(zkq::BuildRecord(rec));
    total += recipe.records.back().size();
  }
  const std::size_t slack = r.Byte() * 4u;
  recipe.fileSize = 48 + total + 80 + slack;
  recipe.firstOffset = 48 + (r.U32() % (total + 80 + slack));
  recipe.dirty = r.Byte() & 1;
  recipe.staleEof = r.Byte() & 1;
  std::vector<std::uint8_t> file = zkq::BuildEvtFile(recipe);
  // Damage: each (position, byte) pair overwrites one byte.
  while (!r.Done()) {
    const std::uint32_t pos = r.U32();
    file[pos % file.size()] = r.Byte();
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes;
  if (size > 0 && (data[0] & 1)) {
    Recipe recipe(data + 1, size - 1);
    bytes = Build(recipe);
  } else {
    bytes.assign(data, data + size);
  }
  const std::size_t fileSize = bytes.size();
  std::unique_ptr<zkq::EventLog> log = zkq::OpenEvtBytes(std::move(bytes));
  if (!log) return 0;
  zkq::NoAccountNames accounts;
  zkq::NoMessageTables tables;
  zkq::EventRowDecoder decoder(u"System", accounts, tables);
  zkq::EventRowView row;
  std::span<const std::uint8_t> record;
  std::size_t total = 0;
  std::uint32_t previous = 0;
  bool first = true;
  for (;;) {
    const std::uint32_t code = log->ReadNext(record);
    if (code == zkq::kErrorHandleEof || code == zkq::kErrorEventlogFileCorrupt) break;
    if (code != 0) std::abort();
    const zkq::RecordFields f = zkq::DecodeRecordFields(record);
    if (f.length != record.size() || f.reserved != zkq::kRecordSignature) std::abort();
    if (!first && f.recordNumber != previous - 1) std::abort();
    previous = f.recordNumber;
    first = false;
    total += record.size();
    if (total > fileSize) std::abort();
    decoder.Decode(record, std::nullopt, row);
  }
  // The end stays the end.
  if (log->ReadNext(record) == 0) std::abort();
  return 0;
}
