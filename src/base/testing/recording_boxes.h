#pragma once
// A MessageBoxes that keeps what it was asked to show, for tests.
#include <string>
#include <vector>

#include "base/ports.h"

namespace zkq::test_support {

struct ShownBox {
  std::u16string text;
  MessageIcon icon;
};

class RecordingBoxes : public MessageBoxes {
 public:
  void Show(const std::u16string& text, MessageIcon icon) override { shown.push_back({text, icon}); }
  std::vector<ShownBox> shown;
};

}  // namespace zkq::test_support
