#include "eventlog/byte_source.h"

#include <algorithm>

namespace zkq {

int SeekFile(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET);
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

FilePtr OpenFileForReading(const std::filesystem::path& path) {
#ifdef _WIN32
  return FilePtr(_wfopen(path.c_str(), L"rb"));
#else
  return FilePtr(std::fopen(path.c_str(), "rb"));
#endif
}

const std::uint8_t* FileSource::At(std::size_t pos, std::size_t n) const {
  if (pos >= windowStart_ && pos + n <= windowStart_ + window_.size()) {
    return window_.data() + (pos - windowStart_);
  }
  const std::size_t length = std::max(n, windowSize_);
  const std::size_t start = pos + n > length ? pos + n - length : 0;
  window_.resize(std::min(length, size_ - start));
  windowStart_ = start;
  if (SeekFile(file_.get(), start) != 0 ||
      std::fread(window_.data(), 1, window_.size(), file_.get()) != window_.size()) {
    window_.clear();
    return nullptr;
  }
  return window_.data() + (pos - windowStart_);
}

}  // namespace zkq
