#pragma once
// zkq setup: the first settings of an installed monitor, as an installer
// (the MSI's custom action) or an administrator writes them.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tool/zkq.h"

namespace zkq {

inline constexpr char kZkqSetupUsage[] =
    "usage: zkq setup --dir DIR [--server HOST] [--port PORT] [--from ADDRESS]\n"
    "                 [--to ADDRESS] [--security None|StartTls|Tls]\n"
    "\n"
    "setup  makes the state folder DIR (on Windows with access for SYSTEM and\n"
    "       Administrators only) and writes zkQuorvane.ini and rules.txt there,\n"
    "       each only when absent, so that an upgrade or a repair keeps what is\n"
    "       set. The settings monitor every 5 minutes, send a daily report at\n"
    "       08:30 and, when --server and --to are given, let the service monitor\n"
    "       (ServiceStart=1). --from defaults to zkquorvane@ the domain of --to.\n"
    "       Exit status: 0 done, 1 a file or the folder could not be written,\n"
    "       2 wrong arguments.\n";

bool IsZkqSetupCommand(std::u16string_view command);

// makeFolder creates the state folder (true when it exists afterwards).
int RunZkqSetup(const std::vector<std::u16string>& args, Output& out, Output& err,
                const std::function<bool(const std::filesystem::path&)>& makeFolder);

}  // namespace zkq
