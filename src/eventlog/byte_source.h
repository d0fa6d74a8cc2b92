#pragma once
// Where the bytes of a log file come from: memory, or the file itself, read in
// windows on demand so that a cycle reads only the parts it examines. The .evt
// and .evtx readers share it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace zkq {

// Little-endian numbers, as every log format stores them.
inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t Le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t Size() const = 0;
  // The n bytes at pos (pos + n <= Size()), valid until the next call;
  // nullptr when they cannot be read.
  virtual const std::uint8_t* At(std::size_t pos, std::size_t n) const = 0;
};

// Bytes held by someone else, who keeps them alive.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t Size() const override { return bytes_.size(); }
  const std::uint8_t* At(std::size_t pos, std::size_t) const override {
    return bytes_.data() + pos;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
};

// Bytes it owns.
class OwnedSource : public ByteSource {
 public:
  explicit OwnedSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::size_t Size() const override { return bytes_.size(); }
  const std::uint8_t* At(std::size_t pos, std::size_t) const override {
    return bytes_.data() + pos;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A log may reach 4 GiB and more, past what a long holds on Windows.
int SeekFile(std::FILE* file, std::uint64_t offset);

FilePtr OpenFileForReading(const std::filesystem::path& path);

// Reads the file in windows that end where the asked-for bytes end: a log read
// backwards finds the next record mostly in the window already, and a read of
// one whole .evtx chunk is one window.
class FileSource : public ByteSource {
 public:
  // window: the least that one read fetches.
  FileSource(FilePtr file, std::size_t size, std::size_t window = 64u << 10)
      : file_(std::move(file)), size_(size), windowSize_(window) {}
  std::size_t Size() const override { return size_; }
  FilePtr Release() && { return std::move(file_); }
  const std::uint8_t* At(std::size_t pos, std::size_t n) const override;

 private:
  FilePtr file_;
  std::size_t size_;
  std::size_t windowSize_;
  mutable std::vector<std::uint8_t> window_;
  mutable std::size_t windowStart_ = 0;
};

}  // namespace zkq
