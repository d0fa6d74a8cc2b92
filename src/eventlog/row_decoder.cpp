#include "eventlog/row_decoder.h"

#include <algorithm>

#include "base/datetime.h"
#include "base/text.h"
#include "eventlog/category.h"
#include "eventlog/record.h"

namespace zkq {

EventRow EventRowView::ToRow() const {
  EventRow row{std::u16string(type),    std::u16string(date),     std::u16string(time),
               std::u16string(source),  std::u16string(category), std::u16string(eventId),
               std::u16string(user),    std::u16string(computer), eventCode,
               std::u16string(strings), std::u16string(message),  recordNumber};
  if (stringsWait) AppendRecordStrings(row.strings, waitingStrings, waitingCount);
  return row;
}

EventRowDecoder::EventRowDecoder(std::u16string_view logName, AccountNames& accounts,
                                 MessageTables& tables)
    : logName_(logName), accounts_(accounts), tables_(tables) {}

bool EventRowDecoder::Decode(std::span<const std::uint8_t> record,
                             const std::optional<std::int64_t>& stampUtc, EventRowView& row) {
  const RecordFields f = DecodeRecordFields(record);
  if (stampUtc && *stampUtc > RecordUtcSeconds(f.timeWritten)) return false;
  const std::int64_t seconds = RecordSeconds(f.timeWritten);

  // Records come in time order, so the calendar work is done once a day.
  std::int64_t day = seconds / 86400;
  if (seconds % 86400 < 0) --day;
  if (day != day_) {
    FormatDate(DateTime::FromSeconds(day * 86400), date_);
    day_ = day;
  }
  const int inDay = static_cast<int>(seconds - day * 86400);
  const int parts[3] = {inDay / 3600, inDay / 60 % 60, inDay % 60};
  for (int i = 0; i < 3; ++i) {
    time_[3 * i] = static_cast<char16_t>(u'0' + parts[i] / 10);
    time_[3 * i + 1] = static_cast<char16_t>(u'0' + parts[i] % 10);
    if (i < 2) time_[3 * i + 2] = u':';
  }

  row.type = EventTypeText(f.eventType);
  row.date = std::u16string_view(date_, 10);
  row.time = std::u16string_view(time_, 8);
  row.source = NameField(source_, f.source);
  row.category = Category(f.source, f.category);
  eventId_.clear();
  AppendDecimal(eventId_, f.eventId & 0xFFFFu);
  row.eventId = eventId_;
  row.user = User(f);
  row.computer = NameField(computer_, f.computer);
  row.eventCode = f.eventId;
  row.recordNumber = f.recordId;
  strings_.clear();
  row.stringsWait = withStrings_ && deferStrings_;
  if (row.stringsWait) {
    row.waitingStrings = f.strings;
    row.waitingCount = f.numStrings;
  } else if (withStrings_) {
    AppendRecordStrings(strings_, f);
  }
  row.strings = strings_;
  message_.clear();
  AppendUtf16Le(message_, f.message);
  row.message = message_;
  return true;
}

std::u16string_view EventRowDecoder::NameField(std::u16string& scratch,
                                               std::span<const std::uint8_t> utf16) {
  scratch.clear();
  AppendUtf16Le(scratch, utf16);
  ReplaceControls(scratch);
  return TrimView(scratch);
}

std::u16string_view EventRowDecoder::Category(std::span<const std::uint8_t> source,
                                              std::uint16_t category) {
  // Runs of records of one source are the rule: its categories are kept aside.
  if (std::equal(source.begin(), source.end(), lastSource_.begin(), lastSource_.end())) {
    for (const auto& [number, text] : lastSourceCategories_) {
      if (number == category) return *text;
    }
  } else {
    lastSource_.assign(source.begin(), source.end());
    lastSourceCategories_.clear();
  }
  key_.clear();
  AppendUtf16Le(key_, source);
  key_.push_back(static_cast<char16_t>(category));
  auto it = categories_.find(key_);
  if (it == categories_.end()) {
    // The registry key is named by the source exactly as the record holds it.
    const std::u16string_view rawSource(key_.data(), key_.size() - 1);
    const std::u16string text = ResolveCategoryText(tables_, logName_, rawSource, category);
    std::u16string shown = u"なし";
    if (!text.empty()) {
      shown = ReplaceAll(text, u"\r\n", u"");
      ReplaceControls(shown);
      shown = Trim(shown);
    }
    it = categories_.emplace(key_, std::move(shown)).first;
  }
  lastSourceCategories_.emplace_back(category, &it->second);
  return it->second;
}

std::u16string_view EventRowDecoder::User(const RecordFields& f) {
  switch (f.sidState) {
    case SidState::None:
      return u"N/A";
    case SidState::Unreadable:
      return u"";
    case SidState::Readable:
      break;
  }
  sidKey_.assign(reinterpret_cast<const char*>(f.sid.data()), f.sid.size());
  auto it = users_.find(sidKey_);
  if (it == users_.end()) {
    std::u16string text;
    if (std::optional<std::u16string> name = accounts_.AccountName(f.sid)) {
      ReplaceControls(*name);
      text = Trim(*name);
    } else {
      AppendSidText(text, f.sid);
    }
    it = users_.emplace(sidKey_, std::move(text)).first;
  }
  return it->second;
}

}  // namespace zkq
