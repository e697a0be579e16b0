#include "core/station/i18n.h"

#include <libintl.h>

std::string Tr(const char* text) {
    if (text == nullptr || *text == '\0') return std::string();
    return dgettext(kTextDomain, text);
}

std::string Tr(const std::string& text) { return Tr(text.c_str()); }
