#include "eventlog/evt_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <utility>

#include "base/text.h"
#include "eventlog/byte_source.h"
#include "eventlog/evtx_file.h"
#include "eventlog/record.h"

namespace zkq {
namespace {

constexpr std::uint32_t kEofMagic[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};

// Positions inside the ring of record space, [kEvtHeaderSize, file size).
class Ring {
 public:
  explicit Ring(const ByteSource& store) : store_(store), size_(store.Size()) {}
  std::size_t Size() const { return size_ - kEvtHeaderSize; }
  bool Contains(std::uint64_t pos) const { return pos >= kEvtHeaderSize && pos < size_; }
  std::size_t Forward(std::size_t pos, std::size_t n) const {
    return kEvtHeaderSize + (pos - kEvtHeaderSize + n) % Size();
  }
  std::size_t Back(std::size_t pos, std::size_t n) const {
    return kEvtHeaderSize + (pos - kEvtHeaderSize + Size() - n % Size()) % Size();
  }
  // 0 when the bytes cannot be read, which no length or signature is.
  std::uint32_t U32(std::size_t pos) const {
    if (pos + 4 <= size_) {
      const std::uint8_t* p = store_.At(pos, 4);
      return p ? Le32(p) : 0;
    }
    std::uint8_t b[4];
    for (std::size_t i = 0; i < 4; ++i) {
      const std::uint8_t* p = store_.At(Forward(pos, i), 1);
      if (!p) return 0;
      b[i] = *p;
    }
    return Le32(b);
  }
  // Copies n bytes from pos on, wrapping at the end of the file.
  bool Copy(std::size_t pos, std::size_t n, std::vector<std::uint8_t>& out) const {
    out.resize(n);
    const std::size_t first = std::min(n, size_ - pos);
    const std::uint8_t* head = store_.At(pos, first);
    if (!head) return false;
    std::copy_n(head, first, out.data());
    if (n == first) return true;
    const std::uint8_t* tail = store_.At(kEvtHeaderSize, n - first);
    if (!tail) return false;
    std::copy_n(tail, n - first, out.data() + first);
    return true;
  }
  // The n bytes at pos when they do not wrap; nullptr otherwise.
  const std::uint8_t* Contiguous(std::size_t pos, std::size_t n) const {
    return pos + n <= size_ ? store_.At(pos, n) : nullptr;
  }

 private:
  const ByteSource& store_;
  std::size_t size_;
};

struct EofRecord {
  std::size_t pos = 0;
  std::uint32_t beginRecord = 0, endRecord = 0, currentRecordNumber = 0, oldestRecordNumber = 0;
};

bool ReadEof(const Ring& ring, std::size_t pos, EofRecord& eof) {
  if (ring.Size() < kEvtEofRecordSize || !ring.Contains(pos)) return false;
  if (ring.U32(pos) != kEvtEofRecordSize || ring.U32(ring.Forward(pos, 36)) != kEvtEofRecordSize) {
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
  static constexpr std::uint8_t kPattern[20] = {0x28, 0,    0,    0,    0x11, 0x11, 0x11,
                                                0x11, 0x22, 0x22, 0x22, 0x22, 0x33, 0x33,
                                                0x33, 0x33, 0x44, 0x44, 0x44, 0x44};
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
  for (std::size_t pos = size > kEvtHeaderSize + 20 ? size - 19 : kEvtHeaderSize; pos < size;
       ++pos) {
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

class FailedLog : public EventLog {
 public:
  explicit FailedLog(std::uint32_t code) : code_(code) {}
  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    return std::exchange(code_, kErrorHandleEof);
  }

 private:
  std::uint32_t code_;
};

// A log cut short (a truncated copy, or one whose end-of-file record is gone):
// the complete records from the header's oldest record on, without wrapping,
// given newest first; then the log is reported as corrupt, because what came
// after the cut is lost.
class TruncatedLog : public EventLog {
 public:
  TruncatedLog(std::vector<std::uint8_t> bytes, std::size_t begin) : bytes_(std::move(bytes)) {
    std::size_t pos = begin;
    std::uint32_t number = 0;
    while (pos + kRecordHeaderSize + 4 <= bytes_.size()) {
      const std::uint32_t length = Le32(bytes_.data() + pos);
      if (length < kRecordHeaderSize + 4 || length > bytes_.size() - pos ||
          Le32(bytes_.data() + pos + 4) != kRecordSignature ||
          Le32(bytes_.data() + pos + length - 4) != length) {
        break;
      }
      // As in a whole log, a record whose number breaks the sequence is no
      // record of this log.
      const std::uint32_t next = Le32(bytes_.data() + pos + 8);
      if (!starts_.empty() && next != number + 1) break;
      number = next;
      starts_.push_back(pos);
      pos += length;
    }
  }

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    if (starts_.empty()) return std::exchange(code_, kErrorHandleEof);
    const std::size_t start = starts_.back();
    starts_.pop_back();
    record = std::span<const std::uint8_t>(bytes_.data() + start, Le32(bytes_.data() + start));
    return 0;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<std::size_t> starts_;
  std::uint32_t code_ = kErrorEventlogFileCorrupt;
};

class EvtFileLog : public EventLog {
 public:
  EvtFileLog(std::vector<std::uint8_t> bytes, const EofRecord& eof)
      : bytes_(std::move(bytes)), store_(std::make_unique<MemorySource>(bytes_)) {
    Begin(eof);
  }
  EvtFileLog(std::unique_ptr<ByteSource> store, const EofRecord& eof) : store_(std::move(store)) {
    Begin(eof);
  }

  std::uint32_t ReadNext(std::span<const std::uint8_t>& record) override {
    record = {};
    if (done_) return kErrorHandleEof;
    const Ring ring(*store_);
    const std::uint32_t length = ring.U32(ring.Back(pos_, 4));
    if (length < kRecordHeaderSize + 4 || length > budget_) return Corrupt();
    const std::size_t start = ring.Back(pos_, length);
    if (ring.U32(start) != length || ring.U32(ring.Forward(start, 4)) != kRecordSignature ||
        ring.U32(ring.Forward(start, 8)) != expected_) {
      return Corrupt();
    }
    if (const std::uint8_t* whole = ring.Contiguous(start, length)) {
      record = std::span<const std::uint8_t>(whole, length);
    } else if (ring.Copy(start, length, wrapped_)) {
      record = wrapped_;
    } else {
      return Corrupt();
    }
    budget_ -= length;
    done_ = start == begin_ || expected_ <= oldest_ || expected_ == 1;
    pos_ = start;
    --expected_;
    return 0;
  }

 private:
  void Begin(const EofRecord& eof) {
    pos_ = eof.pos;
    begin_ = eof.beginRecord;
    expected_ = eof.currentRecordNumber - 1;
    oldest_ = eof.oldestRecordNumber;
    // The end-of-file record sitting where the oldest record would begin, or
    // equal record numbers, mean the log has no records.
    done_ = eof.pos == eof.beginRecord || eof.currentRecordNumber <= eof.oldestRecordNumber ||
            eof.currentRecordNumber <= 1;
    const Ring ring(*store_);
    budget_ = ring.Size() >= kEvtEofRecordSize ? ring.Size() - kEvtEofRecordSize : 0;
  }

  std::uint32_t Corrupt() {
    done_ = true;
    return kErrorEventlogFileCorrupt;
  }

  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<ByteSource> store_;
  std::vector<std::uint8_t> wrapped_;
  std::size_t pos_ = 0;
  std::size_t begin_ = 0;
  std::uint32_t expected_ = 0;
  std::uint32_t oldest_ = 0;
  std::size_t budget_ = 0;
  bool done_ = false;
};

bool IsEvtHeader(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= kEvtHeaderSize && Le32(bytes.data()) == kEvtHeaderSize &&
         Le32(bytes.data() + 4) == kRecordSignature;
}

}  // namespace

std::unique_ptr<EventLog> EmptyEventLog() { return std::make_unique<EmptyLog>(); }

std::unique_ptr<EventLog> FailedEventLog(std::uint32_t code) {
  return std::make_unique<FailedLog>(code);
}

std::unique_ptr<EventLog> OpenEvtBytes(std::vector<std::uint8_t> bytes) {
  if (!IsEvtHeader(bytes)) return nullptr;
  const MemorySource store(bytes);
  const Ring ring(store);
  // Every log ends in its end-of-file record, even an empty one; a file too
  // short to hold one was cut short.
  if (ring.Size() < kEvtEofRecordSize)
    return std::make_unique<TruncatedLog>(std::move(bytes), kEvtHeaderSize);

  EofRecord eof;
  const std::uint32_t endOffset = Le32(bytes.data() + 20);
  const std::uint32_t flags = Le32(bytes.data() + 36);
  // A clean header names its end-of-file record; a dirty one may point anywhere.
  const bool trustHeader = (flags & kEvtFlagDirty) == 0 && ReadEof(ring, endOffset, eof);
  if (!trustHeader && !FindEof(bytes, ring, eof)) {
    // No end-of-file record at all: the copy was cut short. Its complete
    // records start at the header's oldest record.
    const std::uint32_t begin = Le32(bytes.data() + 16);
    return std::make_unique<TruncatedLog>(std::move(bytes),
                                          ring.Contains(begin) ? begin : kEvtHeaderSize);
  }
  return std::make_unique<EvtFileLog>(std::move(bytes), eof);
}

EvtOpenResult OpenEvtFile(const std::filesystem::path& path) {
  EvtOpenResult result;
  auto fail = [&result](EvtOpenError error, std::uint32_t code) {
    result.error = error;
    result.code = code;
    return std::move(result);
  };
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    return fail(EvtOpenError::Missing, kErrorFileNotFound);
  }
  if (ec) return fail(EvtOpenError::Unreadable, kErrorAccessDenied);
  // Opening a pipe would wait for a writer, and a device never ends.
  if (status.type() != std::filesystem::file_type::regular) {
    return fail(EvtOpenError::NotRegularFile, status.type() == std::filesystem::file_type::directory
                                                  ? kErrorAccessDenied
                                                  : kErrorEventlogFileCorrupt);
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return fail(EvtOpenError::Unreadable, kErrorReadFault);

  FilePtr file = OpenFileForReading(path);
  if (!file) {
    return fail(EvtOpenError::Unreadable,
                errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorReadFault);
  }
  std::vector<std::uint8_t> bytes(kEvtHeaderSize);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return fail(EvtOpenError::Unreadable, kErrorReadFault);
  bytes.resize(got);
  if (IsEvtxHeader(bytes)) {
    // Chunk headers are read one by one, and then only the chunks the reading needs.
    auto source = std::make_unique<FileSource>(std::move(file), static_cast<std::size_t>(size),
                                               kEvtxChunkHeaderSize);
    std::unique_ptr<EvtxFile> evtx = EvtxFile::Open(std::move(source));
    if (!evtx) return fail(EvtOpenError::NotEventLog, kErrorEventlogFileCorrupt);
    result.log = OpenEvtxLog(std::move(evtx));
    return result;
  }
  if (!IsEvtHeader(bytes)) return fail(EvtOpenError::NotEventLog, kErrorEventlogFileCorrupt);

  // The log holds at most its maximum size; a header whose offsets lie beyond
  // it (the size was lowered while the file was in use) is followed instead.
  // Offsets are 32-bit, so nothing past 4 GiB can belong to the log.
  std::uint64_t holds = Le32(bytes.data() + 32);
  for (std::size_t at : {16, 20})
    holds = std::max<std::uint64_t>(holds, Le32(bytes.data() + at) + kEvtEofRecordSize);
  const std::uint64_t toRead = std::min<std::uint64_t>(size, holds);
  // A clean header names its end-of-file record: the file is then read only
  // where the records asked for lie. A dirty one needs the whole file searched.
  if ((Le32(bytes.data() + 36) & kEvtFlagDirty) == 0 &&
      toRead >= kEvtHeaderSize + kEvtEofRecordSize) {
    auto store = std::make_unique<FileSource>(std::move(file), static_cast<std::size_t>(toRead));
    EofRecord eof;
    if (ReadEof(Ring(*store), Le32(bytes.data() + 20), eof)) {
      result.log = std::make_unique<EvtFileLog>(std::move(store), eof);
      return result;
    }
    file = std::move(*store).Release();
    if (!file || std::fseek(file.get(), kEvtHeaderSize, SEEK_SET) != 0) {
      return fail(EvtOpenError::Unreadable, kErrorReadFault);
    }
  }
  if (toRead > kEvtHeaderSize) {
    bytes.resize(static_cast<std::size_t>(toRead));
    const std::size_t rest =
        std::fread(bytes.data() + kEvtHeaderSize, 1, bytes.size() - kEvtHeaderSize, file.get());
    if (std::ferror(file.get())) return fail(EvtOpenError::Unreadable, kErrorReadFault);
    bytes.resize(kEvtHeaderSize + rest);
  }
  result.log = OpenEvtBytes(std::move(bytes));
  if (!result.log) return fail(EvtOpenError::NotEventLog, kErrorEventlogFileCorrupt);
  return result;
}

EvtFileSource::EvtFileSource(std::filesystem::path dir) : dir_(std::move(dir)) {}

std::filesystem::path EvtFileSource::PathOf(std::u16string_view logName) const {
  // A folder of today's logs holds .evtx files; one exported from an older
  // Windows holds .evt files. A channel's file is named as Windows names it,
  // "/" written as "%4": Microsoft-Windows-Windows Defender%4Operational.evtx.
  std::u16string base;
  for (const char16_t c : logName) {
    if (c == u'/') {
      base += u"%4";
    } else {
      base += c;
    }
  }
  const bool classic = logName == u"System" || logName == u"Security" || logName == u"Application";
  for (std::u16string_view extension : {u".evtx", u".evt"}) {
    const std::u16string name = base + std::u16string(extension);
    std::filesystem::path exact = dir_ / std::filesystem::path(name);
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    for (std::filesystem::directory_iterator it(dir_, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (SameNameIgnoringCase(it->path().filename().u16string(), name)) return it->path();
    }
  }
  return dir_ / std::filesystem::path(base + (classic ? u".evt" : u".evtx"));
}

std::unique_ptr<EventLog> EvtFileSource::Open(std::u16string_view, std::u16string_view logName,
                                              std::uint32_t&) {
  // A missing file is no empty log: the log it stands for is not being read.
  EvtOpenResult opened = OpenEvtFile(PathOf(logName));
  if (opened.error != EvtOpenError::None) return FailedEventLog(opened.code);
  return std::move(opened.log);
}

}  // namespace zkq
