#include "eventlog/category.h"

#include "base/text.h"

namespace zkq {

namespace {

// The program has always read the value into a 256-byte ANSI buffer, so a
// longer path never named a module; keeping the limit keeps old and new
// installations resolving the same sources.
constexpr std::size_t kMaxPathBytes = 255;

// Only the first %NAME% is expanded, and whatever stood before it is dropped:
// "C:\%X%\cat.dll" with X=D:\lib names D:\lib\cat.dll. A path with an opening
// "%" and no closing one names nothing, so it gives no module at all.
std::u16string ExpandFirstVariable(MessageTables& tables, std::u16string_view path) {
  const auto open = path.find(u'%');
  if (open == std::u16string_view::npos) return std::u16string(path);
  const auto close = path.find(u'%', open + 1);
  if (close == std::u16string_view::npos) return {};
  const auto name = path.substr(open + 1, close - open - 1);
  std::u16string expanded = name.empty() ? std::u16string() : tables.Environment(name);
  expanded.append(path.substr(close + 1));
  return expanded;
}

}  // namespace

std::u16string ResolveCategoryText(MessageTables& tables, std::u16string_view logName,
                                   std::u16string_view source, std::uint16_t category) {
  const auto value = tables.CategoryMessageFile(logName, source);
  if (!value) return {};
  // The registry value is taken up to its first NUL, as a C string would be.
  std::u16string_view path = *value;
  if (const auto nul = path.find(u'\0'); nul != std::u16string_view::npos) {
    path = path.substr(0, nul);
  }
  if (path.empty() || EncodeCp932(path).size() > kMaxPathBytes) return {};
  const auto module = ExpandFirstVariable(tables, path);
  if (module.empty()) return {};
  return tables.FormatModuleMessage(module, category);
}

}  // namespace zkq
