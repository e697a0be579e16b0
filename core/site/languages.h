#pragma once
// The interface language: the installed catalogues (one folder per language
// code), the saved choice and the switch itself.
#include <functional>
#include <string>
#include <vector>

// The catalogues: ProgramDir()/Locale, or <prefix>/share/kalosqm/Locale
// for an installed program. The saved choice is always in ProgramDir()/Locale.
std::string CataloguesDir();

// The code saved in Locale/LangSettings.ini; empty: the system's language.
std::string ReadSavedLanguage();
void SaveLanguage(const std::string& code);
// Locale/<code> exists (an empty code: the Locale folder itself).
bool LanguageFolderExists(const std::string& code);
// The names of the folders in a folder, in the order the file system lists them.
std::vector<std::string> ListSubfolders(const std::string& folder);
// The display name in Locale/<code>/LangName.ini; empty when missing.
std::string LanguageDisplayName(const std::string& code);

// At start, before any text: the environment's locale, and the catalogues.
void RegisterTranslation();
// Makes gettext use Locale/<code> from now on; an empty code: the
// environment's language. Never touches LC_NUMERIC.
void SwitchLanguage(const std::string& code);
// Called after every switch with its code: the widgets' own texts and
// formats follow the same choice. One listener; an empty one removes it.
void SetLanguageListener(std::function<void(const std::string& code)> listener);
// The code of the last switch (empty before any).
std::string CurrentLanguage();
// At start: the saved language, "en" when its folder is missing.
void ApplySavedLanguage();

// The fallback language.
inline constexpr const char* kFallbackLanguage = "en";
