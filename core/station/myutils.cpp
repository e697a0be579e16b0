#include "core/station/myutils.h"

#include "core/station/programlayout.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/time.h>
#include <unistd.h>

namespace {
std::mutex g_dirMutex;
std::string g_programDir;

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kUnixEpochDay = 25569;  // 1970-01-01 on the date-time scale
}  // namespace

std::string ProgramDir() {
    std::lock_guard<std::mutex> lock(g_dirMutex);
    if (g_programDir.empty()) g_programDir = ThisProgramLayout().ProgramDir;
    return g_programDir;
}

void SetProgramDir(const std::string& dir) {
    std::lock_guard<std::mutex> lock(g_dirMutex);
    g_programDir = dir;
}

std::string ProgramPath(std::string_view relative) {
    return (std::filesystem::path(ProgramDir()) / std::filesystem::path(relative)).string();
}

void SplitDelimited(char Delimiter, std::string_view Text, std::vector<std::string>* List) {
    if (List == nullptr) throw std::logic_error("Assertion failure (MyUtils)");
    auto isBlank = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    size_t i = 0;
    const size_t n = Text.size();
    while (i < n && isBlank(Text[i])) ++i;
    while (i < n) {
        std::string item;
        if (Text[i] == '"') {
            ++i;
            while (i < n) {
                if (Text[i] == '"') {
                    if (i + 1 < n && Text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += Text[i++];
            }
        } else {
            while (i < n && Text[i] != Delimiter && !isBlank(Text[i])) item += Text[i++];
        }
        List->push_back(std::move(item));
        while (i < n && isBlank(Text[i])) ++i;
        if (i < n && Text[i] == Delimiter) {
            if (i == n - 1) List->emplace_back();
            ++i;
            while (i < n && isBlank(Text[i])) ++i;
        }
    }
}

double EncodeDate(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1 || day > 31) throw std::invalid_argument("Invalid date");
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                               kUnixEpochDay);
}

double EncodeTime(int hour, int minute, int second, int msec) {
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / 86400000.0;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

DateTimeParts DecodeDateTime(double dt) {
    if (!std::isfinite(dt)) throw std::invalid_argument("Invalid date-time");
    const long long totalMs = std::llround(dt * 86400000.0);
    long long day = totalMs / 86400000;
    long long msOfDay = totalMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        day -= 1;
    }
    DateTimeParts p{};
    CivilFromDays(day - kUnixEpochDay, p.year, p.month, p.day);
    p.hour = static_cast<int>(msOfDay / 3600000);
    p.minute = static_cast<int>(msOfDay / 60000 % 60);
    p.second = static_cast<int>(msOfDay / 1000 % 60);
    p.msec = static_cast<int>(msOfDay % 1000);
    return p;
}

double UnixToDateTime(double unixSeconds) { return unixSeconds / 86400.0 + kUnixEpochDay; }
double DateTimeToUnix(double dt) { return (dt - kUnixEpochDay) * 86400.0; }

double NowUtc() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    return UnixToDateTime(static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6);
}

int LocalTimeZoneBiasMinutes(double utc) {
    const time_t t = static_cast<time_t>(std::floor(DateTimeToUnix(utc)));
    struct tm local {};
    localtime_r(&t, &local);
    return static_cast<int>(-local.tm_gmtoff / 60);
}

double NowLocal() {
    const double utc = NowUtc();
    return utc - LocalTimeZoneBiasMinutes(utc) / 1440.0;
}

static std::string Fmt(const char* pattern, double dt, bool withDate) {
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[64];
    if (withDate)
        std::snprintf(buf, sizeof buf, pattern, p.day, p.month, p.year, p.hour, p.minute, p.second);
    else
        std::snprintf(buf, sizeof buf, pattern, p.hour, p.minute, p.second);
    return buf;
}

std::string FormatLogTime(double dt) { return Fmt("%02d/%02d/%04d %02d.%02d.%02d", dt, true); }

std::string FormatKeyTime(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return buf;
}

std::string FormatSqlDateTime(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buf;
}

std::string FormatTimeOfDay(double dt) { return Fmt("%02d:%02d:%02d", dt, false); }

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return std::string(s.substr(b, e - b));
}

std::string QuotedStr(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

namespace {

// Length of the valid UTF-8 sequence at text[i] (lead byte >= 0x80), or 0:
// overlong forms, surrogates and code points past U+10FFFF are not valid.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
    const auto at = [&text](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = at(i);
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    if (at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

void AppendHexEscape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += text[i++];
            continue;
        }
        if (c < 0x80) {
            switch (c) {
                case '\r': out += "\\r"; break;
                case '\n': out += "\\n"; break;
                case '\t': out += "\\t"; break;
                default: AppendHexEscape(out, c);
            }
            ++i;
            continue;
        }
        const size_t n = Utf8SequenceLength(text, i);
        // U+0080..U+009F are the C1 controls, which terminals obey like ESC sequences.
        const bool control = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (n > 0 && !control) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        for (const size_t end = i + (n > 0 ? n : 1); i < end; ++i)
            AppendHexEscape(out, static_cast<unsigned char>(text[i]));
    }
    return out;
}

bool ParseDotDecimal(std::string_view text, double& out) {
    std::string s = Trim(text);
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    if (s.empty()) return false;
    double v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
    out = v;
    return true;
}

std::string BoundedNamePart(const std::string& name, size_t maxBytes) {
    if (name.size() <= maxBytes) return name;
    // FNV-1a: small, and the same on every machine and in every version.
    uint32_t hash = 2166136261u;
    for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char tail[16];
    std::snprintf(tail, sizeof tail, "~%08x", static_cast<unsigned>(hash));
    const size_t tailSize = std::strlen(tail);
    size_t keep = maxBytes > tailSize ? maxBytes - tailSize : 0;
    // Never half a character: back off over UTF-8 continuation bytes.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + tail;
}
