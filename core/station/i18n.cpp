#include "core/station/i18n.h"

#include <libintl.h>

std::string Tr(const char* text) {
    if (text == nullptr || *text == '\0') return std::string();
    return dgettext(kTextDomain, text);
}

std::string Tr(const std::string& text) { return Tr(text.c_str()); }

std::string Filled(const std::string& text, std::initializer_list<std::string> args) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t n = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '1') : args.size();
        if (text[i] == '%' && n < args.size() && n < 9) {
            out += *(args.begin() + n);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
