#pragma once
// The one translation function for user texts. A text without a
// translation in the current catalogue comes back as written.
#include <string>

std::string Tr(const char* text);
std::string Tr(const std::string& text);

// Marks a text for the catalogues where it is translated later (it is kept
// in English, e.g. on a widget that re-applies it after a language switch).
#define N_(text) text

// The gettext text domain of the program's catalogues.
inline constexpr const char* kTextDomain = "default";
