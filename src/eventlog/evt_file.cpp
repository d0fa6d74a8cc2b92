#include "eventlog/evt_file.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "eventlog/record.h"

namespace zkq {
namespace {

constexpr std::uint32_t kEofMagic[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Positions inside the ring of record space, [kEvtHeaderSize, file size).
class Ring {
 public:
  explicit Ring(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t Size() const { return bytes_.size() - kEvtHeaderSize; }
  bool Contains(std::uint64_t pos) const { return pos >= kEvtHeaderSize && pos < bytes_.size(); }
  std::size_t Forward(std::size_t pos, std::size_t n) const {
    return kEvtHeaderSize + (pos - kEvtHeaderSize + n) % Size();
  }
  std::size_t Back(std::size_t pos, std::size_t n) const {
    return kEvtHeaderSize + (pos - kEvtHeaderSize + Size() - n % Size()) % Size();
  }
  std::uint32_t U32(std::size_t pos) const {
    if (pos + 4 <= bytes_.size()) return Le32(bytes_.data() + pos);
    std::uint8_t b[4];
    for (std::size_t i = 0; i < 4; ++i) b[i] = bytes_[Forward(pos, i)];
    return Le32(b);
  }
  // Copies n bytes from pos on, wrapping at the end of the file.
  void Copy(std::size_t pos, std::size_t n, std::vector<std::uint8_t>& out) const {
    out.resize(n);
    const std::size_t first = std::min(n, bytes_.size() - pos);
    std::copy_n(bytes_.data() + pos, first, out.data());
    std::copy_n(bytes_.data() + kEvtHeaderSize, n - first, out.data() + first);
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
};

struct EofRecord {
  std::size_t pos = 0;
  std::uint32_t beginRecord = 0, endRecord = 0, currentRecordNumber = 0, oldestRecordNumber = 0;
};

bool ReadEof(const Ring& ring, std::size_t pos, EofRecord& eof) {
  if (ring.Size() < kEvtEofRecordSize || !ring.Contains(pos)) return false;
  if (ring.U32(pos) != kEvtEofRecordSize ||
      ring.U32(ring.Forward(pos, 36)) != kEvtEofRecordSize) {
    return false;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    if (ring.U32(ring.Forward(pos, 4 + 4 * i)) != kEofMagic[i]) return false;
  }
  eof.pos = pos;
  eof.beginRecord = ring.U32(ring.Forward(pos, 20));
  eof.endRecord = ring.U32(ring.Forward(pos, 24));
  eof.currentRecordNumber = ring.U32(ring.Forward(pos, 28));
  eof.oldestRecordNumber = ring.U32(ring.Forward(pos, 32));
  return true;
}

// Every end-of-file record in the ring; the one with the highest record number
// is the live one (older ones can survive in the unused space).
bool FindEof(const std::vector<std::uint8_t>& bytes, const Ring& ring, EofRecord& best) {
  bool found = false;
  auto consider = [&](std::size_t pos) {
    EofRecord eof;
    if (ReadEof(ring, pos, eof) && (!found || eof.currentRecordNumber > best.currentRecordNumber)) {
      best = eof;
      found = true;
    }
  };
  static constexpr std::uint8_t kPattern[20] = {0x28, 0, 0, 0, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22,
                                                0x22, 0x22, 0x33, 0x33, 0x33, 0x33, 0x44, 0x44,
                                                0x44, 0x44};
  const std::boyer_moore_horspool_searcher searcher(std::begin(kPattern), std::end(kPattern));
  auto from = bytes.begin() + kEvtHeaderSize;
  for (;;) {
    auto hit = std::search(from, bytes.end(), searcher);
    if (hit == bytes.end()) break;
    consider(static_cast<std::size_t>(hit - bytes.begin()));
    from = hit + 1;
  }
  // A record that itself wraps around the end of the file.
  const std::size_t size = bytes.size();
  for (std::size_t pos = size > kEvtHeaderSize + 20 ? size - 19 : kEvtHeaderSize; pos < size; ++pos) {
    consider(pos);
  }
  return found;
}

class EmptyLog : public EventLog {
 public:
  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    return kErrorHandleEof;
  }
};

class EvtFileLog : public EventLog {
 public:
  EvtFileLog(std::vector<std::uint8_t> bytes, const EofRecord& eof)
      : bytes_(std::move(bytes)),
        pos_(eof.pos),
        begin_(eof.beginRecord),
        expected_(eof.currentRecordNumber - 1),
        oldest_(eof.oldestRecordNumber) {
    // The end-of-file record sitting where the oldest record would begin, or
    // equal record numbers, mean the log has no records.
    done_ = eof.pos == eof.beginRecord || eof.currentRecordNumber <= eof.oldestRecordNumber ||
            eof.currentRecordNumber <= 1;
    budget_ = Ring(bytes_).Size() >= kEvtEofRecordSize ? Ring(bytes_).Size() - kEvtEofRecordSize : 0;
  }

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    if (done_) return kErrorHandleEof;
    const Ring ring(bytes_);
    const std::uint32_t length = ring.U32(ring.Back(pos_, 4));
    if (length < kRecordHeaderSize + 4 || length > budget_) return Corrupt();
    const std::size_t start = ring.Back(pos_, length);
    if (ring.U32(start) != length || ring.U32(ring.Forward(start, 4)) != kRecordSignature ||
        ring.U32(ring.Forward(start, 8)) != expected_) {
      return Corrupt();
    }
    if (start + length <= bytes_.size()) {
      record = std::span<const std::uint8_t>(bytes_.data() + start, length);
    } else {
      ring.Copy(start, length, wrapped_);
      record = wrapped_;
    }
    budget_ -= length;
    done_ = start == begin_ || expected_ <= oldest_ || expected_ == 1;
    pos_ = start;
    --expected_;
    return 0;
  }

 private:
  std::uint32_t Corrupt() {
    done_ = true;
    return kErrorEventlogFileCorrupt;
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> wrapped_;
  std::size_t pos_;
  std::size_t begin_;
  std::uint32_t expected_;
  std::uint32_t oldest_;
  std::size_t budget_ = 0;
  bool done_ = false;
};

bool IsEvtHeader(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= kEvtHeaderSize && Le32(bytes.data()) == kEvtHeaderSize &&
         Le32(bytes.data() + 4) == kRecordSignature;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace

std::unique_ptr<EventLog> EmptyEventLog() { return std::make_unique<EmptyLog>(); }

std::unique_ptr<EventLog> OpenEvtBytes(std::vector<std::uint8_t> bytes) {
  if (!IsEvtHeader(bytes)) return nullptr;
  const Ring ring(bytes);
  if (ring.Size() < kEvtEofRecordSize) return EmptyEventLog();

  EofRecord eof;
  const std::uint32_t endOffset = Le32(bytes.data() + 20);
  const std::uint32_t flags = Le32(bytes.data() + 36);
  // A clean header names its end-of-file record; a dirty one may point anywhere.
  const bool trustHeader = (flags & kEvtFlagDirty) == 0 && ReadEof(ring, endOffset, eof);
  if (!trustHeader && !FindEof(bytes, ring, eof)) {
    // No end-of-file record at all: follow the header, and the record chain
    // check ends the reading where it is broken.
    if (!ring.Contains(endOffset)) return EmptyEventLog();
    eof.pos = endOffset;
    eof.beginRecord = Le32(bytes.data() + 16);
    eof.currentRecordNumber = Le32(bytes.data() + 24);
    eof.oldestRecordNumber = Le32(bytes.data() + 28);
  }
  return std::make_unique<EvtFileLog>(std::move(bytes), eof);
}

EvtOpenResult OpenEvtFile(const std::filesystem::path& path) {
  EvtOpenResult result;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    result.error = EvtOpenError::Missing;
    return result;
  }
  std::vector<std::uint8_t> bytes;
  std::FILE* file = nullptr;
#ifdef _WIN32
  file = _wfopen(path.c_str(), L"rb");
#else
  file = std::fopen(path.c_str(), "rb");
#endif
  bool ok = file != nullptr;
  if (ok) {
    bytes.reserve(static_cast<std::size_t>(std::filesystem::file_size(path, ec)));
    std::uint8_t chunk[1 << 16];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    ok = std::ferror(file) == 0;
    std::fclose(file);
  }
  if (!ok) {
    result.error = EvtOpenError::Unreadable;
    return result;
  }
  result.log = OpenEvtBytes(std::move(bytes));
  if (!result.log) result.error = EvtOpenError::NotEventLog;
  return result;
}

EvtFileSource::EvtFileSource(std::filesystem::path dir) : dir_(std::move(dir)) {}

std::filesystem::path EvtFileSource::PathOf(std::u16string_view logName) const {
  const std::u16string name = std::u16string(logName) + u".evt";
  std::filesystem::path exact = dir_ / std::filesystem::path(name);
  std::error_code ec;
  if (std::filesystem::exists(exact, ec)) return exact;
  for (std::filesystem::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    if (SameNameIgnoringCase(it->path().filename().u16string(), name)) return it->path();
  }
  return exact;
}

std::unique_ptr<EventLog> EvtFileSource::Open(std::u16string_view, std::u16string_view logName) {
  EvtOpenResult opened = OpenEvtFile(PathOf(logName));
  if (opened.error == EvtOpenError::Missing) return EmptyEventLog();
  return std::move(opened.log);
}

}  // namespace zkq
