#pragma once
// Builds records and .evt files byte by byte, the way Windows lays them out:
// used by the tests, the fuzz seeds and the benchmark to make logs whose every
// field is known, including wrapped, dirty and damaged ones.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zkq {

using Bytes = std::vector<std::uint8_t>;

struct RecordRecipe {
  std::uint32_t number = 1;
  std::uint32_t timeGenerated = 0, timeWritten = 0;
  std::uint32_t eventId = 0;
  std::uint16_t type = 4, category = 0;
  std::u16string source = u"Source", computer = u"COMPUTER";
  Bytes sid;  // empty: no SID
  std::vector<std::u16string> strings;
  Bytes data;
};

// One EVENTLOGRECORD: header, source, computer, SID, strings, data, padding to
// four bytes, the length again.
Bytes BuildRecord(const RecordRecipe& recipe);

// A binary SID with revision 1.
Bytes MakeSid(std::uint64_t authority, const std::vector<std::uint32_t>& subAuthorities);

struct EvtRecipe {
  std::vector<Bytes> records;      // oldest first
  std::size_t fileSize = 0;        // 0: exactly large enough for everything
  std::size_t firstOffset = 48;    // where the oldest record begins
  bool dirty = false;              // the header is stale and says so in its flags
  std::vector<Bytes> stale;        // old records left in the unused space, ending at firstOffset
  bool staleEof = false;           // an older end-of-file record right after the live one
};

Bytes BuildEvtFile(const EvtRecipe& recipe);

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value);

}  // namespace zkq
