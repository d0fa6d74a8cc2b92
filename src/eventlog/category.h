#pragma once
// Category and error texts from the message tables of event sources.
#include <cstdint>
#include <string>
#include <string_view>

#include "eventlog/ports.h"

namespace zkq {

// sub-language * 1024 + primary language. The lookups pass language 0 rather
// than MakeLanguageId(0, 1) = 0x0400, so that Windows falls back to a language
// the module has.
constexpr std::uint16_t MakeLanguageId(std::uint16_t primary, std::uint16_t sub) {
  return static_cast<std::uint16_t>(sub * 1024 + primary);
}

// The category text that the source registered for category, "" when none.
std::u16string ResolveCategoryText(MessageTables& tables, std::u16string_view logName,
                                   std::u16string_view source, std::uint16_t category);

}  // namespace zkq
