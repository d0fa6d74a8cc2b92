// Hostile bytes through the code page 932 codec and the conversions that read
// file and dialog text. Decoding what encoding wrote must give the same text
// back: every character the decoder produces has a code the encoder writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/convert.h"
#include "base/datetime.h"
#include "base/failure.h"
#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = zkq::DecodeCp932(bytes);
  if (text.size() > size) std::abort();
  const std::string encoded = zkq::EncodeCp932(text);
  if (zkq::DecodeCp932(encoded) != text) std::abort();

  // The same bytes read as UTF-16 reach the encoder with lone surrogates and
  // unmappable characters.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  const std::string units932 = zkq::EncodeCp932(units);
  const std::u16string back = zkq::DecodeCp932(units932);
  if (zkq::EncodeCp932(back) != units932) std::abort();
  if (zkq::FromUtf8(zkq::ToUtf8(text)) != text) std::abort();
  (void)zkq::FromUtf8(bytes);

  const std::u16string wide = zkq::HalfToFullKatakana(text);
  if (wide.size() > text.size()) std::abort();
  if (zkq::HalfToFullKatakanaEach(text).size() != text.size()) std::abort();

  try {
    (void)zkq::ToInt16(text);
  } catch (const zkq::Failure&) {
  }
  (void)zkq::IsNumeric(text);
  (void)zkq::RecognizeTime(text);
  if (const auto date = zkq::RecognizeDate(text)) {
    if (date->size() != 10 || !zkq::RecognizeDate(*date) || *zkq::RecognizeDate(*date) != *date) {
      std::abort();
    }
  }
  const std::size_t half = text.size() / 2;
  if (const auto stamp = zkq::ParseStamp(std::u16string_view(text).substr(0, half),
                                         std::u16string_view(text).substr(half))) {
    if (zkq::DateTime::FromSeconds(stamp->ToSeconds()) != *stamp) std::abort();
  }
  return 0;
}
