#include "base/folder_safety.h"

#include <gtest/gtest.h>

namespace zkq {
namespace {

constexpr char kUsers[] = "S-1-5-32-545", kAuthenticated[] = "S-1-5-11",
               kSomeone[] = "S-1-5-21-1-2-3-1001";
constexpr std::uint32_t kReadExecute = 0x1200A9, kModify = 0x1301BF, kFull = 0x1F01FF;

TEST(UntrustedWriter, NamesTheFirstAccountBesidesTheTrustedOnesThatCanChangeTheObject) {
  const AccessEntry system{true, false, kFull, kSystemSid},
      admins{true, false, kFull, kAdministratorsSid},
      installer{true, false, kFull, kTrustedInstallerSid},
      usersRead{true, false, kReadExecute, kUsers};
  struct Case {
    const char* what;
    ObjectSecurity security;
    std::optional<std::string> writer;
    std::string installer = {};
  };
  const Case cases[] = {
      {"Program Files: read for users, CREATOR OWNER full for what is created inside",
       {kTrustedInstallerSid,
        true,
        {installer, system, admins, usersRead, {true, true, 0x10000000, kCreatorOwnerSid}}},
       std::nullopt},
      {"the state folder", {kAdministratorsSid, true, {system, admins}}, std::nullopt},
      {"a folder made under C:\\ inherits modify for authenticated users",
       {kAdministratorsSid,
        true,
        {system, admins, usersRead, {true, false, kModify, kAuthenticated}}},
       kAuthenticated},
      {"only adding a file is enough",
       {kAdministratorsSid, true, {admins, {true, false, 0x2, kUsers}}},
       kUsers},
      {"changing the permissions is enough",
       {kAdministratorsSid, true, {admins, {true, false, 0x40000, kUsers}}},
       kUsers},
      {"generic write", {kSystemSid, true, {{true, false, 0x40000000, kSomeone}}}, kSomeone},
      {"an inherit-only entry does not apply here",
       {kAdministratorsSid, true, {admins, {true, true, kModify, kUsers}}},
       std::nullopt},
      {"a denial grants nothing",
       {kAdministratorsSid, true, {admins, {false, false, kFull, kUsers}}},
       std::nullopt},
      {"a user's own folder: the owner may rewrite the permissions",
       {kSomeone, true, {system, admins, {true, false, kFull, kSomeone}}},
       kSomeone},
      {"the same folder, registered by its owner as an administrator",
       {kSomeone, true, {system, admins, {true, false, kFull, kSomeone}}},
       std::nullopt,
       kSomeone},
      {"no DACL at all", {kAdministratorsSid, false, {}}, kEveryoneSid},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UntrustedWriter(c.security, c.installer), c.writer) << c.what;
}

}  // namespace
}  // namespace zkq
