#pragma once
// The user's number and date conventions for what leaves the program as
// text (exports, statistics labels), taken from the process locale so the
// core needs no toolkit. Statements never go through these.
#include <string>
#include <vector>

struct TFormatSettings {
    std::string DecimalSeparator = ".";
    std::string ThousandSeparator = ",";
    std::string DateSeparator = "/";
    std::string Codeset = "UTF-8";  // the character set of text files
    // A window's dates follow its language's patterns (d dd M MM MMM yy yyyy;
    // H HH h hh m mm s ss AP ap; 'quoted' text); empty: dd/mm/yyyy with
    // DateSeparator and hh.mm.ss, the files' fixed form.
    std::string DatePattern;
    std::string TimePattern;
    std::vector<std::string> MonthNames;  // January first, for "MMM"; empty: the month's number
};

// The conventions of the user's locale (LC_NUMERIC, LC_TIME, LC_CTYPE of
// the environment), whatever the process locale is set to.
TFormatSettings UserFormatSettings();

// "#,##0.00"-style: thousands grouped, a fixed number of decimals.
std::string FormatNumber(double value, int decimals, const TFormatSettings& fs);
// "dd/mm/yyyy hh.mm.ss" and "dd/mm/yyyy" with the locale's date separator,
// or the settings' patterns.
std::string FormatDateTimeText(double dt, const TFormatSettings& fs);
std::string FormatDateText(double dt, const TFormatSettings& fs);

// UTF-8 text in the given character set; characters it lacks become '?'.
std::string ToCodeset(const std::string& utf8, const std::string& codeset);
