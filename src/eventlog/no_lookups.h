#pragma once
// Lookups for a machine that has no accounts or message tables to ask (Linux,
// or replaying an exported log elsewhere): every SID shows as its "S-1-5" text
// and every category as "なし".
#include "eventlog/ports.h"

namespace zkq {

class NoAccountNames : public AccountNames {
 public:
  std::optional<std::u16string> AccountName(std::span<const std::uint8_t>) override {
    return std::nullopt;
  }
};

class NoMessageTables : public MessageTables {
 public:
  std::optional<std::u16string> CategoryMessageFile(std::u16string_view,
                                                    std::u16string_view) override {
    return std::nullopt;
  }
  std::u16string Environment(std::u16string_view) override { return {}; }
  std::u16string FormatModuleMessage(std::u16string_view, std::uint32_t) override { return {}; }
  std::u16string FormatSystemMessage(std::uint32_t) override { return {}; }
};

}  // namespace zkq
