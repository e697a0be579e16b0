#pragma once
// Qt's own texts (the boxes' Yes and No, the calendar's month names) and the
// formats of dates and numbers in the widgets follow the interface language.
#include <QLocale>
#include <string>

// The locale of a language code; an empty code: the system's.
QLocale LocaleOfLanguage(const std::string& code);
// Applies code now and after every language switch from now on.
void FollowLanguageInQt(const std::string& code);
