// The portable profile reader and writer against the system's own
// GetPrivateProfileStringA and WritePrivateProfileStringA, on the same files.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/profile.h"

namespace zkq::profile {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// The system reads with a full path: a bare name would mean the Windows folder.
std::string Ansi(const fs::path& p) { return fs::absolute(p).string(); }

std::string SystemRead(const fs::path& file, const std::string& section, const std::string& key) {
  std::string buffer(255, '\0');
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), 255,
                           Ansi(file).c_str());
  return buffer.substr(0, buffer.find('\0'));
}

bool SystemWrite(const fs::path& file, const std::string& section, const std::string& key,
                 const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    Ansi(file).c_str()) != FALSE;
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : content) {
    if (c == '\r' || c == '\n') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

class ProfileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("zkq-profile-") + info->name());
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (const auto& entry : fs::directory_iterator(dir_)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

const std::string k300(300, 'x');
const std::string kKanji = "\x8A\xC4\x8E\x8B";  // 監視
const std::string kA = "\x83\x41";              // ア

struct Probe {
  std::string section, key;
};

struct FileCase {
  const char* name;
  std::string content;
  std::vector<Probe> probes;
};
// Names the case in test listings (the default prints its bytes).
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

const std::vector<Probe> kUsual = {{"s", "k"}, {"S", "K"}, {"s", "j"}, {"t", "k"}, {"x", "k"}};

const FileCase kFileCases[] = {
    {"case_of_names",
     "[ZkQuorVane]\r\nINTERVAL=5\r\nsmtpserver=mail\r\n",
     {{"zkquorvane", "Interval"}, {"ZKQUORVANE", "SmtpServer"}, {"zkQuorvane", "From"}}},
    {"blanks", "  [s]  \r\n\t k \t=\t v w \t\r\n  j=  \r\n", kUsual},
    {"blanks_inside_brackets", "[ s ]\r\nk=1\r\n[\tt\t]\r\nk=2\r\n", kUsual},
    {"blanks_in_asked_names", "[s]\r\nk=1\r\n", {{" s ", " k "}, {"\ts", "k\t"}}},
    {"double_quotes", "[s]\r\nk=\" a b \"\r\nj=  \"x\"  \r\n", kUsual},
    {"single_quotes", "[s]\r\nk=' a '\r\nj=''\r\n", kUsual},
    {"unmatched_quotes", "[s]\r\nk=\"abc\r\nj=abc\"\r\n[t]\r\nk=\"x'\r\n[x]\r\nk=\"\r\n", kUsual},
    {"only_outer_quotes", "[s]\r\nk=\"\"x\"\"\r\nj='\"x\"'\r\n", kUsual},
    {"semicolon_in_value", "[s]\r\nk=a;b ; c\r\nj=;x\r\n", kUsual},
    {"equals_in_value", "[s]\r\nk==a=b\r\nj=a==\r\n", kUsual},
    {"empty_value", "[s]\r\nk=\r\nj=1\r\n", kUsual},
    {"duplicate_keys", "[s]\r\nk=1\r\nK=2\r\nj=\r\nj=3\r\n", kUsual},
    {"duplicate_sections", "[s]\r\nj=1\r\n[t]\r\nk=t\r\n[S]\r\nk=2\r\nj=9\r\n", kUsual},
    {"value_of_300_bytes", "[s]\r\nk=" + k300 + "\r\nj=\"" + k300 + "\"\r\n", kUsual},
    {"shift_jis",
     "[" + kKanji + "]\r\n" + kKanji + "=" + kKanji + "\x83\x5C\r\n",
     {{kKanji, kKanji}, {kKanji, "k"}}},
    {"double_byte_at_254",
     "[s]\r\nk=" + std::string(253, 'x') + kA + "\r\nj=" + std::string(252, 'x') + kA + "z\r\n",
     kUsual},
    {"bracket_byte_in_section_name",
     "[\x83\x5D]\r\nk=1\r\n[\x81\x5B]\r\nk=2\r\n",
     {{"\x83\x5D", "k"}, {"\x81\x5B", "k"}}},
    {"full_width_letters",
     "[\x82\x60\x82\x61]\r\n\x82\x81=1\r\n",
     {{"\x82\x81\x82\x82", "\x82\x60"}, {"\x82\x60\x82\x61", "\x82\x81"}, {"AB", "a"}}},
    {"lines_without_equals", "[s]\r\nk\r\nk=1\r\nother\r\nj=2\r\n", kUsual},
    {"comments", "; [s]\r\n[s]\r\n;k=1\r\n  ; j=2\r\nk=3\r\n", kUsual},
    {"text_after_bracket", "[s] trailing\r\nk=1\r\n", kUsual},
    {"unclosed_bracket", "[s]\r\n[t\r\nk=1\r\n", kUsual},
    {"lf_file", "[s]\nk=1\nj=2\n[t]\nk=3", kUsual},
    {"crlf_without_final_break", "[s]\r\nk=1\r\nj=2", kUsual},
    {"key_before_sections", "k=0\r\n[s]\r\nj=1\r\n", kUsual},
    {"empty_file", "", kUsual},
    {"cr_file", "[s]\rk=1\rj=2\r", kUsual},
    {"byte_order_mark", "\xEF\xBB\xBF[s]\r\nk=1\r\n", kUsual},
    {"ideographic_space", "[s]\r\nk=\x81\x40v\x81\x40\r\n\x81\x40j=2\r\n", kUsual},
    {"control_blanks", "[s]\r\nk=\x0Bv\x0C\r\nj=\x1Aw\x1A\r\n", kUsual},
};

class ReadCompareTest : public ProfileSystemTest, public testing::WithParamInterface<FileCase> {};

TEST_P(ReadCompareTest, ReadsWhatTheSystemReads) {
  const FileCase& c = GetParam();
  const fs::path file = dir_ / "a.ini";
  Put(file, c.content);
  for (const Probe& p : c.probes) {
    EXPECT_EQ(Read(file, p.section, p.key), SystemRead(file, p.section, p.key))
        << "[" << p.section << "] " << p.key;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadCompareTest, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<FileCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ProfileSystemTest, MissingFileReadsEmptyLikeTheSystem) {
  const fs::path file = dir_ / "none.ini";
  EXPECT_EQ(SystemRead(file, "s", "k"), "");
  EXPECT_EQ(Read(file, "s", "k"), "");
}

struct WriteCase {
  const char* name;
  std::string content;  // nothing written first when "<none>"
  std::string section, key, value;
};
// Names the case in test listings (the default prints its bytes).
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

const WriteCase kWriteCases[] = {
    {"new_file", "<none>", "zkQuorvane", "Interval", "5"},
    {"empty_file", "", "zkQuorvane", "Interval", "5"},
    {"replace_in_existing_section", "; mine\r\n[s]\r\na=1\r\nk = old\r\nz=2\r\n", "s", "K", "new"},
    {"add_to_existing_section", "[s]\r\na=1\r\n\r\n[t]\r\nb=2\r\n", "s", "k", "v"},
    {"new_section", "[t]\r\nb=2\r\n", "s", "k", "v"},
    {"into_first_of_duplicate_sections", "[s]\r\na=1\r\n[s]\r\nk=2\r\n", "s", "k", "v"},
    {"first_of_duplicate_keys", "[s]\r\nk=1\r\nk=2\r\n", "s", "k", "3"},
    {"lf_file", "[s]\na=1\n[t]\nb=2\n", "t", "c", "3"},
    {"no_final_break", "[s]\r\na=1", "s", "k", "v"},
    {"shift_jis_value", "[zkQuorvane]\r\nSubject=x\r\n", "zkQuorvane", "Subject",
     kKanji + "\x83\x5C"},
    {"line_without_equals", "[s]\r\nk\r\n", "s", "k", "v"},
    {"empty_value", "[s]\r\nk=1\r\n", "s", "k", ""},
};

class WriteCompareTest : public ProfileSystemTest, public testing::WithParamInterface<WriteCase> {};

// Both writers get the same file; afterwards every key reads the same from
// both files, through both readers. Layout may differ (the system may rewrite
// "a = 1" as "a=1"); ours must keep every other line as it was.
TEST_P(WriteCompareTest, WritesWhatTheSystemWrites) {
  const WriteCase& c = GetParam();
  const fs::path ours = dir_ / "ours.ini", theirs = dir_ / "theirs.ini";
  if (c.content != "<none>") {
    Put(ours, c.content);
    Put(theirs, c.content);
  }
  ASSERT_TRUE(SystemWrite(theirs, c.section, c.key, c.value));
  ASSERT_TRUE(Write(ours, c.section, c.key, c.value));

  std::vector<Probe> probes = {{c.section, c.key}};
  for (const char* s : {"s", "t", "zkQuorvane"}) {
    for (const char* k : {"a", "b", "c", "k", "z", "Subject", "Interval"}) probes.push_back({s, k});
  }
  for (const Probe& p : probes) {
    const std::string expected = SystemRead(theirs, p.section, p.key);
    EXPECT_EQ(SystemRead(ours, p.section, p.key), expected) << "[" << p.section << "] " << p.key;
    EXPECT_EQ(Read(ours, p.section, p.key), expected) << "[" << p.section << "] " << p.key;
  }
  EXPECT_EQ(Read(ours, c.section, c.key), c.value);

  // Every line of the old file but the one replaced is still there, in order.
  const std::vector<std::string> before = Lines(c.content == "<none>" ? "" : c.content);
  const std::vector<std::string> after = Lines(Slurp(ours));
  std::size_t matched = 0, j = 0;
  for (const std::string& line : before) {
    std::size_t at = j;
    while (at < after.size() && after[at] != line) ++at;
    if (at < after.size()) {
      ++matched;
      j = at + 1;
    }
  }
  EXPECT_GE(matched + 1, before.size());
  EXPECT_LE(after.size(), before.size() + 3);
  EXPECT_FALSE(fs::exists(dir_ / "ours.ini.tmp"));
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteCompareTest, testing::ValuesIn(kWriteCases),
                         [](const testing::TestParamInfo<WriteCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ProfileSystemTest, ReadOnlyFileIsRefusedAndKept) {
  const std::string content = "[s]\r\nk=old\r\n";
  const fs::path ours = dir_ / "ours.ini";
  Put(ours, content);
  ASSERT_TRUE(SetFileAttributesW(ours.c_str(), FILE_ATTRIBUTE_READONLY));
  // Windows refuses to write a read-only file. Wine, run as root here, may
  // write it anyway, so only our side is held to it.
  EXPECT_FALSE(Write(ours, "s", "k", "new"));
  EXPECT_EQ(Slurp(ours), content);
  EXPECT_EQ(GetFileAttributesW(ours.c_str()) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(fs::exists(dir_ / "ours.ini.tmp"));
}

TEST_F(ProfileSystemTest, MissingFolderFailsLikeTheSystem) {
  EXPECT_FALSE(SystemWrite(dir_ / "no" / "theirs.ini", "s", "k", "v"));
  EXPECT_FALSE(Write(dir_ / "no" / "ours.ini", "s", "k", "v"));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(ProfileSystemTest, RenameReplacesAnExistingFileRepeatedly) {
  const fs::path file = dir_ / "a.ini";
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(Write(file, "s", "k", std::to_string(i)));
    EXPECT_EQ(SystemRead(file, "s", "k"), std::to_string(i));
  }
}

TEST_F(ProfileSystemTest, JapaneseFolderNameWorks) {
  const fs::path folder = dir_ / fs::path(L"\u76E3\u8996");  // 監視
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    // Wine maps such names to the host's file names through the locale; without
    // a UTF-8 locale there it cannot create them at all.
    GTEST_SKIP() << "the system cannot create a folder with a Japanese name here (error "
                 << GetLastError() << ")";
  }
  const fs::path file = folder / "a.ini";
  ASSERT_TRUE(Write(file, "s", "k", "v"));
  ASSERT_TRUE(Write(file, "s", "j", "w"));
  EXPECT_EQ(Read(file, "s", "k"), "v");
  EXPECT_EQ(Slurp(file), "[s]\r\nk=v\r\nj=w\r\n");
  EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace zkq::profile
