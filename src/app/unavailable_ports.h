#pragma once
// Stand-ins for the parts of the program that this version does not have yet:
// the settings dialog, the rules editor and the about box.
// Each says plainly that it did nothing, none pretends to have succeeded.
#include "app/main_window.h"
#include "base/ports.h"

namespace zkq {

// No settings dialog, rules editor or about box yet: each tells the user so.
class UnavailableDialogs : public MainWindowDialogs {
 public:
  explicit UnavailableDialogs(MessageBoxes& boxes) : boxes_(boxes) {}
  bool OpenSettingsDialog(Settings& settings) override;
  void OpenRulesEditor(const std::filesystem::path& rulesFile) override;
  void OpenAboutBox() override;

 private:
  MessageBoxes& boxes_;
};

inline constexpr char16_t kSettingsDialogUnavailable[] =
    u"アプリケーションの設定画面はこの版ではまだ使えません。";
inline constexpr char16_t kRulesEditorUnavailable[] =
    u"監視ルールの設定画面はこの版ではまだ使えません。";
inline constexpr char16_t kAboutBoxUnavailable[] = u"バージョン情報はこの版ではまだ使えません。";

}  // namespace zkq
