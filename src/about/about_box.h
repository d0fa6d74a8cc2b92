#pragma once
// frmAbout: the about box. It shows the title, the version and legal notice of
// the program's own version resource and the physical memory Windows can use,
// and starts the system information tool when one is installed.
#include <cstdint>
#include <optional>
#include <string>

#include "base/ports.h"

namespace zkq {

struct ProgramVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned revision = 0;
  std::u16string legalCopyright;
};

// What the about box asks of the machine.
class AboutBoxSystem {
 public:
  virtual ~AboutBoxSystem() = default;
  // The running program's own version numbers and legal notice.
  virtual ProgramVersion ReadProgramVersion() = 0;
  // Total physical memory in bytes (more than 4 GB included).
  virtual std::uint64_t PhysicalMemoryBytes() = 0;
  // The locale's digit-group separator ("," on a Japanese system).
  virtual std::u16string ThousandsSeparator() = 0;
  // A string value under HKEY_LOCAL_MACHINE, whole; nothing when the key or
  // the value is missing.
  virtual std::optional<std::u16string> ReadMachineString(const std::u16string& key,
                                                          const std::u16string& value) = 0;
  virtual bool FileExists(const std::u16string& path) = 0;
  // Starts the program as a normal window with the focus, without waiting for
  // it; false when it could not be started.
  virtual bool StartProgram(const std::u16string& path) = 0;
};

class AboutBoxView {
 public:
  virtual ~AboutBoxView() = default;
  virtual void SetCaption(const std::u16string& text) = 0;
  virtual void SetTitle(const std::u16string& text) = 0;
  virtual void SetVersion(const std::u16string& text) = 0;
  virtual void SetCopyright(const std::u16string& text) = 0;
  virtual void SetMemory(const std::u16string& text) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void Close() = 0;
};

inline constexpr char16_t kSysInfoUnavailable[] = u"現時点ではｼｽﾃﾑ情報を使用できません";
inline constexpr char16_t kSysInfoKey[] = u"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr char16_t kSysInfoValue[] = u"PATH";
inline constexpr char16_t kSysInfoLocationKey[] = u"SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr char16_t kSysInfoLocationValue[] = u"MSINFO";

// Digits in groups of three with separator between them, no leading zeros;
// zero is "0".
std::u16string GroupDigits(std::uint64_t number, std::u16string_view separator);

class AboutBox {
 public:
  AboutBox(AboutBoxView& view, AboutBoxSystem& system, MessageBoxes& boxes)
      : view_(view), system_(system), boxes_(boxes) {}

  void FormLoad();
  void OkClicked() { view_.Close(); }
  void SysInfoClicked();

 private:
  std::optional<std::u16string> FindSysInfoProgram();

  AboutBoxView& view_;
  AboutBoxSystem& system_;
  MessageBoxes& boxes_;
};

}  // namespace zkq
