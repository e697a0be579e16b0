#pragma once
// Qt's own texts (the boxes' Yes and No, the calendar's month names) and the
// formats of dates and numbers in the widgets follow the interface language.
#include <QLocale>
#include <QString>
#include <string>

#include "core/site/readingformat.h"

// The locale of a language code; an empty code: the system's.
QLocale LocaleOfLanguage(const std::string& code);
// Applies code now and after every language switch from now on.
void FollowLanguageInQt(const std::string& code);

// The one rule of the windows for a person's numbers and dates, in the chosen
// language (Qt's locale of it): grids, statistics, chart axes, coordinates,
// titles and the latest reading alike. Files for machines keep their own.
TFormatSettings LanguageFormats();
QString NumberText(double value, int decimals);
// A date and a time to the second, without a zone (the captions say UTC).
QString DateTimeText(double dt);
