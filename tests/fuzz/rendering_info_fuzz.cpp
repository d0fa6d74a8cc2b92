// Any text as an event's XML (a forwarded event's comes from another
// machine): finding its rendered message never crashes and never makes more
// text than it was given; a message written with XML's escapes into
// RenderingInfo comes back as it was.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "eventlog/channel_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

  const std::optional<std::u16string> found = zkq::RenderingInfoMessage(text);
  if (found && found->size() > text.size()) std::abort();

  // The same text as a message, escaped as an XML writer escapes it.
  std::u16string message;
  for (const char16_t c : text) {
    if (c == 0 || (c < u' ' && c != u'\t' && c != u'\n') || c >= 0xD800) continue;
    message.push_back(c);
  }
  std::u16string xml = u"<Event><System><Channel>System</Channel></System>"
                       u"<RenderingInfo Culture='ja-JP'><Message>";
  for (const char16_t c : message) {
    switch (c) {
      case u'&': xml += u"&amp;"; break;
      case u'<': xml += u"&lt;"; break;
      case u'>': xml += u"&gt;"; break;
      default: xml.push_back(c);
    }
  }
  xml += u"</Message><Level>Information</Level></RenderingInfo></Event>";
  const std::optional<std::u16string> back = zkq::RenderingInfoMessage(xml);
  if (!message.empty() && (!back || *back != message)) std::abort();
  return 0;
}
