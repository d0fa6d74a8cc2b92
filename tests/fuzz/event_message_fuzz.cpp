// An event message and a record's strings of any content through the
// formatter and the alert's detail lines. The messages come from modules
// that third parties install, the strings from whoever writes to the log:
// nothing may hang, read out of bounds or break the limits of the lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "eventlog/event_message.h"
#include "eventlog/no_lookups.h"

namespace {

// One source whose message file holds the fuzzed message for every ID, and
// whose parameter file holds it too (so %%n resolves to it again).
class FuzzTables : public zkq::NoMessageTables {
 public:
  explicit FuzzTables(std::u16string message) : message_(std::move(message)) {}
  std::optional<std::u16string> SourceValue(std::u16string_view, std::u16string_view,
                                            std::u16string_view) override {
    return u"%SystemRoot%\\a.dll;b.dll";
  }
  std::u16string Environment(std::u16string_view) override { return u"C:\\Windows"; }
  std::optional<std::u16string> ModuleMessage(std::u16string_view path, std::uint32_t) override {
    if (path != u"b.dll") return std::nullopt;
    return message_;
  }
  std::optional<std::u16string> SystemMessage(std::uint32_t) override { return message_; }

 private:
  std::u16string message_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first half is the message, the rest the strings (NUL-separated).
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::size_t half = units.size() / 2;
  FuzzTables tables(units.substr(0, half));
  zkq::EventMessages messages(tables);
  std::u16string out;
  messages.AppendDetail(out, u"System", u"Source", 0x40001B7C, units.substr(half));

  // Every line is indented and ends in CR LF; no more lines or characters
  // than the limits allow.
  std::size_t lines = 0, chars = 0;
  for (std::size_t at = 0; at < out.size();) {
    const std::size_t end = out.find(u"\r\n", at);
    if (end == std::u16string::npos) std::abort();
    const std::u16string_view line(out.data() + at, end - at);
    if (!line.starts_with(zkq::kDetailIndent)) std::abort();
    for (char16_t c : line) {
      if (c < 0x20 || c == 0x7F) std::abort();  // a control character got through
    }
    chars += line.size() - std::char_traits<char16_t>::length(zkq::kDetailIndent);
    ++lines;
    at = end + 2;
  }
  if (lines > zkq::kDetailMaxLines || chars > zkq::kDetailMaxChars) std::abort();
  return 0;
}
