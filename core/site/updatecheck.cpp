#include "core/site/updatecheck.h"

#include <cctype>
#include <fstream>

#include "core/station/myutils.h"

namespace {
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

std::string ReadIniString(const std::string& fileName, std::string_view section, std::string_view key) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return std::string();
    std::string line;
    bool inSection = false;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // Files saved by Windows editors often start with a UTF-8 mark.
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        first = false;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        if (trimmed.front() == '[') {
            const size_t close = trimmed.find(']');
            inSection = close != std::string::npos && SameName(Trim(trimmed.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (SameName(Trim(std::string_view(line).substr(0, eq)), key)) return line.substr(eq + 1);
    }
    return std::string();
}

std::string ReadUpdateVersion(const std::string& fileName) {
    return ReadIniString(fileName, "UPDATEInfo", "Version");
}

TUpdateResult UpdateResult(bool checked, const std::string& currentVersion, const std::string& installedVersion) {
    if (!checked) return TUpdateResult::Failed;
    return Trim(currentVersion) == installedVersion ? TUpdateResult::UpToDate : TUpdateResult::UpdateNeeded;
}
