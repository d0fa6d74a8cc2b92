#include "eventlog/binxml.h"

#include <charconv>
#include <cstring>

#include "eventlog/byte_source.h"

namespace zkq {
namespace {

// Deeper nesting or more tokens than any real record has: a hostile chunk
// whose templates refer to themselves would otherwise never end.
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxSteps = 1u << 18;

void AppendAscii(std::u16string& out, std::string_view text) {
  out.append(text.begin(), text.end());
}

template <class T>
void AppendInteger(std::u16string& out, T value) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  AppendAscii(out, std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
}

void AppendHex(std::u16string& out, std::uint64_t value) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
  out.append(u"0x");
  AppendAscii(out, std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
}

void AppendFixed(std::u16string& out, std::uint64_t value, int digits) {
  char buffer[24];
  for (int i = digits - 1; i >= 0; --i) {
    buffer[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  AppendAscii(out, std::string_view(buffer, static_cast<std::size_t>(digits)));
}

void AppendHexDigits(std::u16string& out, std::uint64_t value, int digits, bool upper) {
  const char* hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out.push_back(hex[(value >> shift) & 0xF]);
}

void AppendUtf16Text(std::u16string& out, std::span<const std::uint8_t> bytes) {
  std::size_t n = bytes.size() / 2;
  // Substituted strings often carry their NUL.
  while (n > 0 && Le16(bytes.data() + 2 * (n - 1)) == 0) --n;
  const std::size_t at = out.size();
  out.resize(at + n);
  for (std::size_t i = 0; i < n; ++i)
    out[at + i] = static_cast<char16_t>(Le16(bytes.data() + 2 * i));
}

// Days since 1970-01-01 to the civil date.
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

void AppendFileTime(std::u16string& out, std::uint64_t ft) {
  constexpr std::uint64_t kTicks = 10000000;
  const std::int64_t seconds = static_cast<std::int64_t>(ft / kTicks) - 11644473600LL;
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  AppendFixed(out, static_cast<std::uint64_t>(y), 4);
  out.push_back(u'-');
  AppendFixed(out, m, 2);
  out.push_back(u'-');
  AppendFixed(out, d, 2);
  out.push_back(u'T');
  AppendFixed(out, static_cast<std::uint64_t>(rest / 3600), 2);
  out.push_back(u':');
  AppendFixed(out, static_cast<std::uint64_t>(rest / 60 % 60), 2);
  out.push_back(u':');
  AppendFixed(out, static_cast<std::uint64_t>(rest % 60), 2);
  out.push_back(u'.');
  AppendFixed(out, ft % kTicks, 7);
  out.push_back(u'Z');
}

void AppendSysTime(std::u16string& out, const std::uint8_t* p) {
  AppendFixed(out, Le16(p), 4);
  out.push_back(u'-');
  AppendFixed(out, Le16(p + 2), 2);
  out.push_back(u'-');
  AppendFixed(out, Le16(p + 6), 2);
  out.push_back(u'T');
  AppendFixed(out, Le16(p + 8), 2);
  out.push_back(u':');
  AppendFixed(out, Le16(p + 10), 2);
  out.push_back(u':');
  AppendFixed(out, Le16(p + 12), 2);
  out.push_back(u'.');
  AppendFixed(out, Le16(p + 14), 3);
  out.push_back(u'Z');
}

void AppendGuid(std::u16string& out, const std::uint8_t* p) {
  out.push_back(u'{');
  AppendHexDigits(out, Le32(p), 8, true);
  out.push_back(u'-');
  AppendHexDigits(out, Le16(p + 4), 4, true);
  out.push_back(u'-');
  AppendHexDigits(out, Le16(p + 6), 4, true);
  out.push_back(u'-');
  for (int i = 8; i < 16; ++i) {
    if (i == 10) out.push_back(u'-');
    AppendHexDigits(out, p[i], 2, true);
  }
  out.push_back(u'}');
}

template <class Float>
void AppendReal(std::u16string& out, Float value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  AppendAscii(out, std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
}

// The size of one item of a fixed-size type; 0 for the others.
std::size_t ItemSize(std::uint8_t type, std::size_t total) {
  switch (type) {
    case kBinXmlInt8:
    case kBinXmlUInt8:
      return 1;
    case kBinXmlInt16:
    case kBinXmlUInt16:
      return 2;
    case kBinXmlInt32:
    case kBinXmlUInt32:
    case kBinXmlReal32:
    case kBinXmlBool:
    case kBinXmlHexInt32:
      return 4;
    case kBinXmlInt64:
    case kBinXmlUInt64:
    case kBinXmlReal64:
    case kBinXmlFileTime:
    case kBinXmlHexInt64:
      return 8;
    case kBinXmlGuid:
    case kBinXmlSysTime:
      return 16;
    case kBinXmlSizeT:
      return total == 4 ? 4 : 8;
    default:
      return 0;
  }
}

// One item of a scalar type, exactly its size.
void AppendScalar(std::u16string& out, std::uint8_t type, std::span<const std::uint8_t> b) {
  const std::uint8_t* p = b.data();
  switch (type) {
    case kBinXmlInt8:
      AppendInteger(out, static_cast<std::int8_t>(p[0]));
      break;
    case kBinXmlUInt8:
      AppendInteger(out, p[0]);
      break;
    case kBinXmlInt16:
      AppendInteger(out, static_cast<std::int16_t>(Le16(p)));
      break;
    case kBinXmlUInt16:
      AppendInteger(out, Le16(p));
      break;
    case kBinXmlInt32:
      AppendInteger(out, static_cast<std::int32_t>(Le32(p)));
      break;
    case kBinXmlUInt32:
      AppendInteger(out, Le32(p));
      break;
    case kBinXmlInt64:
      AppendInteger(out, static_cast<std::int64_t>(Le64(p)));
      break;
    case kBinXmlUInt64:
      AppendInteger(out, Le64(p));
      break;
    case kBinXmlReal32: {
      float f;
      std::memcpy(&f, p, 4);
      AppendReal(out, f);
      break;
    }
    case kBinXmlReal64: {
      double d;
      std::memcpy(&d, p, 8);
      AppendReal(out, d);
      break;
    }
    case kBinXmlBool:
      out.append(Le32(p) != 0 ? u"true" : u"false");
      break;
    case kBinXmlGuid:
      AppendGuid(out, p);
      break;
    case kBinXmlSizeT:
    case kBinXmlHexInt32:
    case kBinXmlHexInt64:
      AppendHex(out, b.size() == 4 ? Le32(p) : Le64(p));
      break;
    case kBinXmlFileTime:
      AppendFileTime(out, Le64(p));
      break;
    case kBinXmlSysTime:
      AppendSysTime(out, p);
      break;
    default:
      break;
  }
}

}  // namespace

bool AppendSidString(std::u16string& out, std::span<const std::uint8_t> sid) {
  if (sid.size() < 8) return false;
  const std::size_t count = sid[1];
  if (sid.size() < 8 + 4 * count) return false;
  out.append(u"S-");
  AppendInteger(out, sid[0]);
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[static_cast<std::size_t>(i)];
  out.push_back(u'-');
  AppendInteger(out, authority);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(u'-');
    AppendInteger(out, Le32(sid.data() + 8 + 4 * i));
  }
  return true;
}

void AppendBinXmlValueText(std::u16string& out, const BinXmlValue& value) {
  const std::span<const std::uint8_t> b = value.bytes;
  const std::uint8_t type = value.type & 0x7f;
  const bool array = (value.type & kBinXmlArray) != 0;
  switch (type) {
    case kBinXmlNull:
    case kBinXmlBinXml:
    case kBinXmlEvtHandle:
    case kBinXmlEvtXml:
      return;
    case kBinXmlString:
      if (!array) return AppendUtf16Text(out, b);
      // NUL-separated items.
      for (std::size_t i = 0, n = b.size() / 2, start = 0; i <= n; ++i) {
        if (i < n && Le16(b.data() + 2 * i) != 0) continue;
        if (i == n && i == start) break;
        if (start != 0) out.append(u", ");
        AppendUtf16Text(out, b.subspan(2 * start, 2 * (i - start)));
        start = i + 1;
      }
      return;
    case kBinXmlAnsiString:
      for (std::size_t i = 0, start = 0; i <= b.size(); ++i) {
        if (i < b.size() && b[i] != 0) continue;
        if (i == b.size() && i == start) break;
        if (start != 0) out.append(u", ");
        for (std::size_t j = start; j < i; ++j) out.push_back(static_cast<char16_t>(b[j]));
        if (!array) return;
        start = i + 1;
      }
      return;
    case kBinXmlBinary:
      for (std::uint8_t byte : b) AppendHexDigits(out, byte, 2, true);
      return;
    case kBinXmlSid:
      if (!array) {
        AppendSidString(out, b);
        return;
      }
      for (std::size_t at = 0; at + 8 <= b.size();) {
        const std::size_t own = 8 + 4 * std::size_t{b[at + 1]};
        if (at + own > b.size()) break;
        if (at != 0) out.append(u", ");
        AppendSidString(out, b.subspan(at, own));
        at += own;
      }
      return;
    default:
      break;
  }
  const std::size_t item = ItemSize(type, b.size());
  if (item == 0) return;
  if (!array) {
    if (b.size() >= item) AppendScalar(out, type, b.first(item));
    return;
  }
  for (std::size_t at = 0; at + item <= b.size(); at += item) {
    if (at != 0) out.append(u", ");
    AppendScalar(out, type, b.subspan(at, item));
  }
}

bool BinXmlValueNumber(const BinXmlValue& value, std::uint64_t& number) {
  const std::span<const std::uint8_t> b = value.bytes;
  switch (value.type) {
    case kBinXmlInt8:
    case kBinXmlUInt8:
      if (b.size() < 1) return false;
      number = b[0];
      return true;
    case kBinXmlInt16:
    case kBinXmlUInt16:
      if (b.size() < 2) return false;
      number = Le16(b.data());
      return true;
    case kBinXmlInt32:
    case kBinXmlUInt32:
    case kBinXmlHexInt32:
      if (b.size() < 4) return false;
      number = Le32(b.data());
      return true;
    case kBinXmlInt64:
    case kBinXmlUInt64:
    case kBinXmlHexInt64:
      if (b.size() < 8) return false;
      number = Le64(b.data());
      return true;
    case kBinXmlSizeT:
      if (b.size() != 4 && b.size() != 8) return false;
      number = b.size() == 4 ? Le32(b.data()) : Le64(b.data());
      return true;
    case kBinXmlString: {
      std::u16string text;
      AppendUtf16Text(text, b);
      std::string ascii;
      for (char16_t c : text) {
        if (c > 0x7f) return false;
        if (c != u' ') ascii.push_back(static_cast<char>(c));
      }
      const bool hex = ascii.size() > 2 && ascii[0] == '0' && (ascii[1] == 'x' || ascii[1] == 'X');
      const char* first = ascii.data() + (hex ? 2 : 0);
      const char* last = ascii.data() + ascii.size();
      const auto r = std::from_chars(first, last, number, hex ? 16 : 10);
      return r.ec == std::errc() && r.ptr == last && first != last;
    }
    default:
      return false;
  }
}

struct BinXmlWalker::Frame {
  std::size_t pos, end;
  std::size_t valueBase, valueCount;
  bool Has(std::size_t n) const { return n <= end - pos && pos <= end; }
};

BinXmlWalker::BinXmlWalker(std::span<const std::uint8_t> chunk) : chunk_(chunk) {}

bool BinXmlWalker::Walk(std::size_t pos, std::size_t end, BinXmlSink& sink) {
  if (end > chunk_.size() || pos > end) return false;
  sink_ = &sink;
  steps_ = 0;
  values_.clear();
  Frame f{pos, end, 0, 0};
  return Fragment(f, 0);
}

bool BinXmlWalker::Name(Frame& f, BinXmlName& name) {
  if (!f.Has(4)) return false;
  const std::uint32_t offset = Le32(chunk_.data() + f.pos);
  f.pos += 4;
  if (offset > chunk_.size() || chunk_.size() - offset < 8) return false;
  const std::size_t count = Le16(chunk_.data() + offset + 6);
  const std::size_t size = 8 + 2 * count + 2;
  if (chunk_.size() - offset < size) return false;
  // A name is written out where it is first used, and referred to after that.
  if (offset == f.pos) {
    if (!f.Has(size)) return false;
    f.pos += size;
  }
  Recent& recent = recent_[(offset >> 1) & 0x3FF];
  if (recent.offset != offset) {
    auto it = ids_.find(offset);
    if (it == ids_.end()) {
      std::u16string text(count, u'\0');
      for (std::size_t i = 0; i < count; ++i) {
        text[i] = static_cast<char16_t>(Le16(chunk_.data() + offset + 8 + 2 * i));
      }
      names_.push_back(std::move(text));
      it = ids_.emplace(offset, static_cast<std::uint32_t>(names_.size() - 1)).first;
    }
    recent = {offset, it->second};
  }
  name.id = recent.id;
  name.text = names_[recent.id];
  return true;
}

bool BinXmlWalker::Fragment(Frame& f, int depth) {
  if (depth > kMaxDepth) return false;
  while (f.pos < f.end) {
    if (++steps_ > kMaxSteps) return false;
    const std::uint8_t token = chunk_[f.pos];
    switch (token) {
      case 0x00:
        ++f.pos;
        return true;
      case 0x0f:
        if (!f.Has(4)) return false;
        f.pos += 4;
        break;
      case 0x0c:
        if (!TemplateInstance(f, depth + 1)) return false;
        break;
      case 0x01:
      case 0x41:
        if (!Element(f, depth + 1)) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool BinXmlWalker::Element(Frame& f, int depth) {
  if (depth > kMaxDepth) return false;
  const std::uint8_t token = chunk_[f.pos];
  // Token, dependency identifier, data size.
  if (!f.Has(7)) return false;
  f.pos += 7;
  BinXmlName name;
  if (!Name(f, name)) return false;
  sink_->StartElement(name);
  if (token & 0x40) {
    if (!f.Has(4)) return false;
    f.pos += 4;  // the attribute list's size
    while (f.pos < f.end && (chunk_[f.pos] == 0x06 || chunk_[f.pos] == 0x46)) {
      ++f.pos;
      BinXmlName attribute;
      if (!Name(f, attribute)) return false;
      sink_->Attribute(attribute);
      if (!Content(f, depth, true)) return false;
    }
  }
  if (!f.Has(1)) return false;
  const std::uint8_t close = chunk_[f.pos++];
  sink_->StartContent();
  if (close == 0x03) {
    sink_->EndElement();
    return true;
  }
  if (close != 0x02) return false;
  return Content(f, depth, false);
}

bool BinXmlWalker::Content(Frame& f, int depth, bool attribute) {
  for (;;) {
    if (++steps_ > kMaxSteps || f.pos >= f.end) return false;
    const std::uint8_t token = chunk_[f.pos];
    switch (token) {
      case 0x05:
      case 0x45: {
        if (!f.Has(4)) return false;
        const std::size_t count = Le16(chunk_.data() + f.pos + 2);
        f.pos += 4;
        if (!f.Has(2 * count)) return false;
        sink_->Value({kBinXmlString, chunk_.subspan(f.pos, 2 * count)});
        f.pos += 2 * count;
        break;
      }
      case 0x08:
      case 0x48:
        if (!f.Has(3)) return false;
        sink_->CharRef(Le16(chunk_.data() + f.pos + 1));
        f.pos += 3;
        break;
      case 0x09:
      case 0x49: {
        ++f.pos;
        BinXmlName entity;
        if (!Name(f, entity)) return false;
        sink_->EntityRef(entity);
        break;
      }
      case 0x0d:
      case 0x0e:
        if (!Substitution(f, depth, token == 0x0e)) return false;
        break;
      default:
        if (attribute) return true;
        switch (token) {
          case 0x01:
          case 0x41:
            if (!Element(f, depth + 1)) return false;
            break;
          case 0x04:
            ++f.pos;
            sink_->EndElement();
            return true;
          case 0x07:
          case 0x47: {
            if (!f.Has(3)) return false;
            const std::size_t count = Le16(chunk_.data() + f.pos + 1);
            f.pos += 3;
            if (!f.Has(2 * count)) return false;
            sink_->CData(chunk_.subspan(f.pos, 2 * count));
            f.pos += 2 * count;
            break;
          }
          case 0x0a: {
            ++f.pos;
            BinXmlName target;
            if (!Name(f, target)) return false;
            if (!f.Has(3) || chunk_[f.pos] != 0x0b) return false;
            const std::size_t count = Le16(chunk_.data() + f.pos + 1);
            f.pos += 3;
            if (!f.Has(2 * count)) return false;
            sink_->ProcessingInstruction(target, chunk_.subspan(f.pos, 2 * count));
            f.pos += 2 * count;
            break;
          }
          case 0x0c:
            if (!TemplateInstance(f, depth + 1)) return false;
            break;
          default:
            return false;
        }
    }
  }
}

bool BinXmlWalker::Substitution(Frame& f, int depth, bool optional) {
  if (!f.Has(4)) return false;
  const std::size_t id = Le16(chunk_.data() + f.pos + 1);
  f.pos += 4;
  if (compiling_) {
    sink_->Substitution(static_cast<std::uint16_t>(id), optional);
    return true;
  }
  // A substitution outside a template instance, or past its values, has no value.
  if (id >= f.valueCount) {
    if (!optional) sink_->Value({});
    return true;
  }
  const BinXmlValue value = values_[f.valueBase + id];
  if (optional && (value.type == kBinXmlNull || value.bytes.empty())) return true;
  if (value.type == kBinXmlBinXml) return Nested(value.bytes, depth + 1);
  sink_->Value(value);
  return true;
}

bool BinXmlWalker::Nested(std::span<const std::uint8_t> bytes, int depth) {
  if (depth > kMaxDepth) return false;
  const std::size_t pos = static_cast<std::size_t>(bytes.data() - chunk_.data());
  Frame inner{pos, pos + bytes.size(), values_.size(), 0};
  return Fragment(inner, depth);
}

bool BinXmlWalker::Instance(Frame& f, std::uint32_t& definition, std::size_t& dataSize) {
  // Token, a byte, the template's identifier, the definition's offset.
  if (!f.Has(10)) return false;
  definition = Le32(chunk_.data() + f.pos + 6);
  f.pos += 10;
  // The definition: next definition's offset, GUID, data size, data.
  if (definition > chunk_.size() || chunk_.size() - definition < 24) return false;
  dataSize = Le32(chunk_.data() + definition + 20);
  if (chunk_.size() - definition - 24 < dataSize) return false;
  if (definition == f.pos) {
    // Written out at its first use in the chunk.
    if (!f.Has(24 + dataSize)) return false;
    f.pos += 24 + dataSize;
  }
  if (!f.Has(4)) return false;
  const std::size_t count = Le32(chunk_.data() + f.pos);
  f.pos += 4;
  if (count > (f.end - f.pos) / 4) return false;
  const std::size_t base = values_.size();
  std::size_t data = f.pos + 4 * count;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* d = chunk_.data() + f.pos + 4 * i;
    const std::size_t size = Le16(d);
    if (f.end - data < size) {
      values_.resize(base);
      return false;
    }
    values_.push_back({d[2], chunk_.subspan(data, size)});
    data += size;
  }
  f.pos = data;
  return true;
}

bool BinXmlWalker::TemplateInstance(Frame& f, int depth) {
  if (depth > kMaxDepth || compiling_) return false;
  const std::size_t base = values_.size();
  std::uint32_t definition = 0;
  std::size_t dataSize = 0;
  if (!Instance(f, definition, dataSize)) return false;
  Frame body{definition + 24, definition + 24 + dataSize, base, values_.size() - base};
  const bool ok = Fragment(body, depth);
  values_.resize(base);
  return ok;
}

bool BinXmlWalker::SingleInstance(std::size_t pos, std::size_t end, std::uint32_t& definition,
                                  std::vector<BinXmlValue>& values) {
  values_.clear();
  if (end > chunk_.size() || pos > end) return false;
  // A nested value goes without the fragment header.
  if (end - pos >= 4 && chunk_[pos] == 0x0f) pos += 4;
  if (pos == end || chunk_[pos] != 0x0c) return false;
  Frame f{pos, end, 0, 0};
  std::size_t dataSize = 0;
  const bool ok = Instance(f, definition, dataSize) && (f.pos == f.end || chunk_[f.pos] == 0x00);
  values.swap(values_);
  values_.clear();
  return ok;
}

bool BinXmlWalker::WalkTemplate(std::uint32_t definition, BinXmlSink& sink) {
  if (definition > chunk_.size() || chunk_.size() - definition < 24) return false;
  const std::size_t dataSize = Le32(chunk_.data() + definition + 20);
  if (chunk_.size() - definition - 24 < dataSize) return false;
  sink_ = &sink;
  steps_ = 0;
  values_.clear();
  compiling_ = true;
  Frame body{definition + 24, definition + 24 + dataSize, 0, 0};
  const bool ok = Fragment(body, 0);
  compiling_ = false;
  return ok;
}

}  // namespace zkq
