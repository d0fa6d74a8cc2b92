// The settings password through the real DPAPI: a clear one typed into the file
// is used, rewritten protected, and read back by a second start.
#include "config/win32/dpapi_protector.h"

#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <dpapi.h>

#include <fstream>
#include <iterator>

#include "base/testing/recording_boxes.h"
#include "base/testing/scratch_folder.h"

namespace zkq::win32 {
namespace {

TEST(DpapiProtector, ClearPasswordIsProtectedAtTheNextStart) {
  test_support::ScratchFolder folder("zkq-dpapi-");
  const std::filesystem::path path = SettingsPath(folder.Path());
  std::ofstream(path, std::ios::binary)
      << "[zkQuorvane]\r\nInterval=5\r\nSmtpPassword=p\x82\xa0ss word\r\n"  // "pあss word"
      << "OAuthClientSecret=Xy8Q~client.secret\r\n";
  test_support::RecordingBoxes boxes;
  DpapiProtector protector;
  SettingsFile file(path, boxes);
  file.SetProtector(&protector);
  std::int16_t countdown = 0;
  EXPECT_EQ(LoadSettings(file, countdown).SmtpPassword, u"pあss word");

  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(content.find("SmtpPassword=dpapi:"), std::string::npos) << content;
  EXPECT_NE(content.find("OAuthClientSecret=dpapi:"), std::string::npos) << content;
  EXPECT_EQ(content.find("ss word"), std::string::npos) << content;
  EXPECT_EQ(content.find("client.secret"), std::string::npos) << content;
  const Settings again = LoadSettings(file, countdown);
  EXPECT_EQ(again.SmtpPassword, u"pあss word");
  EXPECT_EQ(again.OAuthClientSecret, u"Xy8Q~client.secret");
  EXPECT_FALSE(protector.Unprotect("not a blob"));
  EXPECT_TRUE(boxes.shown.empty());
}

// What an earlier version stored, without the program's entropy, still reads;
// what this one stores needs it.
TEST(DpapiProtector, ReadsOldBlobsAndNeedsItsEntropyForNewOnes) {
  const auto plain = [](std::string_view bytes, bool protect) -> std::optional<std::string> {
    DATA_BLOB in{static_cast<DWORD>(bytes.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
    DATA_BLOB out{};
    const BOOL done = protect
                          ? CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr,
                                             CRYPTPROTECT_LOCAL_MACHINE, &out)
                          : CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out);
    if (!done) return std::nullopt;
    std::string result(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return result;
  };
  DpapiProtector protector;
  const auto old = plain("old secret", true);
  ASSERT_TRUE(old);
  EXPECT_EQ(protector.Unprotect(*old), "old secret");
  const auto fresh = protector.Protect("new secret");
  ASSERT_TRUE(fresh);
  EXPECT_EQ(protector.Unprotect(*fresh), "new secret");
  EXPECT_FALSE(plain(*fresh, false)) << "unprotected without the entropy";
}

}  // namespace
}  // namespace zkq::win32
