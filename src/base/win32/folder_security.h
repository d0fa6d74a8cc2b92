#pragma once
// The Windows side of the program's own folders: the state folder under
// %ProgramData% that only SYSTEM and Administrators may use, and what the
// security of a file or folder says about who may change it
// (base/folder_safety.h decides).
#include <windows.h>

#include <optional>
#include <string>

#include "base/folder_safety.h"

namespace zkq::win32 {

// SYSTEM and Administrators full control, for the folder and all inside it;
// nothing inherited from above.
inline constexpr wchar_t kStateFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// %ProgramData%\zkQuorvane; "" when the system does not tell where that is.
std::wstring StateFolderPath();

// Creates folder with kStateFolderSddl unless it exists; true when it exists
// afterwards and no other account than SYSTEM, Administrators (and the
// administrator running this) may change it.
bool CreateStateFolder(const std::wstring& folder);

// Whether this process may create files in folder (tried with a temporary
// file that is removed again).
bool CanWriteIn(const std::wstring& folder);

// The owner and access entries of a file or folder; nothing when they cannot
// be read.
std::optional<ObjectSecurity> ReadObjectSecurity(const std::wstring& path);

// "DOMAIN\name" of a SID ("S-1-…"), or the SID itself when it has no name here.
std::u16string AccountOfSid(const std::string& sid);

// The SID of the account running this process.
std::string ProcessUserSid();

// The SID of the account running this process when it runs with the rights
// of the Administrators group (elevated); "" otherwise.
std::string AdministratorRunningThis();

// The text of a SID; "" when it is none.
std::string SidText(PSID sid);

}  // namespace zkq::win32
