#pragma once
// The program's version: four numbers separated by ".", set once in the
// build and embedded in the executable as a small version resource that
// GetVersionInfoString can read back from any of our files.
#include <string>

// One string of a file's version resource ("fileversion"), or "" when the
// file does not exist, has no resource or lacks the key.
std::string GetVersionInfoString(const std::string& fileName, const std::string& key);
// The first n parts of this program's "fileversion" (n capped at 4).
std::string GetVersionText(int n);
// The same rule applied to a given version string.
std::string VersionPrefix(const std::string& version, int n);
// This executable's path.
std::string ProgramFileName();
// When this program was built, as a UTC date-time.
double ProgramBuildTimeUtc();
