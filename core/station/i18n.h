#pragma once
// The one translation function for user texts. A text without a
// translation in the current catalogue comes back as written.
#include <initializer_list>
#include <string>

std::string Tr(const char* text);
std::string Tr(const std::string& text);
// The text with %1, %2, ... put in, each once and left to right, so that a
// translation may order them its own way and an argument is never read again.
std::string Filled(const std::string& text, std::initializer_list<std::string> args);

// Marks a text for the catalogues where it is translated later (it is kept
// in English, e.g. on a widget that re-applies it after a language switch).
#define N_(text) text

// The gettext text domain of the program's catalogues.
inline constexpr const char* kTextDomain = "default";
