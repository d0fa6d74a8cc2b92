#include "config/settings.h"

#include <system_error>
#include <utility>
#include <vector>

#include "base/base64.h"
#include "base/convert.h"
#include "base/failure.h"
#include "base/text.h"

namespace zkq {

SettingsFile::SettingsFile(std::filesystem::path path, MessageBoxes& boxes)
    : path_(std::move(path)), boxes_(boxes) {}

std::u16string SettingsFile::ReadIniString(std::u16string_view section, std::u16string_view key,
                                           std::size_t size) const {
  return DecodeCp932(profile::Read(path_, EncodeCp932(section), EncodeCp932(key), size));
}

bool SettingsFile::WriteIniString(std::u16string_view section, std::u16string_view key,
                                  std::u16string_view value, bool showFailure) const {
  if (profile::Write(path_, EncodeCp932(section), EncodeCp932(key), EncodeCp932(value))) {
    return true;
  }
  if (showFailure) ShowWriteFailure();
  return false;
}

bool SettingsFile::WriteIniStrings(
    std::u16string_view section,
    std::span<const std::pair<std::u16string_view, std::u16string_view>> values,
    bool showFailure) const {
  std::vector<std::array<std::u16string_view, 3>> entries;
  for (const auto& [key, value] : values) entries.push_back({section, key, value});
  return WriteIniEntries(entries, showFailure);
}

bool SettingsFile::WriteIniEntries(std::span<const std::array<std::u16string_view, 3>> entries,
                                   bool showFailure) const {
  std::vector<profile::Entry> encoded;
  for (const auto& [section, key, value] : entries)
    encoded.push_back({EncodeCp932(section), EncodeCp932(key), EncodeCp932(value)});
  if (profile::WriteEntries(path_, encoded)) return true;
  if (showFailure) ShowWriteFailure();
  return false;
}

void SettingsFile::ShowWriteFailure() const {
  boxes_.Show(WriteFailureText(), MessageIcon::Exclamation);
}

std::u16string SettingsFile::WriteFailureText() const {
  return PathText(path_) + kSettingsWriteFailed;
}

std::filesystem::path SettingsPath(const std::filesystem::path& programDir) {
  return programDir / std::filesystem::path(kSettingsFileName);
}

std::u16string PathText(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(path, ec);
  if (ec) full = path;
  full = full.lexically_normal();
#if defined(_WIN32)
  return full.u16string();
#else
  // The native narrow form is UTF-8 here; FromUtf8 never throws on odd bytes.
  return FromUtf8(full.string());
#endif
}

std::optional<int> HeartbeatMinutes(std::u16string_view text) {
  text = TrimView(text);
  const std::size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
    return std::nullopt;
  int value[2] = {0, 0};
  const std::u16string_view parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    for (const char16_t c : parts[i]) {
      if (c < u'0' || c > u'9') return std::nullopt;
      value[i] = value[i] * 10 + (c - u'0');
    }
  }
  if (value[0] > 23 || value[1] > 59) return std::nullopt;
  return value[0] * 60 + value[1];
}

bool AlertDetailOn(const Settings& settings) { return TrimView(settings.AlertDetail) != u"0"; }

std::int16_t CountdownFor(const Settings& settings) {
  // -32767 - 1 still fits: ToInt16 never returns -32768.
  return static_cast<std::int16_t>(ToInt16(settings.Interval) - 1);
}

namespace {

// A password or secret of the file, in clear.
std::u16string ReadSecret(const SettingsFile& file, std::u16string_view key) {
  const std::u16string stored = file.ReadIniString(kSettingsSection, key, kPasswordReadSize);
  std::u16string secret = PasswordOfStoredText(stored, file.Protector());
  if (!stored.empty() && !stored.starts_with(kProtectedPasswordPrefix) && file.Protector()) {
    // Typed in by hand: from now on the file keeps it protected. A file that
    // cannot be written keeps it as it is, which the user is told, and the
    // next start tries again.
    const auto text = ProtectedPasswordText(secret, *file.Protector());
    if (!text || !file.WriteIniString(kSettingsSection, key, *text, false)) {
      file.ShowWarning(kClearSecretKept + std::u16string(key) + kClearSecretKeptRest);
    }
  }
  return secret;
}

}  // namespace

Settings LoadSettings(const SettingsFile& file, std::int16_t& countdown) {
  const auto read = [&](std::u16string_view key) {
    return file.ReadIniString(kSettingsSection, key);
  };
  Settings s;
  s.SmtpServer = read(u"SmtpServer");
  s.SmtpPort = read(u"SmtpPort");
  s.From = read(u"From");
  s.To = read(u"To");
  s.Subject = read(u"Subject");
  s.DateStamp = read(u"DateStamp");
  s.TimeStamp = read(u"TimeStamp");
  s.Rules = read(u"Rules");
  s.Interval = read(u"Interval");
  countdown = CountdownFor(s);
  s.AutoStart = read(u"AutoStart");
  s.IconStart = read(u"IconStart");
  s.ServiceStart = read(u"ServiceStart");
  s.EventLogDir = read(u"EventLogDir");
  s.SmtpSecurity = read(u"SmtpSecurity");
  s.SmtpUser = read(u"SmtpUser");
  s.SystemBookmark = read(u"SystemBookmark");
  s.SecurityBookmark = read(u"SecurityBookmark");
  s.ApplicationBookmark = read(u"ApplicationBookmark");
  s.AlertDetail = read(u"AlertDetail");
  s.Heartbeat = read(u"Heartbeat");
  s.SmtpPassword = ReadSecret(file, u"SmtpPassword");
  s.SmtpAuth = read(u"SmtpAuth");
  s.OAuthTenant = read(u"OAuthTenant");
  s.OAuthClientId = read(u"OAuthClientId");
  s.OAuthClientSecret = ReadSecret(file, u"OAuthClientSecret");
  s.OAuthScope = read(u"OAuthScope");
  s.OAuthTokenUrl = read(u"OAuthTokenUrl");
  return s;
}

std::optional<std::u16string> ProtectedPasswordText(std::u16string_view password,
                                                   PasswordProtector& protector) {
  const std::optional<std::string> blob = protector.Protect(ToUtf8(password));
  if (!blob) return std::nullopt;
  return kProtectedPasswordPrefix + FromUtf8(Base64Encode(*blob));
}

std::u16string PasswordOfStoredText(std::u16string_view stored, PasswordProtector* protector) {
  if (!stored.starts_with(kProtectedPasswordPrefix)) return std::u16string(stored);
  if (protector == nullptr) return u"";
  const std::optional<std::string> blob =
      Base64Decode(ToUtf8(stored.substr(std::char_traits<char16_t>::length(kProtectedPasswordPrefix))));
  if (!blob) return u"";
  return FromUtf8(protector->Unprotect(*blob).value_or(""));
}

std::u16string SettingsLoadFailedText(const std::u16string& description) {
  return std::u16string(kAppTitle) + kSettingsLoadFailed + u"\r\n" + description;
}

}  // namespace zkq
