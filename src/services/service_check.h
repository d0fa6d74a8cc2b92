#pragma once
// The service check: compares the service rules with the states of the Win32
// services that the service control manager of a computer reports, and adds a
// "［サービス］" section to the alert text for every rule that is violated.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ports.h"
#include "rules/rules_file.h"

namespace zkq {

inline constexpr std::uint32_t kErrorMoreData = 234;
// Services in every state; what the monitoring cycle asks for.
inline constexpr std::uint32_t kServiceStateAll = 3;

// One service as the manager enumerates it; names as Windows gives them.
struct ServiceStatusEntry {
  std::u16string serviceName, displayName;
  std::uint32_t currentState = 0;
  friend bool operator==(const ServiceStatusEntry&, const ServiceStatusEntry&) = default;
};

// One enumeration call: error 0 and the services, or a Windows error code;
// with kErrorMoreData, bytesNeeded is what the manager reported for the
// entries that did not fit.
struct ServiceEnumeration {
  std::uint32_t error = 0;
  std::size_t bytesNeeded = 0;
  std::vector<ServiceStatusEntry> services;
};

// The service control manager of one computer, opened for enumeration and
// closed when it is destroyed.
class ServiceDatabase {
 public:
  virtual ~ServiceDatabase() = default;
  // Win32 services (own and shared process) in stateFilter, into a buffer of at
  // least bufferBytes bytes, from the first service on.
  virtual ServiceEnumeration Enumerate(std::uint32_t stateFilter, std::size_t bufferBytes) = 0;
};

struct OpenedServiceDatabase {
  std::unique_ptr<ServiceDatabase> database;  // null when opening failed
  std::uint32_t error = 0;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Opens the manager of the computer ("\\" + computerName).
  virtual OpenedServiceDatabase Open(std::u16string_view computerName) = 0;
};

// One row of the services list: the service's key name and the expected state text.
struct ServiceRow {
  std::u16string serviceName, state;
};

// The text of a current state value (1 stopped … 7 paused), "" for any other.
std::u16string_view ServiceStateText(std::uint32_t currentState);

// Checks rows against the services in stateFilter and appends the section to
// alertText. The three failures (open, size probe, enumeration) show their
// message (no icon) only when showMessages is set; with rows to check, the
// section then says the states could not be checked, and why. Returns the
// failure's message, "" when the services were listed.
std::u16string ListServiceRows(std::span<const ServiceRow> rows, std::u16string_view computerName,
                               std::uint32_t stateFilter, ServiceManager& manager,
                               bool showMessages, MessageBoxes& boxes, std::u16string& alertText);

// The check as the monitoring cycle runs it: the service rules of the main
// window, every state, on the computer it watches.
class ServiceStatusCheck {
 public:
  ServiceStatusCheck(ServiceManager& manager, MessageBoxes& boxes)
      : manager_(manager), boxes_(boxes) {}
  // showMessages: ShowMessages of the last mail request counts as yes.
  std::u16string Check(const std::vector<MonitoringRule>& serviceRules,
                       std::u16string_view computerName, bool showMessages,
                       std::u16string& alertText);

 private:
  ServiceManager& manager_;
  MessageBoxes& boxes_;
};

inline constexpr char16_t kServiceSectionHeader[] = u"［サービス］";
inline constexpr char16_t kServicesUncheckedNotice[] = u"※ サービスの状態を確認できませんでした: ";
inline constexpr char16_t kServiceNotFoundSuffix[] = u" <--- Not found!";
inline constexpr char16_t kOpenManagerFailedMessage[] = u"OpenSCManager failed; error = ";
inline constexpr char16_t kProbeFailedMessage[] = u"ERROR_MORE_DATA not returned; error ";
inline constexpr char16_t kEnumerateFailedMessage[] = u"EnumServicesStatus; error ";

}  // namespace zkq
