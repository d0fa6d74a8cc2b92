#pragma once
// frmRules on Windows: the modal dialog of the rules editor. Its behaviour is
// the RulesEditor presenter's; this window shows the lists, fields and buttons
// and forwards clicks, selection changes and keys.
#include <filesystem>

#include "base/win32/window_base.h"
#include "rules/rules_editor.h"

namespace zkq::win32 {

class RulesEditorWin32 final : public RulesEditorView, public DialogBase<RulesEditorWin32> {
 public:
  explicit RulesEditorWin32(MessageBoxes& boxes) : boxes_(boxes) {}
  RulesEditorWin32(const RulesEditorWin32&) = delete;
  RulesEditorWin32& operator=(const RulesEditorWin32&) = delete;

  // Shows the dialog modally over owner until it closes.
  void Run(HINSTANCE instance, HWND owner, RulesEditor& presenter);

  // RulesEditorView
  void SetCaption(const std::u16string& text) override;
  void SetRows(int panel, const std::vector<std::vector<std::u16string>>& rows) override;
  int CurrentRow(int panel) override;
  void SetCurrentRow(int panel, int row) override;
  std::u16string FieldText(int panel, RuleField field) override;
  void SetFieldText(int panel, RuleField field, const std::u16string& text) override;
  void SetChannelEntries(const std::vector<std::u16string>& channels) override;
  void EnableButtons(int panel, bool up, bool down, bool registerRule, bool deleteRule) override;
  void Focus(int panel, RuleField field) override;
  void SetBusyCursor(bool busy) override;
  void Close() override;

  // For the dialog base.
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowFailure(const std::u16string& description) noexcept;

 private:
  void SetUp();
  HWND Control(int panel, int offset) const;
  bool Command(int id);

  MessageBoxes& boxes_;
  HINSTANCE instance_ = nullptr;
  RulesEditor* presenter_ = nullptr;
  HWND tooltips_ = nullptr;
  UniqueIcon up_, down_;
  int updating_ = 0;  // selection changes made by the editor itself are not the user's
  bool closed_ = false;
};

// Opens the rules editor on the rules file over owner and returns once it has
// closed; its channel box offers what channels lists.
void OpenRulesEditorWindow(HINSTANCE instance, HWND owner, const std::filesystem::path& rulesFile,
                           MessageBoxes& boxes, ListChannelNames channels);

}  // namespace zkq::win32
