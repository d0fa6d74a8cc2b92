#include "about/about_box.h"

namespace zkq {
namespace {

std::u16string Decimal(std::uint64_t number) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

// Resets the cursor however the handler ends.
class BusyCursor {
 public:
  explicit BusyCursor(AboutBoxView& view) : view_(view) { view_.SetBusyCursor(true); }
  ~BusyCursor() { view_.SetBusyCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  AboutBoxView& view_;
};

}  // namespace

std::u16string GroupDigits(std::uint64_t number, std::u16string_view separator) {
  const std::u16string digits = Decimal(number);
  std::u16string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

void AboutBox::FormLoad() {
  BusyCursor busy(view_);
  view_.SetCaption(std::u16string(kAppTitle) + u"のﾊﾞｰｼﾞｮﾝ情報");
  view_.SetTitle(kAppTitle);
  const ProgramVersion version = system_.ReadProgramVersion();
  view_.SetVersion(u"Version " + Decimal(version.major) + u"." + Decimal(version.minor) + u"." +
                   Decimal(version.revision));
  view_.SetCopyright(version.legalCopyright);
  view_.SetMemory(u"Windowsが使用できる物理ﾒﾓﾘ: " +
                  GroupDigits(system_.PhysicalMemoryBytes() / 1024, system_.ThousandsSeparator()) +
                  u" KB");
}

std::optional<std::u16string> AboutBox::FindSysInfoProgram() {
  // An empty value names no program, so it counts as absent.
  if (auto path = system_.ReadMachineString(kSysInfoKey, kSysInfoValue); path && !path->empty()) {
    return path;
  }
  if (auto folder = system_.ReadMachineString(kSysInfoLocationKey, kSysInfoLocationValue);
      folder && !folder->empty()) {
    std::u16string file = *folder + u"\\MSINFO32.EXE";
    if (system_.FileExists(file)) return file;
  }
  return std::nullopt;
}

void AboutBox::SysInfoClicked() {
  bool started = false;
  try {
    const auto program = FindSysInfoProgram();
    started = program && system_.StartProgram(*program);
  } catch (...) {
    started = false;
  }
  if (!started) boxes_.Show(kSysInfoUnavailable, MessageIcon::None);
}

}  // namespace zkq
