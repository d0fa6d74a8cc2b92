#include "eventlog/evtx_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define ZKQ_CLMUL_CRC 1
#endif

#include "eventlog/evt_file.h"
#include "eventlog/record.h"

namespace zkq {
namespace {

constexpr std::uint8_t kFileSignature[8] = {'E', 'l', 'f', 'F', 'i', 'l', 'e', 0};
constexpr std::uint8_t kChunkSignature[8] = {'E', 'l', 'f', 'C', 'h', 'n', 'k', 0};
constexpr std::uint32_t kRecordMagic = 0x00002a2a;  // "**\0\0"
constexpr std::size_t kRecordOverhead = 28;         // header of 24, trailing size of 4

// Eight tables, so that the checksum of a whole chunk costs little beside its decoding.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t i = 0; i < 256; ++i) {
    for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}
constexpr CrcTables kCrc = MakeCrcTables();

}  // namespace

#if defined(ZKQ_CLMUL_CRC)
namespace {

#define ZKQ_CLMUL __attribute__((target("pclmul,sse4.1")))
ZKQ_CLMUL inline __m128i Load16(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
// The lane carried over the distance k stands for, added to the next lane.
ZKQ_CLMUL inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The checksum's register over n bytes, n a multiple of 16 and at least 64,
// by carry-less multiplication: four lanes of 128 bits folded 64 bytes at a
// time, then into one lane, then reduced to 32 bits (Barrett). The constants
// are powers of x modulo the polynomial 0x04C11DB7, bit-reflected.
ZKQ_CLMUL std::uint32_t FoldCrc(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  __m128i a = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i b = Load16(p + 16), c = Load16(p + 32), d = Load16(p + 48);
  p += 64;
  n -= 64;
  const __m128i by64 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  for (; n >= 64; p += 64, n -= 64) {
    a = Fold(a, by64, Load16(p));
    b = Fold(b, by64, Load16(p + 16));
    c = Fold(c, by64, Load16(p + 32));
    d = Fold(d, by64, Load16(p + 48));
  }
  const __m128i by16 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  a = Fold(a, by16, b);
  a = Fold(a, by16, c);
  a = Fold(a, by16, d);
  for (; n >= 16; p += 16, n -= 16) a = Fold(a, by16, Load16(p));

  // 128 bits to 64, then to the 32 of the register.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i t = _mm_clmulepi64_si128(a, by16, 0x10);
  a = _mm_xor_si128(_mm_srli_si128(a, 8), t);
  t = _mm_srli_si128(a, 4);
  a = _mm_clmulepi64_si128(_mm_and_si128(a, low32), _mm_set_epi64x(0, 0x0163cd6124), 0x00);
  a = _mm_xor_si128(a, t);
  const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  t = _mm_clmulepi64_si128(_mm_and_si128(a, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(a, t), 1));
}
#undef ZKQ_CLMUL

// Asked once, at the first checksum rather than among the start-up
// constructors, where the processor's features may not have been read yet.
bool HasClmul() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return has;
}

}  // namespace
#endif

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  crc = ~crc;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
#if defined(ZKQ_CLMUL_CRC)
  if (n >= 64 && HasClmul()) {
    const std::size_t whole = n & ~std::size_t{15};
    crc = FoldCrc(p, whole, crc);
    p += whole;
    n -= whole;
  }
#endif
  for (; n >= 8; p += 8, n -= 8) {
    const std::uint32_t a = Le32(p) ^ crc, b = Le32(p + 4);
    crc = kCrc[7][a & 0xFF] ^ kCrc[6][(a >> 8) & 0xFF] ^ kCrc[5][(a >> 16) & 0xFF] ^
          kCrc[4][a >> 24] ^ kCrc[3][b & 0xFF] ^ kCrc[2][(b >> 8) & 0xFF] ^
          kCrc[1][(b >> 16) & 0xFF] ^ kCrc[0][b >> 24];
  }
  for (; n > 0; ++p, --n) crc = kCrc[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

bool IsEvtxHeader(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kFileSignature, 8) == 0;
}

std::unique_ptr<EvtxFile> EvtxFile::Open(std::unique_ptr<ByteSource> source) {
  if (!source || source->Size() < 128) return nullptr;
  const std::uint8_t* h = source->At(0, 128);
  if (!h || !IsEvtxHeader({h, 8})) return nullptr;
  std::unique_ptr<EvtxFile> file(new EvtxFile(std::move(source)));
  EvtxFileHeader& header = file->header_;
  header.firstChunk = Le64(h + 8);
  header.lastChunk = Le64(h + 16);
  header.nextRecordId = Le64(h + 24);
  header.chunkCount = Le16(h + 42);
  header.flags = Le32(h + 120);
  const bool noChecksums = (header.flags & kEvtxFlagNoChecksums) != 0;
  header.checksumOk = noChecksums || Crc32({h, 120}) == Le32(h + 124);

  const std::size_t size = file->source_->Size();
  const std::size_t slots =
      size > kEvtxHeaderBlock ? (size - kEvtxHeaderBlock) / kEvtxChunkSize : 0;
  // A clean header counts its chunks; a dirty or damaged one is read as far
  // as the file holds chunks.
  const bool trustCount = (header.flags & kEvtxFlagDirty) == 0 && header.checksumOk;
  const std::size_t counted = std::min<std::size_t>(slots, header.chunkCount);
  const std::size_t count = trustCount ? counted : slots;
  for (std::size_t i = 0; i < count; ++i) {
    // Past the chunks the header counts, the file holds chunks only as far as
    // they follow one another; what comes after is unused space.
    const bool beyond = i >= counted;
    EvtxChunkInfo chunk;
    chunk.offset = kEvtxHeaderBlock + i * kEvtxChunkSize;
    const std::uint8_t* c =
        file->source_->At(static_cast<std::size_t>(chunk.offset), kEvtxChunkHeaderSize);
    if (!c || std::memcmp(c, kChunkSignature, 8) != 0) {
      if (beyond) break;
      ++file->damagedChunks_;
      continue;
    }
    const bool checked = !noChecksums && (Le32(c + 120) & kEvtxFlagNoChecksums) == 0;
    if (checked) {
      const std::uint32_t crc = Crc32({c + 128, kEvtxChunkHeaderSize - 128}, Crc32({c, 120}));
      if (crc != Le32(c + 124)) {
        if (beyond) break;
        ++file->damagedChunks_;
        continue;
      }
    }
    chunk.firstRecordId = Le64(c + 24);
    chunk.lastRecordId = Le64(c + 32);
    chunk.freeSpace = Le32(c + 48);
    chunk.recordsCrc = Le32(c + 52);
    chunk.checkRecords = checked;
    file->chunks_.push_back(chunk);
  }
  // A copy cut short in a chunk has lost the rest of it.
  const std::size_t rest = size > kEvtxHeaderBlock ? (size - kEvtxHeaderBlock) % kEvtxChunkSize : 0;
  if (rest >= 8 && count == slots) {
    const std::uint8_t* c = file->source_->At(size - rest, 8);
    if (c && std::memcmp(c, kChunkSignature, 8) == 0) ++file->damagedChunks_;
  }
  std::stable_sort(file->chunks_.begin(), file->chunks_.end(),
                   [](const EvtxChunkInfo& a, const EvtxChunkInfo& b) {
                     return a.lastRecordId > b.lastRecordId;
                   });
  return file;
}

std::optional<std::span<const std::uint8_t>> EvtxFile::LoadChunk(const EvtxChunkInfo& chunk,
                                                                 std::vector<EvtxRecord>& records,
                                                                 std::size_t& damaged) {
  records.clear();
  const std::size_t size = source_->Size();
  if (chunk.offset + kEvtxChunkSize > size) return std::nullopt;
  const std::uint8_t* c = source_->At(static_cast<std::size_t>(chunk.offset), kEvtxChunkSize);
  if (!c) return std::nullopt;
  const std::span<const std::uint8_t> bytes(c, kEvtxChunkSize);
  const std::size_t free = chunk.freeSpace;
  if (free < kEvtxChunkHeaderSize || free > kEvtxChunkSize) return std::nullopt;
  // Records changed after they were written: the chunk counts as damaged, yet
  // every record in it that is still whole and decodes is read.
  if (chunk.checkRecords &&
      Crc32(bytes.subspan(kEvtxChunkHeaderSize, free - kEvtxChunkHeaderSize)) != chunk.recordsCrc) {
    ++damaged;
  }
  std::size_t pos = kEvtxChunkHeaderSize;
  bool lost = false;
  while (pos + kRecordOverhead <= free) {
    const std::uint32_t recordSize = Le32(c + pos + 4);
    if (Le32(c + pos) == kRecordMagic && recordSize >= kRecordOverhead &&
        recordSize <= free - pos && Le32(c + pos + recordSize - 4) == recordSize) {
      EvtxRecord record;
      record.id = Le64(c + pos + 8);
      record.written = Le64(c + pos + 16);
      record.eventPos = static_cast<std::uint32_t>(pos + 24);
      record.eventEnd = static_cast<std::uint32_t>(pos + recordSize - 4);
      records.push_back(record);
      pos += recordSize;
      lost = false;
      continue;
    }
    // Sizes that disagree: the record is lost; the next one is found by its signature.
    if (!lost) ++damaged;
    lost = true;
    ++pos;
  }
  return bytes;
}

enum class EvtxField : std::uint8_t {
  Unknown,  // not looked at yet
  Other,
  Event,
  System,
  EventData,
  UserData,
  RenderingInfo,
  Provider,
  EventId,
  Level,
  Task,
  Keywords,
  TimeCreated,
  Computer,
  Security,
  Data,
  Message,
  // Attributes
  Name,
  EventSourceName,
  Qualifiers,
  SystemTime,
  UserId,
};

namespace {

using Field = EvtxField;

Field FieldOf(std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, Field> kNames[] = {
      {u"Event", Field::Event},
      {u"System", Field::System},
      {u"EventData", Field::EventData},
      {u"UserData", Field::UserData},
      {u"RenderingInfo", Field::RenderingInfo},
      {u"Provider", Field::Provider},
      {u"EventID", Field::EventId},
      {u"Level", Field::Level},
      {u"Task", Field::Task},
      {u"Keywords", Field::Keywords},
      {u"TimeCreated", Field::TimeCreated},
      {u"Computer", Field::Computer},
      {u"Security", Field::Security},
      {u"Data", Field::Data},
      {u"Message", Field::Message},
      {u"Name", Field::Name},
      {u"EventSourceName", Field::EventSourceName},
      {u"Qualifiers", Field::Qualifiers},
      {u"SystemTime", Field::SystemTime},
      {u"UserID", Field::UserId},
  };
  for (const auto& [text, field] : kNames) {
    if (text == name) return field;
  }
  return Field::Other;
}

// Parses "S-1-5-21-…" into a binary SID; false when it is no SID text.
bool ParseSidText(std::u16string_view text, std::vector<std::uint8_t>& sid) {
  std::vector<std::uint64_t> parts;
  if (text.size() < 4 || text.substr(0, 2) != u"S-") return false;
  std::uint64_t value = 0;
  bool digits = false;
  for (std::size_t i = 2; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == u'-') {
      if (!digits) return false;
      parts.push_back(value);
      value = 0;
      digits = false;
    } else if (text[i] >= u'0' && text[i] <= u'9' && value < (1ull << 48)) {
      value = value * 10 + (text[i] - u'0');
      digits = true;
    } else {
      return false;
    }
  }
  if (parts.size() < 2 || parts.size() > 17 || parts[0] > 255) return false;
  sid.assign(8, 0);
  sid[0] = static_cast<std::uint8_t>(parts[0]);
  sid[1] = static_cast<std::uint8_t>(parts.size() - 2);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<std::uint8_t>(parts[1] >> (8 * (5 - i)));
  for (std::size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] > UINT32_MAX) return false;
    for (int k = 0; k < 4; ++k) sid.push_back(static_cast<std::uint8_t>(parts[i] >> (8 * k)));
  }
  return true;
}

std::uint64_t SysTimeToFileTime(const std::uint8_t* p) {
  const int y = Le16(p), m = Le16(p + 2), d = Le16(p + 6);
  // Days from 1601-01-01 to the date.
  const int yy = m <= 2 ? y - 1 : y;
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = std::int64_t{era} * 146097 + doe - 719468 + 134774;
  const std::int64_t seconds = days * 86400 + Le16(p + 8) * 3600 + Le16(p + 10) * 60 + Le16(p + 12);
  return static_cast<std::uint64_t>(seconds) * 10000000 + std::uint64_t{Le16(p + 14)} * 10000;
}

char16_t EntityChar(std::u16string_view name) {
  if (name == u"lt") return u'<';
  if (name == u"gt") return u'>';
  if (name == u"amp") return u'&';
  if (name == u"quot") return u'"';
  if (name == u"apos") return u'\'';
  return 0;
}

// One part of a field's text: a value (of the template, or of the walk of one
// event), a substitution of the instance, or a character.
struct Piece {
  enum Kind : std::uint8_t { kValue, kSubstitution, kOptional, kChar } kind = kValue;
  BinXmlValue value;
  std::uint16_t id = 0;
  char16_t c = 0;
};
using Pieces = std::vector<Piece>;

enum Slot : std::uint8_t {
  kProvider,
  kSourceName,
  kEventId,
  kQualifiers,
  kLevel,
  kTask,
  kKeywords,
  kComputer,
  kSystemTime,
  kUserId,
  kMessage,
  kSlots
};

}  // namespace

// Where the fields of the rows are in an event: made once from a template's
// definition for all its instances, or from the walk of one event.
struct EvtxPlan {
  std::array<Pieces, kSlots> fields;
  // In document order: the strings, and the substitutions whose value may be
  // Binary XML of its own, read with the plan of its template in the
  // context (the fields of the elements around it) where it stands.
  struct Item {
    Pieces string;
    bool nested = false;
    std::uint16_t id = 0;
    std::string context;
  };
  std::vector<Item> items;
  bool sawElement = false;
};

namespace {

// Collects the pieces of each field from a walk.
class PlanSink : public BinXmlSink {
 public:
  // context: the fields of the elements the walked Binary XML stands in.
  PlanSink(EvtxPlan& plan, std::vector<Field>& fields, std::string_view context = {})
      : plan_(plan), fields_(fields) {
    for (char c : context) stack_.push_back({static_cast<Field>(c), true});
  }

  void StartElement(const BinXmlName& name) override {
    const Field field = Classify(name);
    plan_.sawElement = true;
    if (!stack_.empty()) stack_.back().hasChild = true;
    stack_.push_back({field, false});
    attribute_ = Field::Other;
    inAttribute_ = false;
    Restart(ElementWanted());
  }
  void Attribute(const BinXmlName& name) override {
    Finish();
    attribute_ = Classify(name);
    inAttribute_ = true;
    Restart(AttributeWanted());
  }
  void StartContent() override {
    Finish();
    inAttribute_ = false;
    attribute_ = Field::Other;
    Restart(ElementWanted());
  }
  void EndElement() override {
    if (stack_.empty()) return;
    const std::size_t depth = stack_.size();
    const Entry entry = stack_.back();
    const Field section = depth >= 2 ? stack_[1].field : Field::Other;
    if (wanted_) {
      if (depth == 3 && section == Field::System) {
        switch (entry.field) {
          case Field::EventId:
            plan_.fields[kEventId] = pieces_;
            break;
          case Field::Level:
            plan_.fields[kLevel] = pieces_;
            break;
          case Field::Task:
            plan_.fields[kTask] = pieces_;
            break;
          case Field::Keywords:
            plan_.fields[kKeywords] = pieces_;
            break;
          case Field::Computer:
            plan_.fields[kComputer] = pieces_;
            break;
          default:
            break;
        }
      } else if ((section == Field::EventData && depth == 3 && entry.field == Field::Data) ||
                 (section == Field::UserData && !entry.hasChild)) {
        plan_.items.push_back({pieces_});
      } else if (section == Field::RenderingInfo && depth == 3) {
        plan_.fields[kMessage] = pieces_;
      }
    }
    stack_.pop_back();
    // What follows a child element in its parent's content.
    Restart(ElementWanted());
  }
  void Value(const BinXmlValue& value) override {
    if (wanted_) pieces_.push_back({Piece::kValue, value});
  }
  void Substitution(std::uint16_t id, bool optional) override {
    if (wanted_) {
      pieces_.push_back({optional ? Piece::kOptional : Piece::kSubstitution, {}, id});
    } else if (!inAttribute_) {
      EvtxPlan::Item item;
      item.nested = true;
      item.id = id;
      for (const Entry& e : stack_) item.context.push_back(static_cast<char>(e.field));
      plan_.items.push_back(std::move(item));
    }
  }
  void CharRef(std::uint16_t c) override {
    if (wanted_) pieces_.push_back({Piece::kChar, {}, 0, static_cast<char16_t>(c)});
  }
  void EntityRef(const BinXmlName& name) override {
    if (!wanted_) return;
    if (const char16_t c = EntityChar(name.text)) pieces_.push_back({Piece::kChar, {}, 0, c});
  }
  void CData(std::span<const std::uint8_t> utf16) override {
    if (wanted_) pieces_.push_back({Piece::kValue, {kBinXmlString, utf16}});
  }

 private:
  struct Entry {
    Field field;
    bool hasChild;
  };

  Field Classify(const BinXmlName& name) {
    if (name.id >= fields_.size()) fields_.resize(name.id + 1, Field::Unknown);
    Field& field = fields_[name.id];
    if (field == Field::Unknown) field = FieldOf(name.text);
    return field;
  }

  void Restart(bool wanted) {
    wanted_ = wanted;
    pieces_.clear();
  }

  // Whether the innermost element's content is one of the fields.
  bool ElementWanted() const {
    const std::size_t depth = stack_.size();
    if (depth < 3) return false;
    const Field field = stack_.back().field;
    switch (stack_[1].field) {
      case Field::System:
        return depth == 3 &&
               (field == Field::EventId || field == Field::Level || field == Field::Task ||
                field == Field::Keywords || field == Field::Computer);
      case Field::EventData:
        return stack_[2].field == Field::Data;
      case Field::UserData:
        return true;
      case Field::RenderingInfo:
        return depth == 3 && field == Field::Message;
      default:
        return false;
    }
  }
  // The attribute's slot, or kSlots when it is none of the fields.
  Slot AttributeSlot() const {
    if (stack_.size() != 3 || stack_[1].field != Field::System) return kSlots;
    switch (stack_.back().field) {
      case Field::Provider:
        return attribute_ == Field::Name              ? kProvider
               : attribute_ == Field::EventSourceName ? kSourceName
                                                      : kSlots;
      case Field::EventId:
        return attribute_ == Field::Qualifiers ? kQualifiers : kSlots;
      case Field::TimeCreated:
        return attribute_ == Field::SystemTime ? kSystemTime : kSlots;
      case Field::Security:
        return attribute_ == Field::UserId ? kUserId : kSlots;
      default:
        return kSlots;
    }
  }
  bool AttributeWanted() const { return AttributeSlot() != kSlots; }

  // The end of an attribute's values.
  void Finish() {
    if (inAttribute_ && wanted_) plan_.fields[AttributeSlot()] = pieces_;
  }

  EvtxPlan& plan_;
  std::vector<Field>& fields_;
  std::vector<Entry> stack_;
  Field attribute_ = Field::Other;
  bool inAttribute_ = false, wanted_ = false;
  Pieces pieces_;
};

// The text of a field and its first value; false when a substitution of it
// holds Binary XML, which only a walk can read.
bool Evaluate(const Pieces& pieces, std::span<const BinXmlValue> values, std::u16string& text,
              BinXmlValue& first, bool append = false) {
  if (!append) text.clear();
  first = {};
  for (const Piece& p : pieces) {
    BinXmlValue v;
    switch (p.kind) {
      case Piece::kChar:
        text.push_back(p.c);
        continue;
      case Piece::kValue:
        v = p.value;
        break;
      case Piece::kSubstitution:
      case Piece::kOptional:
        if (p.id < values.size()) v = values[p.id];
        if (p.kind == Piece::kOptional && (v.type == kBinXmlNull || v.bytes.empty())) continue;
        if (v.type == kBinXmlBinXml) return false;
        break;
    }
    if (first.type == kBinXmlNull && first.bytes.empty()) first = v;
    AppendBinXmlValueText(text, v);
  }
  return true;
}

bool TextNumber(std::u16string_view text, std::uint64_t& n) {
  std::vector<std::uint8_t> utf16;
  for (char16_t c : text) {
    utf16.push_back(static_cast<std::uint8_t>(c));
    utf16.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return BinXmlValueNumber({kBinXmlString, utf16}, n);
}

// Fills the event's fields from the plan and the instance's values.
bool ApplyFields(const EvtxPlan& plan, std::span<const BinXmlValue> values, EvtxEvent& e,
                 std::u16string& text) {
  BinXmlValue first;
  std::uint64_t n = 0;
  // A field that is one value whole is taken from it, without its text.
  auto single = [&](Slot slot) {
    const Pieces& pieces = plan.fields[slot];
    if (pieces.size() != 1) return false;
    const Piece& p = pieces[0];
    if (p.kind == Piece::kValue) {
      first = p.value;
    } else if (p.kind == Piece::kSubstitution || p.kind == Piece::kOptional) {
      first = p.id < values.size() ? values[p.id] : BinXmlValue{};
    } else {
      return false;
    }
    return first.type != kBinXmlBinXml;
  };
  auto number = [&](Slot slot) {
    if (plan.fields[slot].empty()) return false;
    if (single(slot) && BinXmlValueNumber(first, n)) return true;
    return Evaluate(plan.fields[slot], values, text, first) &&
           (BinXmlValueNumber(first, n) || TextNumber(text, n));
  };
  if (number(kEventId)) e.eventId = static_cast<std::uint16_t>(n);
  if (number(kQualifiers)) e.qualifiers = static_cast<std::uint16_t>(n);
  if (number(kLevel)) e.level = static_cast<std::uint8_t>(n);
  if (number(kTask)) e.task = static_cast<std::uint16_t>(n);
  if (number(kKeywords)) e.keywords = n;
  // A field a nested template does not have keeps what the outer one gave.
  auto textOf = [&](Slot slot, std::u16string& out) {
    return plan.fields[slot].empty() || Evaluate(plan.fields[slot], values, out, first);
  };
  if (!textOf(kProvider, e.provider) || !textOf(kSourceName, e.eventSourceName) ||
      !textOf(kComputer, e.computer) || !textOf(kMessage, e.message)) {
    return false;
  }
  if (!plan.fields[kSystemTime].empty()) {
    if (!single(kSystemTime) && !Evaluate(plan.fields[kSystemTime], values, text, first))
      return false;
    if (first.type == kBinXmlFileTime && first.bytes.size() == 8) {
      e.timeCreated = Le64(first.bytes.data());
    } else if (first.type == kBinXmlSysTime && first.bytes.size() == 16) {
      e.timeCreated = SysTimeToFileTime(first.bytes.data());
    }
  }
  if (!plan.fields[kUserId].empty()) {
    const bool sid = single(kUserId) && first.type == kBinXmlSid;
    if (!sid && !Evaluate(plan.fields[kUserId], values, text, first)) return false;
    if (first.type == kBinXmlSid) {
      e.userSid.assign(first.bytes.begin(), first.bytes.end());
    } else if (!text.empty()) {
      ParseSidText(text, e.userSid);
    }
  }
  return true;
}

constexpr int kMaxNesting = 8;

}  // namespace

EvtxEventReader::EvtxEventReader(std::span<const std::uint8_t> chunk)
    : chunk_(chunk), walker_(chunk), nested_(kMaxNesting + 1) {}
EvtxEventReader::~EvtxEventReader() = default;

bool EvtxEventReader::Apply(std::uint32_t definition, std::string_view context,
                            std::span<const BinXmlValue> values, EvtxEvent& event, int depth) {
  planKey_.assign(reinterpret_cast<const char*>(&definition), sizeof definition);
  planKey_.append(context);
  auto found = plans_.find(planKey_);
  if (found == plans_.end()) found = plans_.emplace(planKey_, nullptr).first;
  std::unique_ptr<EvtxPlan>& plan = found->second;
  if (!plan) {
    plan = std::make_unique<EvtxPlan>();
    PlanSink sink(*plan, fields_, context);
    // A template that holds instances of its own is walked with each event.
    if (!walker_.WalkTemplate(definition, sink)) plan->sawElement = false;
  }
  return plan->sawElement && Apply(*plan, values, event, depth);
}

bool EvtxEventReader::Apply(const EvtxPlan& plan, std::span<const BinXmlValue> values,
                            EvtxEvent& event, int depth) {
  if (depth > kMaxNesting || !ApplyFields(plan, values, event, text_)) return false;
  BinXmlValue first;
  for (const EvtxPlan::Item& item : plan.items) {
    if (!item.nested) {
      if (!Evaluate(item.string, values, event.strings, first, true)) return false;
      event.strings.push_back(u'\0');
      ++event.stringCount;
      continue;
    }
    // Any other value in that place is no part of the fields.
    if (item.id >= values.size() || values[item.id].type != kBinXmlBinXml) continue;
    const std::span<const std::uint8_t> bytes = values[item.id].bytes;
    const std::size_t pos = static_cast<std::size_t>(bytes.data() - chunk_.data());
    std::uint32_t definition = 0;
    // Kept per depth from record to record: no allocation per event.
    std::vector<BinXmlValue>& nested = nested_[static_cast<std::size_t>(depth)];
    if (!walker_.SingleInstance(pos, pos + bytes.size(), definition, nested) ||
        !Apply(definition, item.context, nested, event, depth + 1)) {
      return false;
    }
  }
  return true;
}

namespace {

// Cleared field by field, so that the texts keep their room from record to record.
void ResetEvent(EvtxEvent& event) {
  event.timeCreated = 0;
  event.eventId = event.qualifiers = event.task = event.stringCount = 0;
  event.level = 0;
  event.keywords = 0;
  event.provider.clear();
  event.eventSourceName.clear();
  event.computer.clear();
  event.userSid.clear();
  event.strings.clear();
  event.message.clear();
}

}  // namespace

bool EvtxEventReader::Read(const EvtxRecord& record, EvtxEvent& event) {
  ResetEvent(event);
  // Nearly every event is one instance of a template the chunk defines once,
  // its EventData or UserData a nested instance of another: each template is
  // looked at once, and each event's values are only picked out. Anything
  // else is walked whole.
  std::uint32_t definition = 0;
  if (!walker_.SingleInstance(record.eventPos, record.eventEnd, definition, values_) ||
      !Apply(definition, {}, values_, event, 0)) {
    ResetEvent(event);
    EvtxPlan plan;
    PlanSink sink(plan, fields_);
    // Binary XML without an element holds no event.
    if (!walker_.Walk(record.eventPos, record.eventEnd, sink) || !plan.sawElement ||
        !Apply(plan, {}, event, 0)) {
      return false;
    }
  }
  // The record's own identifier, which the chunk headers count: EventRecordID
  // repeats it.
  event.recordId = record.id;
  if (event.timeCreated == 0) event.timeCreated = record.written;
  return true;
}

namespace {

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void AppendWide(std::vector<std::uint8_t>& out, std::u16string_view text) {
  const std::size_t at = out.size();
  out.resize(at + 2 * text.size());
  std::uint8_t* p = out.data() + at;
  for (char16_t c : text) {
    *p++ = static_cast<std::uint8_t>(c);
    *p++ = static_cast<std::uint8_t>(c >> 8);
  }
}

constexpr std::uint64_t kAuditFailure = 0x10000000000000ull;
constexpr std::uint64_t kAuditSuccess = 0x20000000000000ull;

std::uint16_t EventTypeOf(const EvtxEvent& e) {
  if (e.keywords & kAuditFailure) return 16;
  if (e.keywords & kAuditSuccess) return 8;
  switch (e.level) {
    case 1:
    case 2:
      return 1;
    case 3:
      return 2;
    default:
      return 4;
  }
}

}  // namespace

void BuildEventLogRecord(const EvtxEvent& e, std::vector<std::uint8_t>& out) {
  out.assign(kRecordHeaderSize, 0);
  const std::int64_t seconds = static_cast<std::int64_t>(e.timeCreated / 10000000) - 11644473600LL;
  Put32(out, 4, kRecordSignature);
  Put32(out, 8, static_cast<std::uint32_t>(e.recordId));
  Put32(out, 12, static_cast<std::uint32_t>(seconds));
  Put32(out, 16, static_cast<std::uint32_t>(seconds));
  Put32(out, 20, std::uint32_t{e.qualifiers} << 16 | e.eventId);
  Put16(out, 24, EventTypeOf(e));
  Put16(out, 26, e.stringCount);
  Put16(out, 28, e.task);
  Put16(out, 30, kRecordFlagWideNumber);
  Put32(out, 32, static_cast<std::uint32_t>(e.recordId >> 32));
  AppendWide(out, e.eventSourceName.empty() ? e.provider : e.eventSourceName);
  out.insert(out.end(), 2, 0);
  AppendWide(out, e.computer);
  out.insert(out.end(), 2, 0);
  const std::size_t sidOffset = out.size();
  out.insert(out.end(), e.userSid.begin(), e.userSid.end());
  const std::size_t stringOffset = out.size();
  AppendWide(out, e.strings);
  const std::size_t dataOffset = out.size();
  AppendWide(out, e.message);
  const std::size_t end = out.size();
  if (!e.message.empty()) Put16(out, 30, kRecordFlagWideNumber | kRecordFlagMessage);
  Put32(out, 36, static_cast<std::uint32_t>(stringOffset));
  Put32(out, 40, static_cast<std::uint32_t>(e.userSid.size()));
  Put32(out, 44, static_cast<std::uint32_t>(sidOffset));
  Put32(out, 48, static_cast<std::uint32_t>(end - dataOffset));
  Put32(out, 52, static_cast<std::uint32_t>(dataOffset));
  out.resize(end + 4);
  Put32(out, 0, static_cast<std::uint32_t>(out.size()));
  Put32(out, end, static_cast<std::uint32_t>(out.size()));
}

namespace {

class EvtxLog : public EventLog {
 public:
  explicit EvtxLog(std::unique_ptr<EvtxFile> file)
      : file_(std::move(file)), damaged_(file_->DamagedChunks()) {}

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    for (;;) {
      if (reader_ && next_ > 0) {
        const EvtxRecord& r = records_[--next_];
        if (!reader_->Read(r, event_)) {
          ++damaged_;
          continue;
        }
        BuildEventLogRecord(event_, buffer_);
        record = buffer_;
        return 0;
      }
      if (chunk_ >= file_->Chunks().size()) {
        // The damage is told once, after every record that could be read.
        if (damaged_ == 0) return kErrorHandleEof;
        damaged_ = 0;
        return kErrorEventlogFileCorrupt;
      }
      const EvtxChunkInfo& info = file_->Chunks()[chunk_++];
      reader_.reset();
      const auto bytes = file_->LoadChunk(info, records_, damaged_);
      if (!bytes) {
        ++damaged_;
        continue;
      }
      reader_.emplace(*bytes);
      next_ = records_.size();
    }
  }

 private:
  std::unique_ptr<EvtxFile> file_;
  std::size_t damaged_;
  std::size_t chunk_ = 0;
  std::vector<EvtxRecord> records_;
  std::size_t next_ = 0;
  std::optional<EvtxEventReader> reader_;
  EvtxEvent event_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<EventLog> OpenEvtxLog(std::unique_ptr<EvtxFile> file) {
  return std::make_unique<EvtxLog>(std::move(file));
}

}  // namespace zkq

namespace zkq {
namespace {

void AppendEscaped(std::u16string& out, std::u16string_view text, bool attribute) {
  for (char16_t c : text) {
    switch (c) {
      case u'&':
        out.append(u"&amp;");
        break;
      case u'<':
        out.append(u"&lt;");
        break;
      case u'>':
        out.append(u"&gt;");
        break;
      case u'"':
        if (attribute) {
          out.append(u"&quot;");
          break;
        }
        out.push_back(c);
        break;
      default:
        // XML has no way to write these, not even as references.
        out.push_back(c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r' ? u'?' : c);
    }
  }
}

// Writes the event as indented XML, one element a line, text inline.
class XmlSink : public BinXmlSink {
 public:
  explicit XmlSink(std::u16string& out) : out_(out) {}

  void StartElement(const BinXmlName& name) override {
    CloseStartTag();
    if (!stack_.empty()) {
      if (!stack_.back().hasChild && !stack_.back().hasText) out_.push_back(u'\n');
      stack_.back().hasChild = true;
    }
    out_.append(2 * stack_.size(), u' ');
    out_.push_back(u'<');
    out_.append(name.text);
    stack_.push_back({name.text, false, false});
    open_ = true;
  }
  void Attribute(const BinXmlName& name) override {
    FlushAttribute();
    attribute_ = name.text;
    inAttribute_ = true;
    attributeHasValue_ = false;
    value_.clear();
  }
  void StartContent() override { FlushAttribute(); }
  void EndElement() override {
    if (stack_.empty()) return;
    const Entry entry = stack_.back();
    stack_.pop_back();
    if (open_) {
      out_.append(u"/>\n");
      open_ = false;
      return;
    }
    if (entry.hasChild) out_.append(2 * stack_.size(), u' ');
    out_.append(u"</");
    out_.append(entry.name);
    out_.append(u">\n");
  }
  void Value(const BinXmlValue& value) override {
    text_.clear();
    AppendBinXmlValueText(text_, value);
    Text(text_, true);
  }
  void CharRef(std::uint16_t c) override {
    text_.clear();
    text_.append(u"&#");
    AppendDecimal(text_, c);
    text_.push_back(u';');
    Text(text_, false);
  }
  void EntityRef(const BinXmlName& name) override {
    text_.clear();
    text_.append(u"&");
    text_.append(name.text);
    text_.push_back(u';');
    Text(text_, false);
  }
  void CData(std::span<const std::uint8_t> utf16) override {
    text_.clear();
    text_.append(u"<![CDATA[");
    AppendBinXmlValueText(text_, {kBinXmlString, utf16});
    text_.append(u"]]>");
    Text(text_, false);
  }
  void ProcessingInstruction(const BinXmlName& target,
                             std::span<const std::uint8_t> utf16) override {
    text_.clear();
    text_.append(u"<?");
    text_.append(target.text);
    text_.push_back(u' ');
    AppendBinXmlValueText(text_, {kBinXmlString, utf16});
    text_.append(u"?>");
    if (stack_.empty()) {
      out_.append(text_);
      out_.push_back(u'\n');
      return;
    }
    Text(text_, false);
  }

 private:
  struct Entry {
    std::u16string_view name;
    bool hasChild, hasText;
  };

  void Text(std::u16string_view text, bool escape) {
    if (inAttribute_) {
      attributeHasValue_ = true;
      if (escape) {
        AppendEscaped(value_, text, true);
      } else {
        value_.append(text);
      }
      return;
    }
    CloseStartTag();
    if (!stack_.empty()) stack_.back().hasText = true;
    if (escape) {
      AppendEscaped(out_, text, false);
    } else {
      out_.append(text);
    }
  }
  void FlushAttribute() {
    if (inAttribute_ && attributeHasValue_) {
      out_.push_back(u' ');
      out_.append(attribute_);
      out_.append(u"=\"");
      out_.append(value_);
      out_.push_back(u'"');
    }
    inAttribute_ = false;
  }
  void CloseStartTag() {
    FlushAttribute();
    if (open_) {
      out_.push_back(u'>');
      open_ = false;
    }
  }

  std::u16string& out_;
  std::vector<Entry> stack_;
  bool open_ = false;
  bool inAttribute_ = false, attributeHasValue_ = false;
  std::u16string_view attribute_;
  std::u16string value_, text_;
};

}  // namespace

bool EvtxEventReader::AppendXml(const EvtxRecord& record, std::u16string& xml) {
  const std::size_t at = xml.size();
  XmlSink sink(xml);
  return walker_.Walk(record.eventPos, record.eventEnd, sink) && xml.size() != at;
}

std::unique_ptr<EvtxFile> OpenEvtxFile(const std::filesystem::path& path) {
  FilePtr file = OpenFileForReading(path);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!file || ec) return nullptr;
  return EvtxFile::Open(std::make_unique<FileSource>(
      std::move(file), static_cast<std::size_t>(size), kEvtxChunkHeaderSize));
}

std::size_t ForEachEvtxXml(EvtxFile& file, const std::function<void(std::u16string_view)>& onXml) {
  std::size_t damaged = file.DamagedChunks();
  std::vector<EvtxRecord> records;
  std::u16string xml;
  for (const EvtxChunkInfo& info : file.Chunks()) {
    const auto bytes = file.LoadChunk(info, records, damaged);
    if (!bytes) {
      ++damaged;
      continue;
    }
    EvtxEventReader reader(*bytes);
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
      xml.clear();
      if (reader.AppendXml(*r, xml)) {
        onXml(xml);
      } else {
        ++damaged;
      }
    }
  }
  return damaged;
}

}  // namespace zkq
