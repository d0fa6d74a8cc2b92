#pragma once
// frmAbout on Windows: the modal about box, centred on the screen, and the
// machine it reads (its own version resource, the physical memory, the
// registry and the start of another program). Its behaviour is AboutBox's.
#include <windows.h>

#include "about/about_box.h"
#include "base/win32/window_base.h"

namespace zkq::win32 {

class WindowsAboutSystem final : public AboutBoxSystem {
 public:
  // module: the program whose version resource is shown.
  explicit WindowsAboutSystem(HMODULE module) : module_(module) {}
  ProgramVersion ReadProgramVersion() override;
  std::uint64_t PhysicalMemoryBytes() override;
  std::u16string ThousandsSeparator() override;
  std::optional<std::u16string> ReadMachineString(const std::u16string& key,
                                                  const std::u16string& value) override;
  bool FileExists(const std::u16string& path) override;
  bool StartProgram(const std::u16string& path) override;

 private:
  HMODULE module_;
};

class AboutBoxWin32 final : public AboutBoxView, public DialogBase<AboutBoxWin32> {
 public:
  // iconId: the product icon in instance's resources.
  AboutBoxWin32(MessageBoxes& boxes, int iconId) : boxes_(boxes), iconId_(iconId) {}
  AboutBoxWin32(const AboutBoxWin32&) = delete;
  AboutBoxWin32& operator=(const AboutBoxWin32&) = delete;

  // Shows the box modally over owner until it is closed.
  void Run(HINSTANCE instance, HWND owner, AboutBox& presenter);

  // AboutBoxView
  void SetCaption(const std::u16string& text) override;
  void SetTitle(const std::u16string& text) override;
  void SetVersion(const std::u16string& text) override;
  void SetCopyright(const std::u16string& text) override;
  void SetMemory(const std::u16string& text) override;
  void SetBusyCursor(bool busy) override;
  void Close() override;

  // For the dialog base.
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowFailure(const std::u16string& description) noexcept;

 private:
  void Centre();

  MessageBoxes& boxes_;
  int iconId_;
  HINSTANCE instance_ = nullptr;
  AboutBox* presenter_ = nullptr;
  UniqueIcon icon_;
};

}  // namespace zkq::win32
