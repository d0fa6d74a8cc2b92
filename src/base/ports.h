#pragma once
// Ports that every window presenter needs: the clock with the system's own date
// and time forms, and message boxes.
#include <string>

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

enum class MessageIcon { None, Exclamation, Information, Question, Critical };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Caption is always the application title.
  virtual void Show(const std::u16string& text, MessageIcon icon) = 0;
};

inline constexpr char16_t kAppTitle[] = u"zkQuorvane";

}  // namespace zkq
