#include "eventlog/category.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"

namespace zkq {
namespace {

// Registry, environment and modules held in maps; every call is recorded so
// that a test can tell which module the resolver asked for.
class FakeTables : public MessageTables {
 public:
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> registry;
  std::map<std::u16string, std::u16string> environment;
  std::map<std::pair<std::u16string, std::uint32_t>, std::u16string> modules;

  std::vector<std::pair<std::u16string, std::u16string>> keyCalls;
  std::vector<std::u16string> environmentCalls;
  std::vector<std::pair<std::u16string, std::uint32_t>> moduleCalls;

  std::optional<std::u16string> CategoryMessageFile(std::u16string_view logName,
                                                    std::u16string_view source) override {
    keyCalls.emplace_back(logName, source);
    const auto it = registry.find({std::u16string(logName), std::u16string(source)});
    if (it == registry.end()) return std::nullopt;
    return it->second;
  }
  std::u16string Environment(std::u16string_view name) override {
    environmentCalls.emplace_back(name);
    const auto it = environment.find(std::u16string(name));
    return it == environment.end() ? std::u16string() : it->second;
  }
  std::u16string FormatModuleMessage(std::u16string_view path, std::uint32_t messageId) override {
    moduleCalls.emplace_back(path, messageId);
    const auto it = modules.find({std::u16string(path), messageId});
    return it == modules.end() ? std::u16string() : it->second;
  }
  std::u16string FormatSystemMessage(std::uint32_t) override { return {}; }
};

struct PathCase {
  const char* name;
  std::u16string value;                  // the registered CategoryMessageFile
  std::optional<std::u16string> module;  // the module asked for, nothing when none
  std::u16string expected;               // the resolved text
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class CategoryPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(CategoryPathTest, ResolvesThroughTheRegisteredModule) {
  const PathCase& c = GetParam();
  FakeTables tables;
  tables.registry[{u"System", u"Disk"}] = c.value;
  tables.environment[u"SystemRoot"] = u"C:\\WINDOWS";
  tables.environment[u"X"] = u"D:\\lib";
  for (const auto* path : {u"C:\\WINDOWS\\System32\\netevent.dll", u"D:\\lib\\cat.dll",
                           u"C:\\cat.dll", u"\\cat.dll", u"a.dll;b.dll"}) {
    tables.modules[{path, 3}] = u"ディスク\r\n";
  }
  // The ";" list is not a loadable module.
  tables.modules.erase({u"a.dll;b.dll", 3});

  EXPECT_EQ(ResolveCategoryText(tables, u"System", u"Disk", 3), c.expected);
  if (c.module) {
    ASSERT_EQ(tables.moduleCalls.size(), 1u);
    EXPECT_EQ(tables.moduleCalls[0].first, *c.module);
    EXPECT_EQ(tables.moduleCalls[0].second, 3u);
  } else {
    EXPECT_TRUE(tables.moduleCalls.empty());
  }
}

const std::u16string kKanji127(127, u'漢');  // 254 bytes in code page 932

INSTANTIATE_TEST_SUITE_P(
    Paths, CategoryPathTest,
    testing::Values(
        PathCase{"PlainPath", u"C:\\cat.dll", u"C:\\cat.dll", u"ディスク\r\n"},
        PathCase{"SystemRoot", u"%SystemRoot%\\System32\\netevent.dll",
                 u"C:\\WINDOWS\\System32\\netevent.dll", u"ディスク\r\n"},
        PathCase{"DropsWhatPrecedesTheVariable", u"C:\\%X%\\cat.dll", u"D:\\lib\\cat.dll",
                 u"ディスク\r\n"},
        PathCase{"UnsetVariableExpandsToNothing", u"%Unset%\\cat.dll", u"\\cat.dll",
                 u"ディスク\r\n"},
        PathCase{"OnlyTheFirstVariable", u"%X%\\%SystemRoot%\\cat.dll",
                 u"D:\\lib\\%SystemRoot%\\cat.dll", u""},
        PathCase{"EmptyVariableName", u"%%C:\\cat.dll", u"C:\\cat.dll", u"ディスク\r\n"},
        PathCase{"NoClosingPercent", u"a%b", std::nullopt, u""},
        PathCase{"NoClosingPercentAfterText", u"C:\\%SystemRoot\\cat.dll", std::nullopt, u""},
        PathCase{"SemicolonListPassedWhole", u"a.dll;b.dll", u"a.dll;b.dll", u""},
        PathCase{"ValueMissing", u"", std::nullopt, u""},
        PathCase{"TextEndsAtNul", std::u16string(u"C:\\cat.dll\0D:\\x.dll", 19), u"C:\\cat.dll",
                 u"ディスク\r\n"},
        PathCase{"VariableExpandsToNothingAtAll", u"%Unset%", std::nullopt, u""},
        // 255 bytes in code page 932 still fit the value's buffer, 256 do not;
        // the count is in bytes, not in characters.
        PathCase{"Limit255Bytes", u"C" + kKanji127, u"C" + kKanji127, u""},
        PathCase{"Over255Bytes", u"漢" + kKanji127, std::nullopt, u""},
        PathCase{"Over255BytesAscii", u"C:\\" + std::u16string(253, u'a'), std::nullopt, u""}),
    [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(ResolveCategoryText, MissingKeyGivesEmptyWithoutLookingFurther) {
  FakeTables tables;
  tables.registry[{u"Application", u"Other"}] = u"C:\\cat.dll";
  EXPECT_EQ(ResolveCategoryText(tables, u"Application", u"Missing", 1), u"");
  ASSERT_EQ(tables.keyCalls.size(), 1u);
  EXPECT_EQ(tables.keyCalls[0].first, u"Application");
  EXPECT_EQ(tables.keyCalls[0].second, u"Missing");
  EXPECT_TRUE(tables.environmentCalls.empty());
  EXPECT_TRUE(tables.moduleCalls.empty());
}

TEST(ResolveCategoryText, CategoryNumberSelectsTheMessage) {
  FakeTables tables;
  tables.registry[{u"Security", u"LSA"}] = u"C:\\cat.dll";
  tables.modules[{u"C:\\cat.dll", 1}] = u"ログオン\r\n";
  tables.modules[{u"C:\\cat.dll", 2}] = u"ログオフ\r\n";
  tables.modules[{u"C:\\cat.dll", 65535}] = u"最後\r\n";
  const struct {
    std::uint16_t category;
    std::u16string expected;
  } cases[] = {
      {1, u"ログオン\r\n"}, {2, u"ログオフ\r\n"}, {65535, u"最後\r\n"}, {99, u""}, {0, u""}};
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveCategoryText(tables, u"Security", u"LSA", c.category), c.expected)
        << "category " << c.category;
  }
}

TEST(ResolveCategoryText, SourcesAreKeptApartByLog) {
  FakeTables tables;
  tables.registry[{u"System", u"Shared"}] = u"C:\\system.dll";
  tables.registry[{u"Application", u"Shared"}] = u"C:\\app.dll";
  tables.modules[{u"C:\\system.dll", 1}] = u"システム";
  tables.modules[{u"C:\\app.dll", 1}] = u"アプリ";
  EXPECT_EQ(ResolveCategoryText(tables, u"System", u"Shared", 1), u"システム");
  EXPECT_EQ(ResolveCategoryText(tables, u"Application", u"Shared", 1), u"アプリ");
  EXPECT_EQ(ResolveCategoryText(tables, u"Security", u"Shared", 1), u"");
}

TEST(MakeLanguageId, SubLanguageTimes1024PlusPrimary) {
  const struct {
    std::uint16_t primary, sub, expected;
  } cases[] = {{0, 1, 0x0400}, {0x11, 1, 0x0411}, {0x09, 1, 0x0409}, {0, 0, 0}, {0x09, 2, 0x0809}};
  for (const auto& c : cases) {
    EXPECT_EQ(MakeLanguageId(c.primary, c.sub), c.expected) << c.primary << "," << c.sub;
  }
}

}  // namespace
}  // namespace zkq
