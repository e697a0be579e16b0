#include "core/site/readingformat.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "core/station/myutils.h"

namespace {

// The date separator of a strftime date format ("%d.%m.%Y" gives ".").
std::string DateSeparatorOf(const char* format) {
    for (const char* p = format; p && *p; ++p) {
        if (*p == '%') {
            if (p[1]) ++p;
            continue;
        }
        if (!std::isalnum(static_cast<unsigned char>(*p))) return std::string(1, *p);
    }
    return "/";
}

// A date-time by a pattern of Qt's letters, the form the windows' languages
// come in; an unknown letter is copied.
std::string ByPattern(double dt, const std::string& pattern, const std::vector<std::string>& months) {
    const DateTimeParts p = DecodeDateTime(dt);
    std::string out;
    const auto number = [&out](int v, size_t width) {
        std::string t = std::to_string(v);
        if (t.size() < width) t.insert(0, width - t.size(), '0');
        out += t;
    };
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') {
            const size_t end = pattern.find('\'', i + 1);
            if (end == i + 1) out += '\'';
            else out += pattern.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            i = end == std::string::npos ? pattern.size() : end + 1;
            continue;
        }
        size_t n = 1;
        while (i + n < pattern.size() && pattern[i + n] == c) ++n;
        const size_t width = n >= 2 ? 2 : 1;
        switch (c) {
            case 'd': number(p.day, width); break;
            case 'M':
                if (n >= 3 && months.size() == 12) out += months[static_cast<size_t>(p.month - 1)];
                else number(p.month, width);
                break;
            case 'y': n >= 4 ? number(p.year, 4) : number(p.year % 100, 2); break;
            case 'H': number(p.hour, width); break;
            case 'h': number(p.hour % 12 == 0 ? 12 : p.hour % 12, width); break;
            case 'm': number(p.minute, width); break;
            case 's': number(p.second, width); break;
            case 'A': case 'a':  // "AP" or "A"
                out += p.hour < 12 ? (c == 'A' ? "AM" : "am") : (c == 'A' ? "PM" : "pm");
                if (n == 1 && i + 1 < pattern.size() && (pattern[i + 1] == 'P' || pattern[i + 1] == 'p')) n = 2;
                break;
            default: out.append(n, c);
        }
        i += n;
    }
    return out;
}

}  // namespace

TFormatSettings UserFormatSettings() {
    TFormatSettings fs;
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return fs;
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    const char* thousands = nl_langinfo_l(THOUSEP, loc);
    fs.DecimalSeparator = radix && *radix ? radix : ".";
    fs.ThousandSeparator = thousands ? thousands : "";
    fs.DateSeparator = DateSeparatorOf(nl_langinfo_l(D_FMT, loc));
    const char* codeset = nl_langinfo_l(CODESET, loc);
    fs.Codeset = codeset && *codeset ? codeset : "UTF-8";
    freelocale(loc);
    return fs;
}

std::string FormatNumber(double value, int decimals, const TFormatSettings& fs) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "INF" : "-INF");
    // Halves round away from zero, as users expect of a displayed figure
    // (printf would round them to even).
    long double scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const long double scaled = std::roundl(std::fabs(static_cast<long double>(value)) * scale);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.0Lf", scaled);
    std::string all = buf;
    if (static_cast<int>(all.size()) <= decimals) all.insert(0, static_cast<size_t>(decimals + 1) - all.size(), '0');
    std::string digits = all.substr(0, all.size() - static_cast<size_t>(decimals));
    std::string fraction = all.substr(all.size() - static_cast<size_t>(decimals));
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        out += digits[i];
        const size_t left = n - 1 - i;
        if (left > 0 && left % 3 == 0) out += fs.ThousandSeparator;
    }
    if (!fraction.empty()) out += fs.DecimalSeparator + fraction;
    // A value that rounds to zero has no sign ("-0.00" helps nobody).
    const bool negative = value < 0 && out.find_first_not_of("0" + fs.ThousandSeparator + fs.DecimalSeparator) != std::string::npos;
    return negative ? "-" + out : out;
}

std::string FormatDateText(double dt, const TFormatSettings& fs) {
    if (!fs.DatePattern.empty()) return ByPattern(dt, fs.DatePattern, fs.MonthNames);
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%s%02d%s%04d", p.day, fs.DateSeparator.c_str(), p.month,
                  fs.DateSeparator.c_str(), p.year);
    return buf;
}

std::string FormatDateTimeText(double dt, const TFormatSettings& fs) {
    if (!fs.TimePattern.empty()) return FormatDateText(dt, fs) + " " + ByPattern(dt, fs.TimePattern, fs.MonthNames);
    const DateTimeParts p = DecodeDateTime(dt);
    char buf[32];
    std::snprintf(buf, sizeof buf, " %02d.%02d.%02d", p.hour, p.minute, p.second);
    return FormatDateText(dt, fs) + buf;
}

std::string ToCodeset(const std::string& utf8, const std::string& codeset) {
    if (codeset.empty() || strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0)
        return utf8;
    iconv_t cd = iconv_open(codeset.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out;
    char buf[256];
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A character the set lacks (or broken input): one '?' for the
            // whole UTF-8 sequence.
            out += '?';
            size_t skip = 1;
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
            in += skip;
            inLeft -= skip;
        }
    }
    iconv_close(cd);
    return out;
}
