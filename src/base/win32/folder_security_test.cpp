// The state folder as Windows makes it, and a rewrite inside it.
#include "base/win32/folder_security.h"

#include <gtest/gtest.h>

#include <set>

#include "base/files.h"
#include "base/testing/scratch_folder.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::set<std::string> Grantees(const ObjectSecurity& security) {
  std::set<std::string> sids;
  for (const AccessEntry& entry : security.entries) {
    if (entry.allows) sids.insert(entry.sid);
  }
  return sids;
}

TEST(StateFolder, GrantsSystemAndAdministratorsOnlyAlsoToARewrittenFile) {
  test_support::ScratchFolder scratch("zkq-state-");
  const fs::path folder = scratch.Path() / "zkQuorvane";
  ASSERT_TRUE(win32::CreateStateFolder(folder.wstring()));
  ASSERT_TRUE(win32::CreateStateFolder(folder.wstring())) << "an existing folder is kept";
  EXPECT_TRUE(win32::CanWriteIn(folder.wstring()));
  EXPECT_FALSE(win32::CanWriteIn((folder / "missing").wstring()));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 0)
      << "the write probe is gone";

  const fs::path ini = folder / "zkQuorvane.ini";
  ASSERT_TRUE(ReplaceFileAtomically(ini, "[zkQuorvane]\r\n"));
  ASSERT_TRUE(ReplaceFileAtomically(ini, "[zkQuorvane]\r\nInterval=5\r\n")) << "replaced";
  const std::string installer = win32::AdministratorRunningThis();
  EXPECT_FALSE(installer.empty()) << "the tests run as an administrator";
  for (const fs::path& path : {folder, ini}) {
    const auto security = win32::ReadObjectSecurity(path.wstring());
    ASSERT_TRUE(security) << path;
    // Wine keeps no permissions of its own on files: it shows the owner's
    // and the Unix mode's, so only Windows can show the folder's.
    if (UnderWine()) {
      EXPECT_EQ(UntrustedWriter(*security, installer), std::nullopt) << path;
      continue;
    }
    EXPECT_EQ(Grantees(*security), (std::set<std::string>{kSystemSid, kAdministratorsSid})) << path;
    EXPECT_EQ(UntrustedWriter(*security), std::nullopt) << path;
  }
  EXPECT_EQ(win32::AccountOfSid(kSystemSid), u"NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(win32::AccountOfSid("S-1-5-21-9-9-9-4242"), u"S-1-5-21-9-9-9-4242");
}

}  // namespace
}  // namespace zkq
