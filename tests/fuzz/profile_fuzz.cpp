// Arbitrary bytes as a settings file: reading never fails, a written key reads
// back as written, and a write changes no other key.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/profile.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

bool Check(bool ok) {
  if (!ok) std::abort();
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const char* const sections[] = {"zkQuorvane", "ZKQUORVANE", "s"};
  const char* const keys[] = {"Interval", "interval", "Subject", "k"};
  const std::uint8_t choice = data[0];
  const std::string section = sections[(choice & 3) % 3];
  const std::string key = keys[(choice >> 2) & 3];

  // The value is taken from the front of the input, the file is the rest.
  const std::size_t valueLength = std::min<std::size_t>(data[1], size - 2) + (choice >> 7) * 60;
  std::string value;
  for (std::size_t i = 0; i < valueLength; ++i) {
    const char c = static_cast<char>(data[2 + i % (size - 2)]);
    value += (c == '\r' || c == '\n' || c == '\0') ? 'x' : c;
  }
  const std::string content(reinterpret_cast<const char*>(data) + 2, size - 2);

  const char* const probes[] = {"Interval", "Subject", "k", "From", "To"};
  std::string before[3][5];
  for (int s = 0; s < 3; ++s) {
    for (int p = 0; p < 5; ++p) {
      before[s][p] = zkq::profile::ReadFrom(content, sections[s], probes[p]);
      Check(before[s][p].size() <= 254);
      Check(before[s][p].find('\0') == std::string::npos);
    }
  }

  std::string copy = content;
  Check(zkq::profile::UpdateContent(copy, section, key, value));

  const std::string back = zkq::profile::ReadFrom(copy, section, key);
  const bool plain = value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()) &&
                                       value.front() != '"' && value.front() != '\'');
  if (plain) {
    if (value.size() <= 254) {
      Check(back == value);
    } else {
      // Cut at 254 bytes, one less when a double-byte character straddles the end.
      Check(value.compare(0, back.size(), back) == 0);
      Check(back.size() == 254 || back.size() == 253);
    }
  }

  // Every other key of every section reads as before.
  const auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 0x20) : c; };
      if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
  };
  for (int s = 0; s < 3; ++s) {
    for (int p = 0; p < 5; ++p) {
      if (same(sections[s], section) && same(probes[p], key)) continue;
      Check(zkq::profile::ReadFrom(copy, sections[s], probes[p]) == before[s][p]);
    }
  }
  return 0;
}
