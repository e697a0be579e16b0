#include "programs/station/demo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "core/site/settingsactions.h"
#include "core/site/siteactions.h"

namespace fs = std::filesystem;

namespace {

// Asiago Astrophysical Observatory, Pennar station.
constexpr double kDemoLatitude = 45.8664;
constexpr double kDemoLongitude = 11.5264;
constexpr const char* kDemoSite = "Demo roof";
// Left in every demo folder: only a folder with it may have its database replaced.
constexpr const char* kDemoMark = "KALOSQM-DEMO-FOLDER";

// A program the demo starts and ends; it also dies with the demo
// (PR_SET_PDEATHSIG), so no simulator is ever left behind.
class TChildProcess {
public:
    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess() { Terminate(3000); }

    bool Start(const std::string& exe, const std::vector<std::string>& args, bool captureOutput) {
        std::vector<std::string> all{exe};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2] = {-1, -1};
        if (captureOutput && ::pipe2(fds, O_CLOEXEC) != 0) return false;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // The service's blocked signals would be inherited: the child
            // could then never be asked to end.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) _exit(1);
            if (captureOutput) ::dup2(fds[1], STDOUT_FILENO);
            ::execv(exe.c_str(), argv.data());
            _exit(127);
        }
        if (captureOutput) {
            ::close(fds[1]);
            out_ = fds[0];
        }
        return pid_ > 0;
    }

    // The first line it writes, waiting up to ms; empty when none came.
    std::string FirstLine(int ms) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out_ >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char c = 0;
            if (::read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return std::string();
    }

    // True once it has ended; code: its exit status.
    bool Exited(int& code) {
        if (pid_ <= 0) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        pid_ = -1;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }

    // Asks it to end (SIGTERM), then insists after graceMs. Its exit status.
    int Terminate(int graceMs) {
        int code = 0;
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
            while (!Exited(code) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (pid_ > 0) {
                ::kill(pid_, SIGKILL);
                int status = 0;
                ::waitpid(pid_, &status, 0);
                pid_ = -1;
                code = 128 + SIGKILL;
            }
        }
        if (out_ >= 0) ::close(out_);
        out_ = -1;
        return code;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string(platform) == "offscreen") return false;
    return (display && *display) || (wayland && *wayland);
}

// The demo folder's own database, fresh from the delivered one. Empty on
// success, otherwise why not.
std::string MakeDemoDatabase(const TDemoLayout& l) {
    const fs::path dir(l.DemoDir);
    const fs::path db = dir / "Dati" / "KALOSQMDATA.FDB";
    std::error_code ec;
    if (fs::exists(dir) && fs::equivalent(dir, l.ExeDir, ec))
        return "the demo folder " + dir.string() + " is the program's own folder: choose another with --demo-dir";
    if (fs::exists(db)) {
        if (!fs::exists(dir / kDemoMark))
            return db.string() + " is a database the demo did not make: choose another folder with --demo-dir";
        fb::Database probe(db.string());
        try {
            probe.Open();
            probe.Close();
        } catch (const std::exception&) {
            return db.string() + " is in use (is another demo running?) or damaged; end the other demo, or delete " +
                   dir.string();
        }
    }
    fs::create_directories(dir / "Dati", ec);
    if (ec) return "cannot make " + (dir / "Dati").string() + ": " + ec.message();
    std::ofstream(dir / kDemoMark) << "A KALO-SQM demo folder: kalosqm-station --demo replaces its database.\n";
    fs::copy_file(l.Delivered, db, fs::copy_options::overwrite_existing, ec);
    if (ec) return "cannot copy " + l.Delivered + " to " + db.string() + ": " + ec.message();
    return std::string();
}

// Internet time and upload off (nothing leaves this machine), and the site.
void ConfigureDemoDatabase(const std::string& file, int simPort) {
    fb::Database db(file);
    db.Open();
    {
        fb::Transaction tr(db, fb::Isolation::ReadCommitted);
        tr.Start();
        TSettingsActions::ChangeSettings(
            tr, {{"SET_USEINTERTETTIME", int64_t{0}}, {"SET_SYNCLOCK", int64_t{0}}, {"SET_UPLOADDATA", int64_t{0}}});
        // Added as every shell adds a site: the defaults, then the rules' checks.
        TSiteActions::AddSite(tr,
                              {{"SIT_NAME", std::string(kDemoSite)},
                               {"SIT_SQMHOST", std::string("127.0.0.1")},
                               {"SIT_SQMPORT", int64_t{simPort}},
                               {"SIT_TIMEOUT", int64_t{3}},
                               {"SIT_LATIT", kDemoLatitude},
                               {"SIT_LONG", kDemoLongitude},
                               {"SIT_ALT", int64_t{1045}},
                               {"SIT_ACQUIREMODE", int64_t{kContinuous}},
                               {"SIT_INTERVAL", int64_t{1}},
                               {"SIT_AUTOSTART", int64_t{1}},
                               {"SIT_AUTOUPLOAD", int64_t{0}}},
                              PcZoneInfo());
        tr.Commit();
    }
    db.Close();
}

// The desktop program finds its files beside its executable: the demo
// folder gets its own link (or copy) of it.
bool PlaceDesktopProgram(const TDemoLayout& l, std::string& exe) {
    const fs::path source = fs::path(l.ExeDir) / "kalosqm";
    if (!fs::exists(source)) return false;
    const fs::path target = fs::path(l.DemoDir) / "kalosqm";
    std::error_code ec;
    fs::remove(target, ec);
    fs::create_hard_link(source, target, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(source, target, ec);
        if (ec) return false;
    }
    const fs::path locale(l.Catalogues);
    if (fs::exists(locale) && !fs::exists(fs::path(l.DemoDir) / "Locale"))
        fs::create_directory_symlink(locale, fs::path(l.DemoDir) / "Locale", ec);
    exe = target.string();
    return true;
}

}  // namespace

TDemoLayout DemoLayout(const TProgramLayout& program, const std::string& demoDir) {
    TDemoLayout l;
    const fs::path exe(program.ExeDir);
    l.ExeDir = exe.string();
    const fs::path standard = program.Installed() ? fs::path(program.ProgramDir).parent_path() / "kalosqm-demo"
                                                  : exe / ".." / "demo";
    l.DemoDir = demoDir.empty() ? standard.lexically_normal().string() : fs::absolute(demoDir).string();
    l.Delivered = program.DeliveredDatabase();
    l.Catalogues = program.CataloguesDir();
    return l;
}

int RunDemo(const TServiceOptions& options, TSignals& signals) {
    const TDemoLayout l = DemoLayout(ThisProgramLayout(), options.DemoDir);
    if (!fs::exists(l.Delivered)) {
        Say("kalosqm-station: the delivered database is not at " + l.Delivered +
            ": build the project first (./run.sh demo does)");
        return 1;
    }
    const std::string simExe = l.ExeDir + "/sqmle-sim";
    if (!fs::exists(simExe)) {
        Say("kalosqm-station: the SQM-LE simulator is not beside this program (" + simExe +
            "): cmake --build build --target sqmle-sim");
        return 1;
    }
    if (const std::string why = MakeDemoDatabase(l); !why.empty()) {
        Say("kalosqm-station: " + why);
        return 1;
    }

    TChildProcess sim;
    std::smatch m;
    const std::string first = sim.Start(simExe, {"--port", "0", "--bind", "127.0.0.1"}, true) ? sim.FirstLine(5000) : "";
    static const std::regex listening(R"(^listening on 127\.0\.0\.1:(\d+)$)");
    if (!std::regex_match(first, m, listening)) {
        Say("kalosqm-station: the SQM-LE simulator did not start (" + simExe + ")");
        return 1;
    }
    const int port = std::stoi(m[1]);
    const std::string dbFile = (fs::path(l.DemoDir) / "Dati" / "KALOSQMDATA.FDB").string();
    try {
        ConfigureDemoDatabase(dbFile, port);
    } catch (const std::exception& e) {
        Say("kalosqm-station: cannot prepare the demo database " + dbFile + ": " + Printable(e.what()));
        return 1;
    }
    Say("kalosqm-station: demo folder " + l.DemoDir + " with a fresh copy of the delivered database"
        " (the program's own Dati/ is not touched)");
    Say("kalosqm-station: a simulated SQM-LE (sqmle-sim) listens on 127.0.0.1:" + std::to_string(port) +
        "; the site \"" + kDemoSite + "\" (Asiago Observatory, " + FixedText(kDemoLatitude, 4) + " N " +
        FixedText(kDemoLongitude, 4) + " E) reads it every minute");

    std::string desktop, why = "no display";
    if (options.Http)
        why = "--http serves the page";  // the service's: the desktop program would hold the database
    else if (HaveDisplay() && !PlaceDesktopProgram(l, desktop))
        why = "the desktop program is not built";
    if (!desktop.empty()) {
        Say("kalosqm-station: the desktop program opens the demo; close it (or Ctrl+C here) to end the demo");
        TChildProcess gui;
        const auto started = std::chrono::steady_clock::now();
        if (!gui.Start(desktop, {}, false)) {
            Say("kalosqm-station: cannot start " + desktop);
            return 1;
        }
        for (;;) {
            int code = 0;
            if (gui.Exited(code)) {
                // A display that cannot be reached (ssh without X, say) ends it at once.
                if (code == 0 || std::chrono::steady_clock::now() - started > std::chrono::seconds(5)) return code;
                why = "the desktop program could not start (exit status " + std::to_string(code) + ")";
                break;
            }
            signals.WaitFor(200);
            signals.TakeReload();
            if (signals.QuitRequested()) return gui.Terminate(15000) == 0 ? 0 : 1;
        }
    }
    Say("kalosqm-station: " + why +
        ": the station service runs the demo here; the first reading comes within a few seconds, then one a"
        " minute; Ctrl+C ends it");
    SetProgramDir(l.DemoDir);
    TServiceOptions run = options;
    run.Demo = false;
    run.Wait = true;
    return RunStationService(signals, run);
}
