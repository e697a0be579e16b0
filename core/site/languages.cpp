#include "core/site/languages.h"

#include <dirent.h>
#include <libintl.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/programlayout.h"

// glibc keeps looked-up translations; bumping this counter drops them.
extern "C" int _nl_msg_cat_cntr;

namespace {

const char* const kSection = "LangageInfo";  // the files' own spelling
const char* const kKey = "LanguageName";

std::string LocaleDir() { return CataloguesDir(); }
std::string SettingsDir() { return ProgramPath("Locale"); }
std::string SettingsFile() { return ProgramPath("Locale/LangSettings.ini"); }

std::string Trimmed(std::string s) {
    const char* blanks = " \t\r\n";
    s.erase(0, s.find_first_not_of(blanks));
    const size_t end = s.find_last_not_of(blanks);
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> ReadLines(const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (lines.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a UTF-8 mark
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::optional<std::string> SectionOf(const std::string& line) {
    const std::string t = Trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
    return Trimmed(t.substr(1, t.size() - 2));
}

// The key's line index inside the section, or -1; *sectionEnd: where a new key goes.
int FindKey(const std::vector<std::string>& lines, int* sectionEnd) {
    bool inside = false;
    *sectionEnd = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        if (const auto s = SectionOf(lines[i])) {
            if (inside) return -1;
            inside = SameName(*s, kSection);
            if (inside) *sectionEnd = i + 1;
            continue;
        }
        if (!inside) continue;
        if (!Trimmed(lines[i]).empty()) *sectionEnd = i + 1;
        const size_t eq = lines[i].find('=');
        if (eq != std::string::npos && SameName(Trimmed(lines[i].substr(0, eq)), kKey)) return i;
    }
    return -1;
}

std::string ReadName(const std::string& file) {
    const std::vector<std::string> lines = ReadLines(file);
    int end = 0;
    const int at = FindKey(lines, &end);
    if (at < 0) return {};
    return Trimmed(lines[static_cast<size_t>(at)].substr(lines[static_cast<size_t>(at)].find('=') + 1));
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string& Current() {
    static std::string code;
    return code;
}

std::function<void(const std::string&)>& Listener() {
    static std::function<void(const std::string&)> listener;
    return listener;
}

// LANGUAGE as the program found it: the "system's language" to go back to.
const std::optional<std::string>& StartLanguageVariable() {
    static const std::optional<std::string> value = [] {
        const char* v = std::getenv("LANGUAGE");
        return v ? std::optional<std::string>(v) : std::nullopt;
    }();
    return value;
}

bool IsPlainC(const char* locale) {
    return locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0;
}

}  // namespace

std::string CataloguesDir() {
    const TProgramLayout& layout = ThisProgramLayout();
    return layout.Installed() ? layout.CataloguesDir() : ProgramPath("Locale");
}

std::string ReadSavedLanguage() { return ReadName(SettingsFile()); }

void SaveLanguage(const std::string& code) {
    if (!IsDirectory(SettingsDir())) mkdir(SettingsDir().c_str(), 0755);
    std::vector<std::string> lines = ReadLines(SettingsFile());
    int end = -1;
    const int at = FindKey(lines, &end);
    const std::string entry = std::string(kKey) + "=" + code;
    if (at >= 0) {
        lines[static_cast<size_t>(at)] = entry;
    } else if (end >= 0) {
        lines.insert(lines.begin() + end, entry);
    } else {
        lines.push_back(std::string("[") + kSection + "]");
        lines.push_back(entry);
    }
    std::ofstream out(SettingsFile(), std::ios::binary | std::ios::trunc);
    for (const std::string& l : lines) out << l << "\r\n";
    if (!out) throw std::runtime_error("Cannot write " + SettingsFile());
}

bool LanguageFolderExists(const std::string& code) {
    return IsDirectory(code.empty() ? LocaleDir() : LocaleDir() + "/" + code);
}

std::vector<std::string> ListSubfolders(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const bool directory = e->d_type == DT_DIR || ((e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) &&
                                                       IsDirectory(folder + "/" + name));
        if (directory) names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::string LanguageDisplayName(const std::string& code) {
    return ReadName(LocaleDir() + "/" + code + "/LangName.ini");
}

void RegisterTranslation() {
    std::setlocale(LC_ALL, "");
    bindtextdomain(kTextDomain, LocaleDir().c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

void SwitchLanguage(const std::string& code) {
    (void)StartLanguageVariable();  // remembered before the first change
    bindtextdomain(kTextDomain, LocaleDir().c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
    textdomain(kTextDomain);
    if (code.empty()) {
        if (const auto& v = StartLanguageVariable())
            setenv("LANGUAGE", v->c_str(), 1);
        else
            unsetenv("LANGUAGE");
    } else {
        setenv("LANGUAGE", code.c_str(), 1);
    }
    // glibc ignores LANGUAGE under the C locale: messages alone then go to C.UTF-8.
    const char* messages = std::setlocale(LC_MESSAGES, "");
    if (!code.empty() && IsPlainC(messages)) std::setlocale(LC_MESSAGES, "C.UTF-8");
    ++_nl_msg_cat_cntr;
    Current() = code;
    if (Listener()) Listener()(code);
}

void SetLanguageListener(std::function<void(const std::string& code)> listener) { Listener() = std::move(listener); }

std::string CurrentLanguage() { return Current(); }

void ApplySavedLanguage() {
    std::string code = ReadSavedLanguage();
    if (!LanguageFolderExists(code)) code = kFallbackLanguage;
    if (code != CurrentLanguage()) SwitchLanguage(code);
}
