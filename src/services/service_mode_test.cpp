#include "services/service_mode.h"

#include <gtest/gtest.h>

#include <vector>

namespace zkq {
namespace {

struct Entry {
  EventEntryType type;
  std::uint16_t category;
  std::uint32_t eventId;
  std::u16string text;
};

class RecordingLog : public ServiceEventLog {
 public:
  bool Write(EventEntryType type, std::uint16_t category, std::uint32_t eventId,
             std::u16string_view text) override {
    entries.push_back({type, category, eventId, std::u16string(text)});
    return true;
  }
  std::vector<Entry> entries;
};

TEST(EventLogBoxes, WriteTheBoxTextAsAnEntryOfTheIconsKind) {
  const struct {
    MessageIcon icon;
    EventEntryType type;
  } cases[] = {
      {MessageIcon::Exclamation, EventEntryType::Warning},
      {MessageIcon::Information, EventEntryType::Information},
      {MessageIcon::None, EventEntryType::Information},
      {MessageIcon::Critical, EventEntryType::Error},
  };
  for (const auto& c : cases) {
    RecordingLog log;
    EventLogBoxes boxes(log);
    boxes.Show(u"起動に失敗しました！\r\n型が一致しません。", c.icon);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].type, c.type);
    EXPECT_EQ(log.entries[0].eventId, kMessageEventId);
    EXPECT_EQ(log.entries[0].text, u"起動に失敗しました！\r\n型が一致しません。");
  }
}

}  // namespace
}  // namespace zkq
