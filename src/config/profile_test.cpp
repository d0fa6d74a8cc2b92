#include "config/profile.h"
#include "base/testing/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace zkq::profile {
namespace {

namespace fs = std::filesystem;

struct ReadCase {
  const char* name;
  std::string content;
  std::string section, key;
  std::string expected;
  std::size_t size = 255;
};
// Names the case in test listings (the default prints its bytes).
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadFromTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadFromTest, GivesTheValueTheProfileFunctionsGive) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(ReadFrom(c.content, c.section, c.key, c.size), c.expected);
}

const std::string k300(300, 'x');
// "ア" is 0x83 0x41 in code page 932; "ー" 0x81 0x5B ends in the byte of "[",
// "ソ" 0x83 0x5C in the byte of "\", "ゼ" 0x83 0x5D in the byte of "]".
const std::string kA = "\x83\x41";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadFromTest,
    testing::Values(
        ReadCase{"plain", "[s]\r\nk=v\r\n", "s", "k", "v"},
        ReadCase{"names_any_case", "[ZkQuorVANE]\r\nINTERVAL=5\r\n", "zkquorvane", "interval", "5"},
        ReadCase{"blanks_around_everything", "  [ s ]  \r\n\t k \t=\t v w \t\r\n", "s", "k", "v w"},
        ReadCase{"blanks_in_asked_names", "[s]\nk=v\n", " s ", " k\t", "v"},
        ReadCase{"double_quotes", "[s]\nk=\" a b \"\n", "s", "k", " a b "},
        ReadCase{"single_quotes", "[s]\nk='x'\n", "s", "k", "x"},
        ReadCase{"quotes_after_blanks", "[s]\nk=  \"x\"  \n", "s", "k", "x"},
        ReadCase{"empty_quotes", "[s]\nk=\"\"\n", "s", "k", ""},
        ReadCase{"unmatched_quote", "[s]\nk=\"abc\n", "s", "k", "\"abc"},
        ReadCase{"mixed_quotes", "[s]\nk=\"abc'\n", "s", "k", "\"abc'"},
        ReadCase{"lone_quote", "[s]\nk=\"\n", "s", "k", "\""},
        ReadCase{"only_one_pair_removed", "[s]\nk=\"\"x\"\"\n", "s", "k", "\"x\""},
        ReadCase{"semicolon_in_value", "[s]\nk=a;b ; c\n", "s", "k", "a;b ; c"},
        ReadCase{"equals_in_value", "[s]\nk==a=b\n", "s", "k", "=a=b"},
        ReadCase{"empty_value", "[s]\nk=\nj=1\n", "s", "k", ""},
        ReadCase{"first_key_wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        ReadCase{"first_section_wins", "[s]\na=1\n[t]\nk=9\n[S]\nk=2\n", "s", "k", ""},
        ReadCase{"key_in_other_section", "[t]\nk=1\n[s]\nj=2\n", "s", "k", ""},
        ReadCase{"key_before_any_section", "k=1\n[s]\nj=2\n", "s", "k", ""},
        ReadCase{"missing_section", "[t]\nk=1\n", "s", "k", ""},
        ReadCase{"missing_key", "[s]\nj=1\n", "s", "k", ""},
        ReadCase{"empty_file", "", "s", "k", ""},
        ReadCase{"line_without_equals_is_the_key", "[s]\nk\nk=1\n", "s", "k", ""},
        ReadCase{"line_without_equals_other_key", "[s]\nother\nk=1\n", "s", "k", "1"},
        ReadCase{"commented_out", "[s]\n;k=1\n  ; k=2\nk=3\n", "s", "k", "3"},
        ReadCase{"lf_only", "[s]\nk=v", "s", "k", "v"},
        ReadCase{"cr_only", "[s]\rk=v\r", "s", "k", "v"},
        ReadCase{"no_final_line_break", "[s]\r\nk=v", "s", "k", "v"},
        ReadCase{"utf8_byte_order_mark", "\xEF\xBB\xBF[s]\r\nk=v\r\n", "s", "k", "v"},
        ReadCase{"text_after_bracket", "[s] ; note\nk=v\n", "s", "k", "v"},
        ReadCase{"unclosed_bracket_is_no_section", "[s]\n[t\nk=v\n", "s", "k", "v"},
        ReadCase{"value_cut_at_254", "[s]\nk=" + k300 + "\n", "s", "k", std::string(254, 'x')},
        ReadCase{"cut_to_buffer", "[s]\nk=abcdef\n", "s", "k", "abc", 4},
        ReadCase{"no_buffer", "[s]\nk=abcdef\n", "s", "k", "", 0},
        ReadCase{"quoted_long_value_cut", "[s]\nk=\"" + k300 + "\"\n", "s", "k",
                 std::string(254, 'x')},
        ReadCase{"double_byte_kept_whole", "[s]\nk=" + std::string(252, 'x') + kA + "z\n", "s", "k",
                 std::string(252, 'x') + kA},
        ReadCase{"double_byte_straddling_254", "[s]\nk=" + std::string(253, 'x') + kA + "\n", "s",
                 "k", std::string(253, 'x')},
        ReadCase{"shift_jis_value", "[s]\nk=\x83\x5C\x83\x74\x83\x67\n", "s", "k",
                 "\x83\x5C\x83\x74\x83\x67"},
        ReadCase{"shift_jis_names", "[\x8A\xC4\x8E\x8B]\n\x83\x4C\x81\x5B=1\n", "\x8A\xC4\x8E\x8B",
                 "\x83\x4C\x81\x5B", "1"},
        ReadCase{"bracket_byte_inside_section_name", "[\x83\x5D]\nk=1\n", "\x83\x5D", "k", "1"},
        ReadCase{"full_width_letters_exact", "[\x82\x60\x82\x61]\nk=1\n", "\x82\x81\x82\x82", "k",
                 ""},
        ReadCase{"trail_byte_is_no_letter", "[\x82\x61]\nk=1\n", "\x82\x41", "k", ""},
        ReadCase{"double_byte_differs_from_ascii", "[\x82\x60]\nk=1\n", "A", "k", ""},
        ReadCase{"control_blanks", "[s]\nk=\x1A\x0Bv\x0C\x1A\n", "s", "k", "v"},
        ReadCase{"ideographic_space_kept", "[s]\nk=\x81\x40v\x81\x40\n", "s", "k",
                 "\x81\x40v\x81\x40"},
        ReadCase{"nul_ends_value", std::string("[s]\nk=ab\0cd\n", 12), "s", "k", "ab"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

struct UpdateCase {
  const char* name;
  std::string before;
  std::string section, key, value;
  std::string after;
};
// Names the case in test listings (the default prints its bytes).
void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

class UpdateContentTest : public testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateContentTest, ChangesOnlyTheKeyLine) {
  const UpdateCase& c = GetParam();
  std::string content = c.before;
  ASSERT_TRUE(UpdateContent(content, c.section, c.key, c.value));
  EXPECT_EQ(content, c.after);
  EXPECT_EQ(ReadFrom(content, c.section, c.key), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateContentTest,
    testing::Values(
        UpdateCase{"new_file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
        UpdateCase{"replace_keeps_other_lines",
                   "; settings\r\n[s]\r\na = 1\r\n  K = old  \r\nz=2\r\n\r\n[t]\r\nk=x\r\n", "s",
                   "k", "new", "; settings\r\n[s]\r\na = 1\r\nK=new\r\nz=2\r\n\r\n[t]\r\nk=x\r\n"},
        UpdateCase{"replace_first_of_two", "[s]\nk=1\nk=2\n", "s", "k", "3", "[s]\nk=3\nk=2\n"},
        UpdateCase{"line_without_equals", "[s]\nk\n", "s", "k", "1", "[s]\nk=1\n"},
        UpdateCase{"add_before_blank_lines", "[s]\na=1\n\n\n[t]\nb=2\n", "s", "k", "v",
                   "[s]\na=1\nk=v\n\n\n[t]\nb=2\n"},
        UpdateCase{"add_after_comment", "[s]\na=1\n; end\n", "s", "k", "v",
                   "[s]\na=1\n; end\nk=v\n"},
        UpdateCase{"add_to_empty_section", "[s]\r\n[t]\r\n", "s", "k", "v",
                   "[s]\r\nk=v\r\n[t]\r\n"},
        UpdateCase{"add_at_end_without_break", "[s]\r\na=1", "s", "k", "v",
                   "[s]\r\na=1\r\nk=v\r\n"},
        UpdateCase{"add_into_first_of_two_sections", "[s]\na=1\n[S]\nb=2\n", "S", "k", "v",
                   "[s]\na=1\nk=v\n[S]\nb=2\n"},
        UpdateCase{"new_section_lf_file", "[t]\nb=2\n", "s", "k", "v", "[t]\nb=2\n\n[s]\nk=v\n"},
        UpdateCase{"new_section_after_blank", "[t]\r\nb=2\r\n\r\n", "s", "k", "v",
                   "[t]\r\nb=2\r\n\r\n[s]\r\nk=v\r\n"},
        UpdateCase{"new_section_no_break", "x=1", "s", "k", "v", "x=1\r\n\r\n[s]\r\nk=v\r\n"},
        UpdateCase{"cr_file", "[s]\ra=1\r", "s", "k", "v", "[s]\ra=1\rk=v\r"},
        UpdateCase{"blank_names_trimmed", "", " s ", " k ", "v", "[s]\r\nk=v\r\n"},
        UpdateCase{"empty_value", "[s]\nk=1\n", "s", "k", "", "[s]\nk=\n"},
        UpdateCase{"shift_jis_value", "[s]\nk=1\n", "s", "k", "\x8C\x8F\x96\xBC",
                   "[s]\nk=\x8C\x8F\x96\xBC\n"}),
    [](const testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

TEST(UpdateContentTest, RefusesWhatTheFormatCannotHold) {
  struct Case {
    std::string section, key, value;
  };
  const Case cases[] = {{"s", "k", "a\r\nInterval=0"},
                        {"s", "k", "a\nb"},
                        {"s", "k", std::string("a\0b", 3)},
                        {"s", "k=j", "v"},
                        {"s", "[k", "v"},
                        {"s", ";k", "v"},
                        {"s]", "k", "v"},
                        {"s\n", "k", "v"},
                        {"", "k", "v"},
                        {"s", "  ", "v"},
                        {"s", "", "v"}};
  for (const Case& c : cases) {
    std::string content = "[s]\nk=old\n";
    EXPECT_FALSE(UpdateContent(content, c.section, c.key, c.value)) << c.key << " " << c.value;
    EXPECT_EQ(content, "[s]\nk=old\n");
  }
}

// Files in a folder of their own, removed afterwards.
class ProfileFileTest : public testing::Test {
 protected:
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  test_support::ScratchFolder folder_{"zkq-profile-"};
  fs::path dir_ = folder_.Path();
};

TEST_F(ProfileFileTest, WriteCreatesTheFileAndReadFindsIt) {
  const fs::path file = dir_ / "a.ini";
  ASSERT_TRUE(Write(file, "zkQuorvane", "Interval", "5"));
  ASSERT_TRUE(Write(file, "zkQuorvane", "Subject", "\x8A\xC4\x8E\x8B"));
  EXPECT_EQ(Read(file, "ZKQUORVANE", "interval"), "5");
  EXPECT_EQ(Read(file, "zkQuorvane", "Subject"), "\x8A\xC4\x8E\x8B");
  EXPECT_EQ(Slurp(file), "[zkQuorvane]\r\nInterval=5\r\nSubject=\x8A\xC4\x8E\x8B\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "a.ini.tmp"));
}

TEST_F(ProfileFileTest, ReadOfAMissingFileOrFolderIsEmpty) {
  EXPECT_EQ(Read(dir_ / "none.ini", "s", "k"), "");
  EXPECT_EQ(Read(dir_ / "no" / "a.ini", "s", "k"), "");
  EXPECT_EQ(Read(dir_, "s", "k"), "");  // a folder, not a file
}

TEST_F(ProfileFileTest, WriteIntoAMissingFolderFails) {
  EXPECT_FALSE(Write(dir_ / "no" / "a.ini", "s", "k", "v"));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(ProfileFileTest, ReadOnlyFileIsRefusedAndKept) {
  const fs::path file = dir_ / "a.ini";
  Put(file, "[s]\nk=old\n");
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_FALSE(Write(file, "s", "k", "new"));
  EXPECT_EQ(Slurp(file), "[s]\nk=old\n");
  EXPECT_FALSE(fs::exists(dir_ / "a.ini.tmp"));
}

// Each write has a temporary file of its own: what an interrupted write left
// behind, or another program holds, is in nobody's way.
TEST_F(ProfileFileTest, WriteIsNotBlockedByStaleTemporaryFilesAndKeepsPermissions) {
  const fs::path file = dir_ / "a.ini";
  Put(file, "[s]\nk=old\n");
  fs::create_directory(dir_ / "a.ini.tmp");
  Put(dir_ / "a.ini.1-1.tmp", "half written");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  const fs::perms before = fs::status(file).permissions();
  ASSERT_TRUE(Write(file, "s", "k", "new"));
  EXPECT_EQ(Slurp(file), "[s]\nk=new\n");
  EXPECT_EQ(fs::status(file).permissions(), before);
  EXPECT_EQ(Slurp(dir_ / "a.ini.1-1.tmp"), "half written");
}

TEST_F(ProfileFileTest, WriteToAFolderNameFails) {
  fs::create_directory(dir_ / "a.ini");
  EXPECT_FALSE(Write(dir_ / "a.ini", "s", "k", "v"));
  EXPECT_TRUE(fs::is_directory(dir_ / "a.ini"));
}

}  // namespace
}  // namespace zkq::profile
