#include "tool/zkq_setup.h"

#include <optional>
#include <system_error>
#include <utility>

#include "base/files.h"
#include "base/text.h"
#include "config/settings.h"

namespace zkq {
namespace {

// The common cases: errors of System and Application, failed audits of
// Security, one well-known harmless error left out, two services that must run.
constexpr char16_t kDefaultRules[] =
    u"System;対象;エラー;*;*;*\r\n"
    u"System;除外;エラー;DCOM;なし;10016\r\n"
    u"Security;対象;失敗;*;*;*\r\n"
    u"Application;対象;エラー;*;*;*\r\n"
    u"Service;EventLog;開始;;;\r\n"
    u"Service;Schedule;開始;;;\r\n";

struct SetupOptions {
  std::optional<std::u16string> dir, server, port, from, to, security;
};

int Usage(Output& err, std::u16string_view problem) {
  Tell(err, problem);
  err.Write(kZkqSetupUsage);
  return 2;
}

std::optional<SetupOptions> Parse(const std::vector<std::u16string>& args, Output& err) {
  SetupOptions options;
  const std::pair<std::u16string_view, std::optional<std::u16string>*> names[] = {
      {u"--dir", &options.dir},   {u"--server", &options.server},
      {u"--port", &options.port}, {u"--from", &options.from},
      {u"--to", &options.to},     {u"--security", &options.security}};
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::optional<std::u16string>* option = nullptr;
    for (const auto& [name, target] : names) {
      if (args[i] == name) option = target;
    }
    if (option == nullptr) {
      Usage(err, u"unknown option " + args[i]);
      return std::nullopt;
    }
    if (i + 1 >= args.size()) {
      Usage(err, args[i] + u" needs a value");
      return std::nullopt;
    }
    // An installer passes an unset property as an empty value.
    *option = Trim(args[++i]);
  }
  if (!options.dir || options.dir->empty()) {
    Usage(err, u"setup needs --dir");
    return std::nullopt;
  }
  const std::u16string security = options.security.value_or(u"");
  if (!security.empty() && security != u"None" && security != u"StartTls" && security != u"Tls") {
    Usage(err, u"--security is None, StartTls or Tls, not " + security);
    return std::nullopt;
  }
  return options;
}

std::filesystem::path PathOf(const std::u16string& text) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(text.begin(), text.end()));
#else
  return std::filesystem::path(ToUtf8(text));
#endif
}

std::u16string SenderFor(const std::u16string& to) {
  const auto at = to.rfind(u'@');
  return u"zkquorvane@" + (at == std::u16string::npos ? u"localhost" : to.substr(at + 1));
}

}  // namespace

bool IsZkqSetupCommand(std::u16string_view command) { return command == u"setup"; }

int RunZkqSetup(const std::vector<std::u16string>& args, Output& out, Output& err,
                const std::function<bool(const std::filesystem::path&)>& makeFolder) {
  const std::optional<SetupOptions> options = Parse(args, err);
  if (!options) return 2;
  const std::filesystem::path dir = PathOf(*options->dir);
  if (!makeFolder(dir)) {
    Tell(err, u"cannot make the folder ", *options->dir);
    return 1;
  }
  std::error_code error;
  const std::filesystem::path ini = SettingsPath(dir), rules = dir / "rules.txt";
  if (std::filesystem::exists(ini, error)) {
    Tell(out, u"kept ", PathText(ini));
  } else {
    const std::u16string server = options->server.value_or(u""), to = options->to.value_or(u"");
    std::u16string port = options->port.value_or(u""), from = options->from.value_or(u"");
    std::u16string security = options->security.value_or(u"");
    if (port.empty()) port = u"25";
    if (from.empty()) from = SenderFor(to);
    if (security.empty()) security = u"None";
    const std::u16string serviceStart = server.empty() || to.empty() ? u"0" : u"1";
    const std::pair<std::u16string_view, std::u16string_view> values[] = {
        {u"SmtpServer", server},   {u"SmtpPort", port},
        {u"From", from},           {u"To", to},
        {u"Subject", u"監視警告"}, {u"DateStamp", u""},
        {u"TimeStamp", u""},       {u"Rules", u"rules.txt"},
        {u"Interval", u"5"},       {u"AutoStart", u"0"},
        {u"IconStart", u"0"},      {u"ServiceStart", serviceStart},
        {u"Heartbeat", u"08:30"},  {u"SmtpSecurity", security}};
    BoxesAsLines lines(err);
    if (!SettingsFile(ini, lines).WriteIniStrings(kSettingsSection, values)) return 1;
    Tell(out, u"wrote ", PathText(ini));
  }
  if (std::filesystem::exists(rules, error)) {
    Tell(out, u"kept ", PathText(rules));
  } else if (ReplaceFileAtomically(rules, EncodeCp932(kDefaultRules))) {
    Tell(out, u"wrote ", PathText(rules));
  } else {
    Tell(err, PathText(rules), kSettingsWriteFailed);
    return 1;
  }
  return 0;
}

}  // namespace zkq
