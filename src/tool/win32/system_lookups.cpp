#include "base/win32/time_zone.h"
#include "eventlog/win32/adapters.h"
#include "tool/zkq.h"

namespace zkq {

int RunZkqWithSystemLookups(const std::vector<std::u16string>& args, Output& out, Output& err) {
  WindowsAccountNames accounts;
  WindowsMessageTables tables;
  win32::WindowsTimeZone zone;
  return RunZkq(args, out, err, accounts, tables, zone);
}

}  // namespace zkq
