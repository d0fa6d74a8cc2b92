#include "services/service_check.h"

#include <string>

#include "base/text.h"

namespace zkq {
namespace {

constexpr std::size_t kNameWidth = 8;
// Services added between two calls make the manager ask for more room; a few
// more calls with the larger buffer catch up with any ordinary change.
constexpr int kEnumerateAttempts = 4;
constexpr char16_t kLineEnd[] = u"\r\n";

std::u16string Decimal(std::uint32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Padded with blanks or cut to the column's width. A cut never splits a
// surrogate pair: the half would turn into a replacement character in the mail.
std::u16string NameColumn(std::u16string_view name) {
  std::size_t keep = name.size() < kNameWidth ? name.size() : kNameWidth;
  if (keep == kNameWidth && name.size() > kNameWidth && IsHighSurrogate(name[keep - 1])) --keep;
  std::u16string column(name.substr(0, keep));
  column.resize(kNameWidth, u' ');
  return column;
}

// The enumeration whole, or the failure's message; empty message and no
// services is a computer without services in that state.
struct Listing {
  std::vector<ServiceStatusEntry> services;
  std::u16string failure;
};

Listing ListServices(ServiceManager& manager, std::u16string_view computerName,
                     std::uint32_t stateFilter) {
  OpenedServiceDatabase opened = manager.Open(computerName);
  if (!opened.database) return {{}, kOpenManagerFailedMessage + Decimal(opened.error)};

  ServiceEnumeration result = opened.database->Enumerate(stateFilter, 0);
  // A probe that succeeds has found no service at all; every rule is then not found.
  if (result.error == 0) return {std::move(result.services), {}};
  if (result.error != kErrorMoreData) return {{}, kProbeFailedMessage + Decimal(result.error)};

  std::size_t bufferBytes = 0;
  for (int attempt = 0; attempt < kEnumerateAttempts && result.error == kErrorMoreData; ++attempt) {
    // The manager reports the room still missing, so the next buffer grows by it.
    bufferBytes += result.bytesNeeded;
    result = opened.database->Enumerate(stateFilter, bufferBytes);
  }
  if (result.error != 0) return {{}, kEnumerateFailedMessage + Decimal(result.error)};
  return {std::move(result.services), {}};
}

}  // namespace

std::u16string_view ServiceStateText(std::uint32_t currentState) {
  switch (currentState) {
    case 1:
      return u"停止";
    case 2:
      return u"開始中";
    case 3:
      return u"停止中";
    case 4:
      return u"開始";
    case 5:
      return u"継続中";
    case 6:
      return u"一時停止中";
    case 7:
      return u"一時停止";
    default:
      return u"";
  }
}

std::u16string ListServiceRows(std::span<const ServiceRow> rows, std::u16string_view computerName,
                               std::uint32_t stateFilter, ServiceManager& manager,
                               bool showMessages, MessageBoxes& boxes, std::u16string& alertText) {
  Listing listing = ListServices(manager, computerName, stateFilter);
  if (!listing.failure.empty()) {
    if (showMessages) boxes.Show(listing.failure, MessageIcon::None);
    // Rules that were not checked are no clean check.
    if (!rows.empty()) {
      alertText += kServiceSectionHeader;
      alertText += kLineEnd;
      alertText += kServicesUncheckedNotice + listing.failure + kLineEnd;
    }
    return listing.failure;
  }

  std::vector<std::u16string_view> wanted;
  wanted.reserve(rows.size());
  for (const ServiceRow& row : rows) wanted.push_back(TrimView(row.serviceName));
  std::vector<bool> found(rows.size(), false);

  std::u16string section;
  for (const ServiceStatusEntry& service : listing.services) {
    const std::u16string_view name = TrimView(service.serviceName);
    const std::u16string_view stateText = ServiceStateText(service.currentState);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      // Windows holds "spooler" and "Spooler" for one service.
      if (!SameNameIgnoringCase(wanted[i], name)) continue;
      found[i] = true;
      if (rows[i].state == stateText) continue;
      section += NameColumn(service.serviceName);
      section += u' ';
      section += stateText;
      section += u' ';
      section += service.displayName;
      section += kLineEnd;
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (found[i]) continue;
    section += wanted[i];
    section += kServiceNotFoundSuffix;
    section += kLineEnd;
  }
  if (section.empty()) return u"";
  alertText += kServiceSectionHeader;
  alertText += kLineEnd;
  alertText += section;
  return u"";
}

std::u16string ServiceStatusCheck::Check(const std::vector<MonitoringRule>& serviceRules,
                                         std::u16string_view computerName, bool showMessages,
                                         std::u16string& alertText) {
  std::vector<ServiceRow> rows;
  rows.reserve(serviceRules.size());
  for (const MonitoringRule& rule : serviceRules) rows.push_back({rule.serviceName, rule.state});
  return ListServiceRows(rows, computerName, kServiceStateAll, manager_, showMessages, boxes_,
                         alertText);
}

}  // namespace zkq
