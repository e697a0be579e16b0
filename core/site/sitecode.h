#pragma once
// "Set Site code": the checks of a site code and of the credentials file
// chosen for it, and its copy to crdfiles/Cred_<code>.crd. Without Qt, so
// that the dialog only shows what these return.
#include <cstddef>
#include <string>

// SIT_CODE is CHAR(8): a longer code (a credentials record holds up to 10)
// would be cut when the site is saved.
inline constexpr size_t kMaxSiteCodeLength = 8;

// The box a refusal is shown in.
enum class TBoxKind { Information, Warning, Error };

// Codes are the trimmed texts of the dialog. Each check returns the box
// text to show (translated) and sets kind, or returns empty when all fits.

// Before the file chooser opens: a code is there and fits SIT_CODE.
std::string CheckCodeForChoosing(const std::string& code, TBoxKind& kind);
// The code as above, then the chosen file: readable as a record,
// consistent, and issued for this code.
std::string CheckChosenCredentials(const std::string& code, const std::string& path, TBoxKind& kind);
// Before "Activate credentials" copies: a code that fits, an existing
// file, and that file still fitting the code (it may have been chosen for
// a code edited since, or changed on disk).
std::string CheckActivation(const std::string& code, const std::string& sourcePath, TBoxKind& kind);

// Copies sourcePath to CredentialsFileName(code), making ProgramDir()/crdfiles
// when missing and replacing a file of that name. The copy goes to a
// temporary name in crdfiles first, so a failure never leaves part of a
// file under the final name. Throws std::runtime_error naming the file and
// the reason (CheckActivation's refusal included).
void ActivateCredentials(const std::string& code, const std::string& sourcePath);
