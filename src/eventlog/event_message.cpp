#include "eventlog/event_message.h"

#include "base/text.h"

namespace zkq {
namespace {

constexpr char16_t kCut[] = u"…";

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The record's strings, each ended by a NUL (the last one may lack it).
void SplitStrings(std::u16string_view strings, std::vector<std::u16string_view>& each) {
  each.clear();
  while (!strings.empty()) {
    const std::size_t nul = strings.find(u'\0');
    each.push_back(strings.substr(0, nul));
    strings = nul == std::u16string_view::npos ? u"" : strings.substr(nul + 1);
  }
}

// Expands the inserts and escapes of a message as FormatMessage does: %1 to
// %99 (a "!fmt!" after the number is dropped, since the strings are inserted
// as text), %n, %r, %t, %%, %., %! and %0 (the end). An insert the record has
// no string for, and an escape FormatMessage does not know, stay as written,
// so a message whose escapes were applied already comes out the same. "%%"
// before a digit is a parameter and stays for ResolveParameters.
void ExpandMessage(std::u16string& out, std::u16string_view message,
                   const std::vector<std::u16string_view>& inserts) {
  const std::size_t n = message.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t percent = message.find(u'%', i);
    if (percent == std::u16string_view::npos) {
      out.append(message.substr(i));
      return;
    }
    out.append(message.substr(i, percent - i));
    i = percent;
    if (i + 1 >= n) {
      out.push_back(u'%');
      return;
    }
    const char16_t c = message[i + 1];
    if (c >= u'1' && c <= u'9') {
      std::size_t j = i + 2;
      std::size_t number = c - u'0';
      if (j < n && IsDigit(message[j])) number = number * 10 + (message[j++] - u'0');
      if (j < n && message[j] == u'!') {
        const std::size_t close = message.find(u'!', j + 1);
        if (close != std::u16string_view::npos) j = close + 1;
      }
      if (number <= inserts.size()) {
        out.append(inserts[number - 1]);
      } else {
        out.append(message.substr(i, j - i));
      }
      i = j;
      continue;
    }
    switch (c) {
      case u'n':
        out.append(u"\r\n");
        break;
      case u'r':
        out.push_back(u'\r');
        break;
      case u't':
        out.push_back(u'\t');
        break;
      case u'.':
      case u'!':
        out.push_back(c);
        break;
      case u'0':
        return;
      case u'%':
        if (i + 2 < n && IsDigit(message[i + 2])) {
          out.append(u"%%");
        } else {
          out.push_back(u'%');
        }
        break;
      default:
        out.push_back(u'%');
        out.push_back(c);
        break;
    }
    i += 2;
  }
}

// The module paths of a registry value: split at ";", each trimmed and its
// %NAME% variables expanded. A variable that is not set stays as written, as
// Windows leaves it.
std::vector<std::u16string> ModulePaths(MessageTables& tables, std::u16string_view value) {
  std::vector<std::u16string> paths;
  while (!value.empty()) {
    const std::size_t semicolon = value.find(u';');
    const std::u16string_view part = TrimView(value.substr(0, semicolon));
    value = semicolon == std::u16string_view::npos ? u"" : value.substr(semicolon + 1);
    std::u16string path;
    for (std::size_t i = 0; i < part.size();) {
      const std::size_t open = part.find(u'%', i);
      const std::size_t close =
          open == std::u16string_view::npos ? open : part.find(u'%', open + 1);
      if (close == std::u16string_view::npos) {
        path.append(part.substr(i));
        break;
      }
      path.append(part.substr(i, open - i));
      const std::u16string_view name = part.substr(open + 1, close - open - 1);
      const std::u16string expanded = name.empty() ? u"" : tables.Environment(name);
      if (expanded.empty()) {
        path.append(part.substr(open, close - open + 1));
      } else {
        path.append(expanded);
      }
      i = close + 1;
    }
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

// Puts the cut mark at the end of the last line appended since linesStart.
void MarkCut(std::u16string& out, std::size_t linesStart, std::size_t chars) {
  if (out.size() < linesStart + 2) return;
  out.resize(out.size() - 2);  // the line's CR LF
  if (chars >= kDetailMaxChars) {
    // No room left: the mark takes the last character's place.
    if (out.back() >= 0xDC00 && out.back() <= 0xDFFF) out.pop_back();
    out.pop_back();
  }
  out.append(kCut);
  out.append(u"\r\n");
}

}  // namespace

void AppendDetailLines(std::u16string& out, std::u16string_view text) {
  const std::size_t linesStart = out.size();
  std::size_t lines = 0, chars = 0;
  const char16_t* at = text.data();
  const char16_t* const end = at + text.size();
  while (at < end) {
    const char16_t* lineEnd = at;
    while (lineEnd < end && *lineEnd != u'\r' && *lineEnd != u'\n') ++lineEnd;
    std::u16string_view line(at, static_cast<std::size_t>(lineEnd - at));
    at = lineEnd + (lineEnd + 1 < end && lineEnd[0] == u'\r' && lineEnd[1] == u'\n' ? 2 : 1);
    // Trailing blanks and TABs show nothing, and would only use up the limit.
    while (!line.empty() && (line.back() == u' ' || line.back() == u'\t')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (lines == kDetailMaxLines) {
      MarkCut(out, linesStart, chars);
      return;
    }
    bool cut = false;
    if (chars + line.size() > kDetailMaxChars) {
      std::size_t keep = kDetailMaxChars - chars;
      if (keep == 0) {
        MarkCut(out, linesStart, chars);
        return;
      }
      keep -= 1;  // room for the mark
      if (keep > 0 && line[keep - 1] >= 0xD800 && line[keep - 1] <= 0xDBFF) --keep;
      line = line.substr(0, keep);
      cut = true;
    }
    out.append(kDetailIndent);
    const std::size_t from = out.size();
    out.resize(from + line.size());
    char16_t* to = out.data() + from;
    for (const char16_t c : line) {
      *to++ = c == u'\t' ? u' ' : IsControlCharacter(c) ? u'?' : c;
    }
    chars += line.size();
    ++lines;
    if (cut) out.append(kCut);
    out.append(u"\r\n");
    if (cut) return;
  }
}

void AppendJoinedStrings(std::u16string& out, std::u16string_view strings) {
  std::vector<std::u16string_view> each;
  SplitStrings(strings, each);
  bool first = true;
  for (const std::u16string_view one : each) {
    if (TrimView(one).empty()) continue;
    if (!first) out.append(u" / ");
    out.append(one);
    first = false;
  }
}

std::vector<std::u16string> EventMessages::Files(std::u16string_view logName,
                                                 std::u16string_view source,
                                                 std::u16string_view valueName) {
  const std::optional<std::u16string> value = tables_.SourceValue(logName, source, valueName);
  if (!value) return {};
  // A REG_EXPAND_SZ ends at its first NUL.
  return ModulePaths(tables_, std::u16string_view(*value).substr(0, value->find(u'\0')));
}

EventMessages::SourceFiles& EventMessages::Source(std::u16string_view logName,
                                                  std::u16string_view source) {
  key_.assign(logName);
  key_.push_back(u'\0');
  key_.append(source);
  auto it = sources_.find(key_);
  if (it == sources_.end()) {
    SourceFiles files;
    files.eventFiles = Files(logName, source, u"EventMessageFile");
    it = sources_.emplace(key_, std::move(files)).first;
  }
  return it->second;
}

const std::u16string* EventMessages::ModuleMessage(const std::vector<std::u16string>& files,
                                                   std::uint32_t id) {
  for (const std::u16string& path : files) {
    key_.assign(path);
    key_.push_back(u'\0');
    key_.push_back(static_cast<char16_t>(id >> 16));
    key_.push_back(static_cast<char16_t>(id & 0xFFFF));
    auto it = modules_.find(key_);
    if (it == modules_.end()) {
      loaded_ = true;
      it = modules_.emplace(key_, tables_.ModuleMessage(path, id)).first;
    }
    if (it->second) return &*it->second;
  }
  return nullptr;
}

const std::optional<std::u16string>& EventMessages::Parameter(SourceFiles& files,
                                                              std::u16string_view logName,
                                                              std::u16string_view source,
                                                              std::uint32_t number) {
  auto it = files.parameters.find(number);
  if (it != files.parameters.end()) return it->second;
  if (!files.parametersRead) {
    files.parameterFiles = Files(logName, source, u"ParameterMessageFile");
    files.parametersRead = true;
  }
  std::optional<std::u16string> raw;
  if (const std::u16string* message = ModuleMessage(files.parameterFiles, number)) {
    raw = *message;
  } else {
    raw = tables_.SystemMessage(number);
  }
  std::optional<std::u16string> text;
  if (raw) {
    // A parameter stands inside a sentence: its own escapes apply, the line
    // end its message table gives it does not.
    text.emplace();
    ExpandMessage(*text, *raw, {});
    while (!text->empty() &&
           (text->back() == u'\r' || text->back() == u'\n' || text->back() == u' ')) {
      text->pop_back();
    }
  }
  return files.parameters.emplace(number, std::move(text)).first->second;
}

void EventMessages::ResolveParameters(std::u16string_view expanded, SourceFiles& files,
                                      std::u16string_view logName, std::u16string_view source,
                                      std::u16string& text) {
  std::size_t i = 0;
  while (i < expanded.size()) {
    const std::size_t at = expanded.find(u"%%", i);
    if (at == std::u16string_view::npos) break;
    text.append(expanded.substr(i, at - i));
    std::size_t j = at + 2;
    std::uint64_t number = 0;
    while (j < expanded.size() && IsDigit(expanded[j]) && number <= UINT32_MAX) {
      number = number * 10 + (expanded[j++] - u'0');
    }
    const std::optional<std::u16string>* value = nullptr;
    if (j > at + 2 && number <= UINT32_MAX) {
      value = &Parameter(files, logName, source, static_cast<std::uint32_t>(number));
    }
    if (value != nullptr && *value) {
      text.append(**value);
    } else {
      // Left as written; a "%%" before no digit stays, the next "%" may begin one.
      text.append(expanded.substr(at, j == at + 2 ? 1 : j - at));
      if (j == at + 2) j = at + 1;
    }
    i = j;
  }
  if (i < expanded.size()) text.append(expanded.substr(i));
}

bool EventMessages::Format(std::u16string_view logName, std::u16string_view source,
                           std::uint32_t eventCode, std::u16string_view strings,
                           std::u16string& text) {
  SourceFiles& files = Source(logName, source);
  if (files.eventFiles.empty()) return false;
  auto known = files.messages.find(eventCode);
  if (known == files.messages.end()) {
    known = files.messages.emplace(eventCode, ModuleMessage(files.eventFiles, eventCode)).first;
  }
  if (known->second == nullptr) return false;

  SplitStrings(strings, inserts_);
  expanded_.clear();
  ExpandMessage(expanded_, *known->second, inserts_);
  text.clear();
  if (expanded_.find(u"%%") == std::u16string::npos) {
    text.append(expanded_);
  } else {
    ResolveParameters(expanded_, files, logName, source, text);
  }
  return true;
}

void EventMessages::AppendDetail(std::u16string& out, std::u16string_view logName,
                                 std::u16string_view source, std::uint32_t eventCode,
                                 std::u16string_view strings,
                                 std::uint64_t recordNumber) noexcept {
  const std::size_t before = out.size();
  try {
    if (Format(logName, source, eventCode, strings, scratch_)) {
      AppendDetailLines(out, scratch_);
      if (out.size() != before) return;
    } else if (recordNumber != 0 && Source(logName, source).eventFiles.empty()) {
      // Today's providers register a manifest, not a message file. What the
      // tables open for it is released with the modules.
      loaded_ = true;
      if (const auto message = tables_.PublisherMessage(logName, source, recordNumber)) {
        AppendDetailLines(out, *message);
        if (out.size() != before) return;
      }
    }
  } catch (...) {
    // A message that cannot be made (out of memory) gives way to the strings.
    out.resize(before);
  }
  try {
    scratch_.clear();
    AppendJoinedStrings(scratch_, strings);
    AppendDetailLines(out, scratch_);
  } catch (...) {
    out.resize(before);
  }
}

std::u16string_view EventMessages::TaskText(std::u16string_view logName, std::u16string_view source,
                                           std::uint64_t recordNumber,
                                           std::u16string_view fallback) noexcept {
  try {
    loaded_ = true;
    std::optional<std::u16string> task = tables_.PublisherTask(logName, source, recordNumber);
    if (!task) return fallback;
    // One line, as the category column is.
    for (char16_t& c : *task) {
      if (c < u' ') c = u' ';
    }
    task_ = Trim(*task);
    if (task_.empty()) return fallback;
    return task_;
  } catch (...) {
    return fallback;
  }
}

bool EventMessages::AppendCarriedMessage(std::u16string& out,
                                         std::u16string_view message) noexcept {
  const std::size_t before = out.size();
  try {
    AppendDetailLines(out, message);
  } catch (...) {
    out.resize(before);
  }
  return out.size() != before;
}

void EventMessages::Release() noexcept {
  sources_.clear();
  modules_.clear();
  if (loaded_) tables_.ReleaseModules();
  loaded_ = false;
}

}  // namespace zkq
