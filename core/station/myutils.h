#pragma once
// General utilities shared by the engine and the program: the program's
// folder, the date-time scale, text splitting, fixed formats and the
// escaping of foreign text.
#include <string>
#include <string_view>
#include <vector>

// The program folder: Dati, LOGS, crdfiles, WinSetup, Locale and UpdInfo
// live in it. By default the executable's folder, or the user's data folder
// for an installed program (programlayout.h); --dir, tests and tools may
// point it elsewhere.
std::string ProgramDir();
void SetProgramDir(const std::string& dir);
// ProgramDir() joined with a relative path ("Dati/KALOSQMDATA.FDB").
std::string ProgramPath(std::string_view relative);

// Splits Text at Delimiter the way the meter replies need it: blanks and
// control characters (codes 1..32) separate items too and never reach one,
// double-quoted items may contain anything ("" stands for one quote).
// A null List is a programming error.
void SplitDelimited(char Delimiter, std::string_view Text, std::vector<std::string>* List);

// Date-time: days since 1899-12-30 00:00 with the time of day as fraction.
double EncodeDate(int year, int month, int day);
double EncodeTime(int hour, int minute, int second, int msec = 0);
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec = 0);

struct DateTimeParts {
    int year, month, day, hour, minute, second, msec;
};
// Rounded to the millisecond, as the key and the formats need.
DateTimeParts DecodeDateTime(double dt);

// The PC clock as local time and as UTC.
double NowLocal();
double NowUtc();
// Unix seconds <-> date-time (UTC on both sides).
double UnixToDateTime(double unixSeconds);
double DateTimeToUnix(double dt);
// UTC minus local time in minutes at the given UTC instant (the PC's zone
// with its daylight rule), as the time-zone bias is usually expressed.
int LocalTimeZoneBiasMinutes(double utc);

// Fixed formats used by logs, keys and network statements.
std::string FormatLogTime(double dt);       // "dd/mm/yyyy hh.mm.ss"
std::string FormatKeyTime(double dt);       // "yyyymmddhhmmss"
std::string FormatSqlDateTime(double dt);   // "yyyy-mm-dd hh:mm:ss"
std::string FormatTimeOfDay(double dt);     // "hh:mm:ss"

// A finite number written with "." whatever the locale, blanks around and a
// leading "+" allowed; false, out untouched, for anything else.
bool ParseDotDecimal(std::string_view text, double& out);

// Trims blanks and control characters (codes 0..32) at both ends.
std::string Trim(std::string_view s);
// Doubles every single quote and wraps the text in single quotes.
std::string QuotedStr(std::string_view s);
// Text from a meter, a server or a file, safe to show in a message, a log
// line or a terminal: control characters (C0, DEL and the C1 range) become
// \r, \n, \t or \xNN, as do bytes that are not valid UTF-8; printable ASCII
// and valid UTF-8 stay as they are. The result is always one line.
std::string Printable(const std::string& text);

// A name as part of a file name of at most maxBytes bytes (the system allows
// 255 per name, and the callers add their own prefix and extension). A name
// that fits stays exactly as it is; a longer one keeps its beginning, cut on
// a UTF-8 character boundary, followed by "~" and 8 hex digits of a hash of
// the whole name, so that two long names with one beginning stay apart.
std::string BoundedNamePart(const std::string& name, size_t maxBytes);
