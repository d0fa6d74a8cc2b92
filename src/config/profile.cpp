#include "config/profile.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "base/text.h"

namespace zkq::profile {
namespace {

namespace fs = std::filesystem;

// Code page 932 lead and trail bytes. Line breaks, blanks, "=", ";" and the
// quotes can never be the second byte of a character, so those are found on
// raw bytes; "[" and "]" can ("ー" ends in 0x5B), so brackets are searched
// character by character.
bool IsLead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrail(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// The byte length of the character at text[i].
std::size_t CharLength(std::string_view text, std::size_t i) {
  if (IsLead(static_cast<std::uint8_t>(text[i])) && i + 1 < text.size() &&
      IsTrail(static_cast<std::uint8_t>(text[i + 1]))) {
    return 2;
  }
  return 1;
}

// Blanks around names and values: the single-byte white space characters and
// Ctrl-Z, the end-of-file mark old editors leave behind. The ideographic space
// (0x81 0x40) is part of the text.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Everything after a NUL is invisible to the profile functions, which hand
// names and values around as C strings.
std::string_view UpToNul(std::string_view text) {
  const auto nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// Only ASCII letters compare without regard to case; a double-byte character
// (full-width letters included) must match byte for byte, as Wine's profile
// functions do. Windows may fold full-width letters too; the program's own
// names are all ASCII, so the two never disagree on them.
char Folded(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; }

bool SameName(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const std::size_t la = CharLength(a, i), lb = CharLength(b, j);
    if (la != lb) return false;
    if (la == 1 ? Folded(a[i]) != Folded(b[j]) : a.compare(i, 2, b, j, 2) != 0) return false;
    i += la;
    j += lb;
  }
  return i == a.size() && j == b.size();
}

enum class LineKind { Blank, Comment, Section, Key };

struct Line {
  std::size_t begin = 0, end = 0;  // the text, without its line break
  std::size_t next = 0;            // where the next line starts
  LineKind kind = LineKind::Blank;
  std::string_view name;                  // section or key name, trimmed
  std::optional<std::string_view> value;  // none for a line without "="
};

// The position of the closing bracket of a section line: the last "]" that is
// a character of its own.
std::size_t ClosingBracket(std::string_view text) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == ']' && CharLength(text, i) == 1) found = i;
  }
  return found;
}

Line ParseLine(std::string_view content, std::size_t begin, std::size_t end, std::size_t next) {
  Line line{begin, end, next, LineKind::Blank, {}, std::nullopt};
  const std::string_view text = Trim(content.substr(begin, end - begin));
  if (text.empty()) return line;
  if (text.front() == ';') {
    line.kind = LineKind::Comment;
    return line;
  }
  if (text.front() == '[') {
    const std::size_t close = ClosingBracket(text);
    // A "[" without its "]" is no section: the line is read as a key, as
    // Windows does.
    if (close != std::string_view::npos) {
      line.kind = LineKind::Section;
      line.name = UpToNul(Trim(text.substr(1, close - 1)));
      return line;
    }
  }
  line.kind = LineKind::Key;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    line.name = UpToNul(text);
  } else {
    line.name = UpToNul(Trim(text.substr(0, equals)));
    line.value = Trim(text.substr(equals + 1));
  }
  return line;
}

std::vector<Line> ParseLines(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  // A byte order mark left by an editor would otherwise spoil the first line.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < content.size()) {
    std::size_t end = content.find_first_of("\r\n", pos);
    std::size_t next;
    if (end == std::string_view::npos) {
      end = next = content.size();
    } else if (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') {
      next = end + 2;
    } else {
      next = end + 1;
    }
    lines.push_back(ParseLine(content, pos, end, next));
    pos = next;
  }
  return lines;
}

// The line break the file already uses; CR LF for a new file, as on Windows.
std::string_view LineBreakOf(std::string_view content) {
  const std::size_t at = content.find_first_of("\r\n");
  if (at == std::string_view::npos) return "\r\n";
  if (content[at] == '\n') return "\n";
  return (at + 1 < content.size() && content[at + 1] == '\n') ? "\r\n" : "\r";
}

struct Position {
  std::size_t section = 0;         // index of the section line
  std::size_t sectionEnd = 0;      // index of the first line after the section
  std::optional<std::size_t> key;  // index of the key line
};

std::optional<Position> Find(const std::vector<Line>& lines, std::string_view section,
                             std::string_view key) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::Section || !SameName(lines[i].name, section)) continue;
    // Only the first of two equal sections is ever looked at.
    Position at{i, lines.size(), std::nullopt};
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      if (lines[j].kind == LineKind::Section) {
        at.sectionEnd = j;
        break;
      }
      if (!at.key && lines[j].kind == LineKind::Key && SameName(lines[j].name, key)) at.key = j;
    }
    return at;
  }
  return std::nullopt;
}

// Drops one pair of equal quotes around the whole value; a lone or unmatched
// quote is part of the value.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// At most `limit` bytes, ending on a character boundary.
std::string_view Cut(std::string_view value, std::size_t limit) {
  std::size_t i = 0;
  while (i < value.size()) {
    const std::size_t length = CharLength(value, i);
    if (i + length > limit) break;
    i += length;
  }
  return value.substr(0, i);
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool Storable(std::string_view section, std::string_view key, std::string_view value) {
  if (Trim(section).empty() || Trim(key).empty()) return false;
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) {
    return false;
  }
  const std::string_view k = Trim(key);
  if (k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';') return false;
  for (std::size_t i = 0; i < section.size(); i += CharLength(section, i)) {
    if (section[i] == ']' && CharLength(section, i) == 1) return false;
  }
  return true;
}

// Whether the existing file may be replaced. A file without write permission
// (the read-only attribute on Windows) is refused even when the rename could
// replace it, and so is one that cannot be opened for writing right now.
bool Writable(const fs::path& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (ec || !fs::is_regular_file(status)) return false;
  if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) return false;
#if defined(_WIN32)
  std::FILE* f = _wfopen(file.c_str(), L"ab");
#else
  std::FILE* f = std::fopen(file.c_str(), "ab");
#endif
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

// The names and value, given in code page 932, in the encoding of a file that
// is UTF-8 (a settings file saved by today's Notepad).
std::string InFileEncoding(std::string_view cp932, TextEncoding encoding) {
  return encoding == TextEncoding::Cp932 ? std::string(cp932) : ToUtf8(DecodeCp932(cp932));
}

}  // namespace

std::string ReadFrom(std::string_view content, std::string_view section, std::string_view key,
                     std::size_t size) {
  if (size == 0) return {};
  const std::vector<Line> lines = ParseLines(content);
  const auto at = Find(lines, UpToNul(Trim(section)), UpToNul(Trim(key)));
  if (!at || !at->key || !lines[*at->key].value) return {};
  // Trimmed first and cut at a NUL afterwards, as the C strings of the system
  // functions see it; the quotes are looked for in what is left.
  const std::string_view value = Unquote(UpToNul(*lines[*at->key].value));
  return std::string(Cut(value, size - 1));
}

bool UpdateContent(std::string& content, std::string_view section, std::string_view key,
                   std::string_view value) {
  if (!Storable(section, key, value)) return false;
  section = Trim(section);
  key = Trim(key);
  const std::vector<Line> lines = ParseLines(content);
  const std::string lineBreak(LineBreakOf(content));
  const auto at = Find(lines, section, key);
  if (at && at->key) {
    // The key keeps the spelling the file gives it.
    const Line& line = lines[*at->key];
    std::string replacement(line.name);
    replacement += '=';
    replacement += value;
    content.replace(line.begin, line.end - line.begin, replacement);
    return true;
  }
  std::string entry(key);
  entry += '=';
  entry += value;
  entry += lineBreak;
  if (at) {
    // After the section's last non-blank line, so that the blank lines that
    // set the next section apart stay where they are.
    std::size_t last = at->section;
    for (std::size_t j = at->section + 1; j < at->sectionEnd; ++j) {
      if (lines[j].kind != LineKind::Blank) last = j;
    }
    const Line& after = lines[last];
    if (after.next == after.end) entry.insert(0, lineBreak);  // the file's last line had no break
    content.insert(after.next, entry);
    return true;
  }
  std::string block;
  if (!content.empty()) {
    if (content.back() != '\n' && content.back() != '\r') block += lineBreak;
    if (!lines.empty() && lines.back().kind != LineKind::Blank) block += lineBreak;
  }
  block += '[';
  block += section;
  block += ']';
  block += lineBreak;
  block += entry;
  content += block;
  return true;
}

std::string Read(const fs::path& file, std::string_view section, std::string_view key,
                 std::size_t size) {
  const auto content = ReadWholeFile(file);
  if (!content) return {};
  const TextEncoding encoding = DetectTextEncoding(*content);
  if (encoding == TextEncoding::Cp932) return ReadFrom(*content, section, key, size);
  // The value is handed on in code page 932 like that of any other file, cut
  // to the same size.
  const std::string value = ReadFrom(WithoutBom(*content), InFileEncoding(section, encoding),
                                     InFileEncoding(key, encoding), std::string::npos);
  return std::string(Cut(EncodeCp932(FromUtf8(value)), size - 1));
}

bool Write(const fs::path& file, std::string_view section, std::string_view key,
           std::string_view value) {
  const std::pair<std::string, std::string> one{std::string(key), std::string(value)};
  return WriteMany(file, section, std::span(&one, 1));
}

bool WriteMany(const fs::path& file, std::string_view section,
               std::span<const std::pair<std::string, std::string>> values) {
  std::vector<Entry> entries;
  entries.reserve(values.size());
  for (const auto& [key, value] : values) entries.push_back({std::string(section), key, value});
  return WriteEntries(file, entries);
}

bool WriteEntries(const fs::path& file, std::span<const Entry> entries) {
  std::error_code ec;
  const bool exists = fs::exists(file, ec);
  if (ec) return false;
  std::string content;
  if (exists) {
    if (!Writable(file)) return false;
    auto old = ReadWholeFile(file);
    if (!old) return false;
    content = std::move(*old);
  } else {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) return false;
  }
  // A file is written back in the encoding it was read in.
  const TextEncoding encoding = DetectTextEncoding(content);
  std::string body(WithoutBom(content));
  for (const auto& [section, key, value] : entries) {
    if (!UpdateContent(body, InFileEncoding(section, encoding), InFileEncoding(key, encoding),
                       InFileEncoding(value, encoding))) {
      return false;
    }
  }
  if (encoding == TextEncoding::Utf8Bom) body.insert(0, kUtf8Bom);
  return ReplaceFileAtomically(file, body);
}

}  // namespace zkq::profile
