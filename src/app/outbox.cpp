#include "app/outbox.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

#include "base/text.h"

namespace zkq {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kFirstLine = "zkQuorvane outbox mail 1\r\n";
constexpr std::string_view kSenderField = "Sender: ";
constexpr std::string_view kRecipientsField = "Recipients: ";
constexpr std::string_view kExtension = ".mail";
constexpr std::size_t kSequenceDigits = 10;
constexpr char kFailedFolder[] = "failed";

// The value of "<field><value>\r\n" at the front of rest, which then begins after it.
std::optional<std::u16string> TakeField(std::string_view& rest, std::string_view field) {
  if (!rest.starts_with(field)) return std::nullopt;
  const std::size_t end = rest.find("\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  std::u16string value = FromUtf8(rest.substr(field.size(), end - field.size()));
  rest.remove_prefix(end + 2);
  return value;
}

bool ParseDigits(std::string_view text, int& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

struct ParsedName {
  std::uint64_t sequence = 0;
  DateTime created;
};

// "<sequence>-<yyyymmdd>-<hhmmss>.mail"; anything else is no kept mail.
std::optional<ParsedName> ParseName(std::string_view name) {
  if (!name.ends_with(kExtension)) return std::nullopt;
  name.remove_suffix(kExtension.size());
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || name.size() != dash + 16 ||
      name[dash + 9] != '-')
    return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i != dash && i != dash + 9 && (name[i] < '0' || name[i] > '9')) return std::nullopt;
  }
  ParsedName parsed;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + dash, parsed.sequence);
  if (ec != std::errc() || end != name.data() + dash) return std::nullopt;
  const std::string_view date = name.substr(dash + 1, 8), time = name.substr(dash + 10, 6);
  DateTime& t = parsed.created;
  if (!ParseDigits(date.substr(0, 4), t.year) || !ParseDigits(date.substr(4, 2), t.month) ||
      !ParseDigits(date.substr(6, 2), t.day) || !ParseDigits(time.substr(0, 2), t.hour) ||
      !ParseDigits(time.substr(2, 2), t.minute) || !ParseDigits(time.substr(4, 2), t.second))
    return std::nullopt;
  return parsed;
}

std::string Padded(std::uint64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string NameOf(std::uint64_t sequence, const DateTime& t) {
  return Padded(sequence, kSequenceDigits) + "-" + Padded(static_cast<std::uint64_t>(t.year), 4) +
         Padded(static_cast<std::uint64_t>(t.month), 2) +
         Padded(static_cast<std::uint64_t>(t.day), 2) + "-" +
         Padded(static_cast<std::uint64_t>(t.hour), 2) +
         Padded(static_cast<std::uint64_t>(t.minute), 2) +
         Padded(static_cast<std::uint64_t>(t.second), 2) + std::string(kExtension);
}

}  // namespace

DroppedMails Outbox::DropOld(const DateTime& now) {
  DroppedMails dropped;
  std::vector<OutboxEntry> kept;
  for (OutboxEntry& entry : List()) {
    if (now.ToSeconds() - entry.created.ToSeconds() > kOutboxMaxAgeSeconds && Remove(entry)) {
      dropped.tooOld.push_back(std::move(entry));
    } else {
      kept.push_back(std::move(entry));
    }
  }
  for (std::size_t i = 0; kept.size() - i > kOutboxMaxMails; ++i) {
    if (Remove(kept[i])) dropped.beyondLimit.push_back(kept[i]);
  }
  return dropped;
}

FileOutbox::FileOutbox(fs::path folder, FileCalls& calls)
    : folder_(std::move(folder)), calls_(calls) {}

std::vector<OutboxEntry> FileOutbox::List() {
  std::vector<std::pair<ParsedName, std::string>> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = ToUtf8(it->path().filename().u16string());
    if (const std::optional<ParsedName> parsed = ParseName(name); parsed && it->is_regular_file(ec))
      found.emplace_back(*parsed, std::move(name));
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first.sequence != b.first.sequence ? a.first.sequence < b.first.sequence
                                                : a.second < b.second;
  });
  std::vector<OutboxEntry> entries;
  entries.reserve(found.size());
  for (auto& [parsed, name] : found) entries.push_back({std::move(name), parsed.created});
  return entries;
}

std::optional<OutboxEntry> FileOutbox::Add(const KeptMail& mail, const DateTime& created) {
  // An envelope field is one line of the file.
  for (const std::u16string* field : {&mail.sender, &mail.recipients}) {
    if (field->find_first_of(u"\r\n") != std::u16string::npos) return std::nullopt;
  }
  std::error_code ec;
  fs::create_directories(folder_, ec);
  std::uint64_t sequence = 1;
  for (const OutboxEntry& entry : List()) {
    sequence = std::max(sequence, ParseName(entry.name)->sequence + 1);
  }
  // A name that another writer took meanwhile is never written over.
  std::string name = NameOf(sequence, created);
  while (fs::exists(folder_ / name, ec)) name = NameOf(++sequence, created);

  std::string bytes(kFirstLine);
  bytes += kSenderField;
  bytes += ToUtf8(mail.sender) + "\r\n";
  bytes += kRecipientsField;
  bytes += ToUtf8(mail.recipients) + "\r\n\r\n";
  bytes += mail.messageText;
  if (!ReplaceFileAtomically(folder_ / name, bytes, calls_)) return std::nullopt;
  return OutboxEntry{std::move(name), created};
}

std::optional<KeptMail> FileOutbox::Read(const OutboxEntry& entry) {
  const std::optional<std::string> bytes = ReadWholeFile(folder_ / entry.name);
  if (!bytes) return std::nullopt;
  std::string_view rest = *bytes;
  if (!rest.starts_with(kFirstLine)) return std::nullopt;
  rest.remove_prefix(kFirstLine.size());
  std::optional<std::u16string> sender = TakeField(rest, kSenderField);
  std::optional<std::u16string> recipients = TakeField(rest, kRecipientsField);
  if (!sender || !recipients || !rest.starts_with("\r\n")) return std::nullopt;
  rest.remove_prefix(2);
  return KeptMail{std::string(rest), std::move(*sender), std::move(*recipients)};
}

bool FileOutbox::Remove(const OutboxEntry& entry) {
  std::error_code ec;
  fs::remove(folder_ / entry.name, ec);
  return !ec;
}

bool FileOutbox::MoveToFailed(const OutboxEntry& entry) {
  const fs::path failed = folder_ / kFailedFolder;
  std::error_code ec;
  fs::create_directories(failed, ec);
  fs::rename(folder_ / entry.name, failed / entry.name, ec);
  return !ec;
}

std::size_t FileOutbox::FailedCount() {
  std::size_t count = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder_ / kFailedFolder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (ParseName(ToUtf8(it->path().filename().u16string())) && it->is_regular_file(ec)) ++count;
  }
  return count;
}

}  // namespace zkq
