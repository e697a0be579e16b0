#include "core/station/programlayout.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr const char* kDatabase = "KALOSQMDATA.FDB";

std::string HomeFolder(const char* home) {
    if (home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string ExecutableDir() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return fs::current_path().string();
    return exe.parent_path().string();
}

}  // namespace

std::string TProgramLayout::CataloguesDir() const {
    return ((Installed() ? fs::path(ShareDir) : fs::path(ProgramDir)) / "Locale").string();
}

std::string TProgramLayout::DeliveredDatabase() const {
    const fs::path file = Installed() ? fs::path(ShareDir) / kDatabase : fs::path(ExeDir) / ".." / "db" / kDatabase;
    return file.lexically_normal().string();
}

TProgramLayout FindProgramLayout(const std::string& exeDir, const char* xdgDataHome, const char* home) {
    TProgramLayout l;
    l.ExeDir = exeDir;
    l.ProgramDir = exeDir;
    std::error_code ec;
    if (fs::is_directory(fs::path(exeDir) / "Dati", ec)) return l;
    const fs::path share = (fs::path(exeDir) / ".." / "share" / "kalosqm").lexically_normal();
    if (!fs::is_regular_file(share / kDatabase, ec)) return l;
    l.ShareDir = share.string();
    // Relative values are invalid by the XDG rules and are ignored.
    const fs::path data = xdgDataHome && fs::path(xdgDataHome).is_absolute()
                              ? fs::path(xdgDataHome)
                              : fs::path(HomeFolder(home)) / ".local" / "share";
    l.ProgramDir = (data / "kalosqm").lexically_normal().string();
    return l;
}

const TProgramLayout& ThisProgramLayout() {
    static const TProgramLayout layout =
        FindProgramLayout(ExecutableDir(), std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    return layout;
}

std::string MakeHomeDatabase(const TProgramLayout& layout) {
    if (!layout.Installed()) return {};
    const fs::path dati = fs::path(layout.ProgramDir) / "Dati";
    const fs::path db = dati / kDatabase;
    std::error_code ec;
    if (fs::exists(db, ec)) return {};
    fs::create_directories(dati, ec);
    if (ec) return "cannot make " + dati.string() + ": " + ec.message();
    // Copied beside and renamed: a first start cut short leaves no half file.
    const fs::path partial = dati / (std::string(kDatabase) + ".new");
    fs::copy_file(layout.DeliveredDatabase(), partial, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(partial, db, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return "cannot copy " + layout.DeliveredDatabase() + " to " + db.string() + ": " + ec.message();
    }
    return {};
}
