#pragma once
// The profile (INI) format on bytes in code page 932, read and written the way
// GetPrivateProfileStringA and WritePrivateProfileStringA treat a hand-edited
// file: names compared without regard to letter case, blanks around names and
// values dropped, one pair of matching quotes removed, the first of two equal
// sections or keys wins. No message is shown here and nothing throws.
#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zkq::profile {

// The value of key in section of the file's bytes, as GetPrivateProfileStringA
// leaves it in a zero-filled buffer of `size` bytes: at most size - 1 bytes,
// never half of a double-byte character, "" when the key is absent or empty.
std::string ReadFrom(std::string_view content, std::string_view section, std::string_view key,
                     std::size_t size = 255);

// The new file content after setting key in section: every other line stays as
// it was, the section is appended when missing. Nothing when the names or the
// value cannot be stored in the format (empty or blank names, CR, LF or NUL
// anywhere, "=" in a key, "]" in a section, a key starting with "[" or ";"):
// writing them would make the file say something else than what was asked.
bool UpdateContent(std::string& content, std::string_view section, std::string_view key,
                   std::string_view value);

// ReadFrom on the file; "" when it cannot be read.
std::string Read(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::size_t size = 255);

// Sets key in section of the file, creating the file and the section when
// missing. The new content goes to a temporary file beside it that is then
// renamed over the old one, so an interrupted write leaves the old file whole.
// False, with the file untouched, when it is read-only, its folder is missing,
// or any step fails.
bool Write(const std::filesystem::path& file, std::string_view section, std::string_view key,
           std::string_view value);

// Sets several keys of section in one write of the file, so that they are
// never found half written; false as Write, with the file untouched.
bool WriteMany(const std::filesystem::path& file, std::string_view section,
               std::span<const std::pair<std::string, std::string>> values);

// One key of a section, for a write that spans sections.
struct Entry {
  std::string section, key, value;
};
// Sets keys of several sections in one write of the file, as WriteMany.
bool WriteEntries(const std::filesystem::path& file, std::span<const Entry> entries);

}  // namespace zkq::profile
