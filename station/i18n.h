#pragma once
// The one translation function for user texts. A text without a
// translation in the current catalogue comes back as written.
#include <string>

std::string Tr(const char* text);
std::string Tr(const std::string& text);

// The gettext text domain of the program's catalogues.
inline constexpr const char* kTextDomain = "default";
