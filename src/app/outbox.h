#pragma once
// The outbox: every alert mail is on disk here before its first try and
// leaves only when a server has accepted it, so that no failure of the mail
// path (a server down, a 4xx reply, a time-out, a stop or a shutdown in the
// middle of a send) loses an alert. Kept mails are retried oldest first.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "base/files.h"

namespace zkq {

// One composed alert as it goes out: the text after DATA (with the Date of
// its composition) and its envelope as composed.
struct KeptMail {
  std::string messageText;
  std::u16string sender;
  std::u16string recipients;  // ";"-separated, as composition hands them to RCPT TO
  friend bool operator==(const KeptMail&, const KeptMail&) = default;
};

struct OutboxEntry {
  std::string name;  // the mail's own name in the outbox
  DateTime created;  // local time of its composition
  friend bool operator==(const OutboxEntry&, const OutboxEntry&) = default;
};

inline constexpr std::int64_t kOutboxMaxAgeSeconds = 7 * 24 * 3600;
inline constexpr std::size_t kOutboxMaxMails = 500;

// The mails DropOld removed, oldest first, by reason.
struct DroppedMails {
  std::vector<OutboxEntry> tooOld;
  std::vector<OutboxEntry> beyondLimit;
};

class Outbox {
 public:
  virtual ~Outbox() = default;
  // Keeps a mail before its first try; nothing when it could not be written
  // (then nothing of it is left behind) or its envelope holds a line break.
  virtual std::optional<OutboxEntry> Add(const KeptMail& mail, const DateTime& created) = 0;
  // Every kept mail, oldest first.
  virtual std::vector<OutboxEntry> List() = 0;
  // Nothing when the mail cannot be read back whole.
  virtual std::optional<KeptMail> Read(const OutboxEntry& entry) = 0;
  // False when the mail is still there.
  virtual bool Remove(const OutboxEntry& entry) = 0;
  // Sets aside a mail that servers refuse for good, where the program never
  // deletes it and it holds back no other mail; false when it is still kept.
  virtual bool MoveToFailed(const OutboxEntry& entry) = 0;
  // How many mails were set aside so far.
  virtual std::size_t FailedCount() = 0;

  // Removes, oldest first, the mails kept longer than seven days at now, then
  // those beyond the newest 500: a mail that no server will take must not hold
  // the disk, nor every alert after it, for ever.
  DroppedMails DropOld(const DateTime& now);
};

// The outbox as files in a folder (outbox/ beside the program), one file a
// mail, each written atomically: a first line that says what the file is,
// "Sender: " and "Recipients: " lines (UTF-8), an empty line, then the message exactly as it goes
// after DATA. The name carries a sequence number one above every name in the folder, so the order
// of the names is the order of creation, within one second and across
// restarts, and the moment of creation: "0000000001-20261208-100200.mail".
class FileOutbox final : public Outbox {
 public:
  explicit FileOutbox(std::filesystem::path folder, FileCalls& calls = SystemFileCalls());

  std::optional<OutboxEntry> Add(const KeptMail& mail, const DateTime& created) override;
  std::vector<OutboxEntry> List() override;
  std::optional<KeptMail> Read(const OutboxEntry& entry) override;
  bool Remove(const OutboxEntry& entry) override;
  // Into the folder's failed\ subfolder, under the same name.
  bool MoveToFailed(const OutboxEntry& entry) override;
  std::size_t FailedCount() override;

  const std::filesystem::path& Folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  FileCalls& calls_;
};

}  // namespace zkq
