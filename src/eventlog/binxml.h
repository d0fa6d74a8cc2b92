#pragma once
// Binary XML as .evtx chunks hold it: fragments, elements, attributes, values,
// CDATA, character and entity references, processing instructions, and
// template instances whose normal and optional substitutions take the values
// of the instance. Names and template definitions are found by their offset in
// the chunk, so the walker works on the whole chunk. It never reads outside it.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zkq {

// Value types of substitutions and values; an array type adds kBinXmlArray.
enum BinXmlType : std::uint8_t {
  kBinXmlNull = 0x00,
  kBinXmlString = 0x01,
  kBinXmlAnsiString = 0x02,
  kBinXmlInt8 = 0x03,
  kBinXmlUInt8 = 0x04,
  kBinXmlInt16 = 0x05,
  kBinXmlUInt16 = 0x06,
  kBinXmlInt32 = 0x07,
  kBinXmlUInt32 = 0x08,
  kBinXmlInt64 = 0x09,
  kBinXmlUInt64 = 0x0a,
  kBinXmlReal32 = 0x0b,
  kBinXmlReal64 = 0x0c,
  kBinXmlBool = 0x0d,
  kBinXmlBinary = 0x0e,
  kBinXmlGuid = 0x0f,
  kBinXmlSizeT = 0x10,
  kBinXmlFileTime = 0x11,
  kBinXmlSysTime = 0x12,
  kBinXmlSid = 0x13,
  kBinXmlHexInt32 = 0x14,
  kBinXmlHexInt64 = 0x15,
  kBinXmlEvtHandle = 0x20,
  kBinXmlBinXml = 0x21,
  kBinXmlEvtXml = 0x23,
  kBinXmlArray = 0x80,
};

struct BinXmlValue {
  std::uint8_t type = kBinXmlNull;
  std::span<const std::uint8_t> bytes;
};

// An element, attribute, entity or processing-instruction name. Within one
// walker (one chunk), id numbers the chunk's names from 0 in the order they
// are first met, so that a sink can keep what it knows of a name in a table.
struct BinXmlName {
  std::uint32_t id = 0;
  std::u16string_view text;
};

// What a walk finds, in document order. The values of one attribute come
// between its Attribute and the next Attribute, StartContent or EndElement.
class BinXmlSink {
 public:
  virtual ~BinXmlSink() = default;
  virtual void StartElement(const BinXmlName& name) = 0;
  virtual void Attribute(const BinXmlName& name) = 0;
  // The start tag is complete; content follows (none for an empty element).
  virtual void StartContent() {}
  virtual void EndElement() = 0;
  // Text and typed values; a nested BinXml value is walked, never handed out.
  virtual void Value(const BinXmlValue& value) = 0;
  virtual void CharRef(std::uint16_t) {}
  virtual void EntityRef(const BinXmlName&) {}
  virtual void CData(std::span<const std::uint8_t> /*utf16*/) {}
  virtual void ProcessingInstruction(const BinXmlName&, std::span<const std::uint8_t> /*utf16*/) {}
  // Only in WalkTemplate: where the instance's value id goes.
  virtual void Substitution(std::uint16_t /*id*/, bool /*optional*/) {}
};

class BinXmlWalker {
 public:
  // chunk: the whole chunk, which name and template offsets count from.
  explicit BinXmlWalker(std::span<const std::uint8_t> chunk);
  // Walks the fragment at [pos, end) of the chunk; false when it breaks off
  // (what was found before the break has been handed to the sink).
  bool Walk(std::size_t pos, std::size_t end, BinXmlSink& sink);

  // Binary XML that is one template instance and nothing else, as nearly
  // every event and nested value is: its definition's offset and its values.
  // False for anything else.
  bool SingleInstance(std::size_t pos, std::size_t end, std::uint32_t& definition,
                      std::vector<BinXmlValue>& values);
  // Walks the template definition at that offset once, for all its
  // instances: each substitution is handed to the sink as such. False when it
  // breaks off or holds a template instance of its own.
  bool WalkTemplate(std::uint32_t definition, BinXmlSink& sink);

 private:
  struct Frame;
  bool Fragment(Frame& f, int depth);
  bool Element(Frame& f, int depth);
  bool Content(Frame& f, int depth, bool attribute);
  bool TemplateInstance(Frame& f, int depth);
  bool Instance(Frame& f, std::uint32_t& definition, std::size_t& dataSize);
  bool Substitution(Frame& f, int depth, bool optional);
  bool Nested(std::span<const std::uint8_t> bytes, int depth);
  bool Name(Frame& f, BinXmlName& name);

  std::span<const std::uint8_t> chunk_;
  BinXmlSink* sink_ = nullptr;
  // The values of the template instances being walked, innermost last.
  std::vector<BinXmlValue> values_;
  std::size_t steps_ = 0;
  bool compiling_ = false;
  // The names by id, and their ids by offset in the chunk, with a small
  // direct-mapped table in front, since the same few names come again and again.
  std::deque<std::u16string> names_;  // a deque, so that texts handed out stay put
  std::unordered_map<std::uint32_t, std::uint32_t> ids_;
  struct Recent {
    std::uint32_t offset = UINT32_MAX, id = 0;
  };
  std::vector<Recent> recent_ = std::vector<Recent>(1024);
};

// Appends the text of a value as Event Viewer's XML view shows it: decimal
// integers, "0x" and lower-case hex digits for hex integers and sizes,
// {GUID} in upper case, times as "2016-07-08T18:12:51.6816408Z", SIDs as
// "S-1-5-…", binary data as upper-case hex digits, and the items of an array
// separated by ", ". A nested BinXml value appends nothing here.
void AppendBinXmlValueText(std::u16string& out, const BinXmlValue& value);

// The value as an unsigned number: integers of any width and hex integers,
// and a decimal or "0x" text; nothing for other values.
bool BinXmlValueNumber(const BinXmlValue& value, std::uint64_t& number);

// Appends the SID text "S-1-…" of a binary SID; false when it is malformed.
bool AppendSidString(std::u16string& out, std::span<const std::uint8_t> sid);

}  // namespace zkq
