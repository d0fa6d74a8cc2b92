// Any bytes as a rules file: loading never crashes and reports a failure with
// exactly one message; what loads saves and loads back to the same rules.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "rules/matching.h"
#include "base/text.h"
#include "rules/rules_file.h"

namespace {

namespace fs = std::filesystem;
using zkq::MessageIcon;
using zkq::MonitoringRule;
using zkq::RuleLog;
using zkq::RuleSet;

class CountingBoxes : public zkq::MessageBoxes {
 public:
  void Show(const std::u16string& text, MessageIcon icon) override {
    ++count;
    lastText = text;
    lastIcon = icon;
  }
  int count = 0;
  std::u16string lastText;
  MessageIcon lastIcon = MessageIcon::None;
};

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "rules_fuzz: %s\n", what);
  std::abort();
}

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    auto d = fs::temp_directory_path() / ("zkq-rules-fuzz-" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(static_cast<bool>(out), "cannot write the input file");
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Trimmed(std::u16string_view field) {
  return field.empty() || (field.front() != u' ' && field.back() != u' ');
}

bool NoLineEnd(std::u16string_view field) {
  return field.find_first_of(u"\r\n") == std::u16string_view::npos;
}

// A field the code page cannot hold comes back as something else ("?"), so
// only fields that survive encoding can be expected to round-trip.
bool SurvivesCodePage(std::u16string_view field) {
  return zkq::DecodeCp932(zkq::EncodeCp932(field)) == field;
}

// What every loaded rule must look like, and whether it can round-trip.
bool CheckLoadedRule(const MonitoringRule& rule, RuleLog list) {
  Check(rule.log == list, "rule in the wrong list");
  const std::u16string_view fields[] = {rule.target,  rule.eventType,   rule.source, rule.category,
                                        rule.eventId, rule.serviceName, rule.state};
  bool survives = true;
  for (const auto field : fields) {
    Check(Trimmed(field), "loaded field keeps a blank at an end");
    Check(NoLineEnd(field), "loaded field holds a line end");
    survives = survives && SurvivesCodePage(field);
  }
  // Only the event ID, the last field of a line, may hold the separator.
  constexpr std::size_t kEventIdField = 4;
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    if (i == kEventIdField) continue;
    Check(fields[i].find(u';') == std::u16string_view::npos, "separator inside a middle field");
  }
  if (list == RuleLog::Service) {
    Check(rule.target.empty() && rule.eventType.empty() && rule.source.empty() &&
              rule.category.empty() && rule.eventId.empty(),
          "service rule with event fields");
  } else {
    Check(rule.serviceName.empty() && rule.state.empty(), "event rule with service fields");
    // A rule covers an event made of its own fields, and so passes it alone.
    Check(zkq::RuleCovers(rule, rule.eventType, rule.source, rule.category, rule.eventId),
          "rule does not cover its own fields");
  }
  return survives;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const fs::path input = WorkDir() / "input.txt";
  WriteBytes(input, bytes);

  CountingBoxes boxes;
  RuleSet loaded;
  const bool ok = zkq::LoadRuleLists(input, loaded, boxes);
  RuleSet parsed;
  Check(zkq::ParseRuleLists(bytes, parsed) == ok, "file and bytes disagree on success");
  Check(parsed == loaded, "file and bytes give different rules");

  if (!ok) {
    Check(boxes.count == 1 && boxes.lastIcon == MessageIcon::Exclamation &&
              boxes.lastText == zkq::kRulesLoadFailedMessage,
          "a failed load must show the load-failure message once");
  } else {
    Check(boxes.count == 0, "a successful load shows no message");
  }

  bool roundTrips = true;
  for (const RuleLog list :
       {RuleLog::System, RuleLog::Security, RuleLog::Application, RuleLog::Service}) {
    for (const auto& rule : loaded[list]) roundTrips = CheckLoadedRule(rule, list) && roundTrips;
  }
  if (!ok) return 0;

  // Saved over the file it was loaded from, as the rules editor does, so the
  // file keeps its encoding.
  const zkq::TextEncoding readAs = zkq::DetectTextEncoding(bytes);
  CountingBoxes saveBoxes;
  Check(zkq::SaveRuleLists(input, loaded, saveBoxes), "saving loaded rules failed");
  Check(saveBoxes.count == 1 && saveBoxes.lastIcon == MessageIcon::Information,
        "a save shows the update message once");
  const std::string first = ReadBytes(input);
  // The one case the detection cannot tell: what is left of a code page 932
  // file (or a UTF-8 one without multi-byte characters any more) reads as
  // another encoding.
  const zkq::TextEncoding savedAs = zkq::DetectTextEncoding(first);
  if (savedAs != readAs) return 0;

  CountingBoxes againBoxes;
  RuleSet again;
  Check(zkq::LoadRuleLists(input, again, againBoxes), "a saved file does not load");
  if (roundTrips) Check(again == loaded, "saved rules load back different");

  // Whatever the code page changed, the second save writes what the first did.
  Check(zkq::FormatRuleLists(again, savedAs) == first, "saving is not stable");
  return 0;
}
