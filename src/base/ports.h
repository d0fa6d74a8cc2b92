#pragma once
// Ports that every window presenter needs: the clock with the system's own date
// and time forms, and message boxes.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "base/datetime.h"

namespace zkq {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() = 0;
  // The system's default short-date and long-time forms ("2026/12/08", "4:14:53").
  virtual std::u16string ShortDate(const DateTime& t) = 0;
  virtual std::u16string LongTime(const DateTime& t) = 0;
};

// The machine's time zone, daylight saving included. The settings stamp is
// written in local time while event records carry UTC; both are compared as UTC.
class TimeZone {
 public:
  virtual ~TimeZone() = default;
  // Seconds since 1970-01-01 00:00:00 UTC of a local wall-clock time; nothing
  // when the zone cannot convert it.
  virtual std::optional<std::int64_t> LocalToUtc(const DateTime& local) = 0;
};

// A zone a fixed number of seconds east of UTC (Japan: 9 hours).
class FixedOffsetZone : public TimeZone {
 public:
  explicit FixedOffsetZone(std::int64_t offsetSeconds) : offset_(offsetSeconds) {}
  std::optional<std::int64_t> LocalToUtc(const DateTime& local) override {
    return local.ToSeconds() - offset_;
  }

 private:
  std::int64_t offset_;
};

enum class MessageIcon { None, Exclamation, Information, Question, Critical };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Caption is always the application title.
  virtual void Show(const std::u16string& text, MessageIcon icon) = 0;
};

inline constexpr char16_t kAppTitle[] = u"zkQuorvane";

// Registering the program as a service, or removing it: how it went. Only an
// elevated administrator may do either, which the user is told plainly; and a
// program that others could change is never registered to run as SYSTEM
// (reason says which file or folder, and who).
struct RegistrationOutcome {
  enum Kind { Done, Failed, NeedsAdministrator, Unsafe };
  RegistrationOutcome(Kind kind, std::u16string reason = {})  // NOLINT: a kind is an outcome
      : kind(kind), reason(std::move(reason)) {}
  bool operator==(Kind other) const { return kind == other; }
  Kind kind;
  std::u16string reason;
};

// Shown after the application title.
inline constexpr char16_t kServiceInstalled[] = u"はサービスとして登録されました！";
inline constexpr char16_t kServiceNotInstalled[] = u"はサービスとして登録されませんでした！";
inline constexpr char16_t kServiceUninstalled[] = u"はサービスから削除されました！";
inline constexpr char16_t kServiceNotUninstalled[] = u"はサービスから削除されませんでした！";
inline constexpr char16_t kNeedsAdministrator[] =
    u"\r\nサービスの登録と削除には管理者の権限が必要です。管理者として実行してください。";

// The message of an install (or removal): the title and the outcome, and why
// when the rights were missing.
inline void ShowRegistrationOutcome(MessageBoxes& boxes, bool install,
                                    RegistrationOutcome outcome) {
  std::u16string text(kAppTitle);
  if (outcome == RegistrationOutcome::Done) {
    text += install ? kServiceInstalled : kServiceUninstalled;
    boxes.Show(text, MessageIcon::Information);
    return;
  }
  text += install ? kServiceNotInstalled : kServiceNotUninstalled;
  if (outcome == RegistrationOutcome::NeedsAdministrator) text += kNeedsAdministrator;
  if (!outcome.reason.empty()) text += u"\r\n" + outcome.reason;
  boxes.Show(text, MessageIcon::Exclamation);
}

}  // namespace zkq
