#include "core/station/version.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "build_version.h"
#include "core/station/myutils.h"
#include "core/station/lastresort.h"

namespace {
// The resource: a marker, then key=value texts, ended by an empty text.
// "used" keeps it in the binary even though nothing references it.
[[gnu::used]] const char kVersionResource[] =
    "KALO-VERSION-RESOURCE\0fileversion=" KALO_FILE_VERSION "\0productname=KALO-SQM\0";
constexpr char kMarker[] = "KALO-VERSION-RESOURCE";
}  // namespace

std::string ProgramFileName() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string GetVersionInfoString(const std::string& fileName, const std::string& key) {
    try {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) return std::string();
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string marker(kMarker, sizeof kMarker);  // with its terminating NUL
        // The marker text may stand elsewhere in the file too: take the
        // first occurrence that carries the key.
        for (size_t at = data.find(marker); at != std::string::npos; at = data.find(marker, at + 1)) {
            size_t pos = at + marker.size();
            while (pos < data.size() && data[pos] != '\0') {
                const size_t end = data.find('\0', pos);
                if (end == std::string::npos) break;
                const std::string entry = data.substr(pos, end - pos);
                const size_t eq = entry.find('=');
                if (eq == std::string::npos) break;
                if (entry.substr(0, eq) == key) return entry.substr(eq + 1);
                pos = end + 1;
            }
        }
    } catch (...) {
        // Only a file too large to hold lands here: no version, as for an unreadable file.
        LastResortLine("reading the version of " + fileName);
    }
    return std::string();
}

std::string VersionPrefix(const std::string& version, int n) {
    if (n >= 4) return version;
    std::string out;
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        const size_t dot = version.find('.', start);
        if (i) out += '.';
        out += version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return out;
}

std::string GetVersionText(int n) {
    // The executable does not change while it runs: read it once.
    static const std::string version = [] {
        const std::string v = GetVersionInfoString(ProgramFileName(), "fileversion");
        // A program whose file cannot be read still knows its own version.
        return v.empty() ? std::string(KALO_FILE_VERSION) : v;
    }();
    return VersionPrefix(version, n);
}

double ProgramBuildTimeUtc() { return UnixToDateTime(KALO_BUILD_TIME_UNIX); }
