#pragma once
// "Check for updates" without Qt: the update information file (an ini file,
// "Version" of section "UPDATEInfo") and what its version means for this
// installation. The download and the dialog live in app/gui/updateform.
#include <string>
#include <string_view>

// The local copy of the update information file, beside the program.
inline constexpr const char* kUpdateInfoDir = "UpdInfo";
inline constexpr const char* kUpdateInfoFile = "UpdInfo/KALOUPD.ini";

// The value of key in section of an ini file as written after "=" (only the
// line end removed), or "" when the file, the section or the key is missing.
// Section and key names match without regard to case, as Windows ini files do.
std::string ReadIniString(const std::string& fileName, std::string_view section, std::string_view key);

// "Version" of section "UPDATEInfo" of an update information file.
std::string ReadUpdateVersion(const std::string& fileName);

enum class TUpdateResult { Failed, UpToDate, UpdateNeeded };

// The outcome of a check: a failed transfer says nothing about versions; any
// difference from the installed version (an older or an empty one too) asks
// for an update. Blanks around the downloaded version do not count.
TUpdateResult UpdateResult(bool checked, const std::string& currentVersion, const std::string& installedVersion);
