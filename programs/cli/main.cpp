#include "programs/cli/cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <vector>

#include "core/site/datamodule.h"
#include "core/station/errorlog.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"

namespace cli {

static std::map<std::string, Adder>& Registry() {
    static std::map<std::string, Adder> commands;
    return commands;
}

static int& ExitCode() {
    static int code = 0;
    return code;
}

bool Register(const char* name, Adder add) {
    Registry()[name] = add;
    return true;
}

void SetAction(CLI::App* command, std::function<int()> work) {
    command->callback([work = std::move(work)] { ExitCode() = work(); });
}

// Every --db with its variable: a root --dir moves the default.
static std::vector<std::pair<std::string*, CLI::Option*>>& DbOptions() {
    static std::vector<std::pair<std::string*, CLI::Option*>> options;
    return options;
}

CLI::Option* AddDbOption(CLI::App* command, std::string& file) {
    file = ProgramPath("Dati/KALOSQMDATA.FDB");
    CLI::Option* option =
        command->add_option("--db", file, "local database (default: Dati/KALOSQMDATA.FDB of the program folder)")
            ->type_name("FILE");
    DbOptions().emplace_back(&file, option);
    return option;
}

// "--dir FOLDER" before the command: the program folder (Dati/, LOGS/,
// crdfiles/) is that folder instead of the one holding kalosqm-cli, as
// with kalosqm-station --dir. Root options are handled before the
// command's own, so a --db given to the command still wins.
static void UseProgramDir(const std::string& dir) {
    std::error_code ec;
    const auto path = std::filesystem::absolute(dir, ec);
    SetProgramDir((ec ? std::filesystem::path(dir) : path).lexically_normal().string());
    for (auto& [file, option] : DbOptions())
        if (option->count() == 0) *file = ProgramPath("Dati/KALOSQMDATA.FDB");
}

void OpenLocalDatabase(fb::Database& db, const std::string& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw std::runtime_error("there is no local database at " + file);
    db.SetFile(file);
    try {
        db.Open();
    } catch (const fb::Error& e) {
        // The desktop program and the station decide the same way.
        const std::string words = e.what();
        const TOpenFailure why = ExplainOpenFailure(file, words);
        if (why.Kind == TOpenFailure::TKind::InUse)
            throw std::runtime_error("the local database is in use by another KALO-SQM program (" + file + ")");
        if (why.Kind == TOpenFailure::TKind::LockFolder) {
            std::string text = why.Text;
            std::replace(text.begin(), text.end(), '\n', ' ');
            throw std::runtime_error(text);
        }
        throw std::runtime_error("the local database " + file + " cannot be opened: " + words);
    }
}

TLocalWork::TLocalWork(const std::string& file) : tr(db) {
    OpenLocalDatabase(db, file);
    tr.Start();
}

TSiteRow ReadExistingSite(fb::Database& db, int siteId, const std::string& missing) {
    try {
        return ReadSiteRow(db, siteId);
    } catch (const fb::Error&) {
        throw;
    } catch (const std::runtime_error&) {
        throw std::runtime_error(missing);
    }
}

static bool ParseFields(const std::string& text, const char* pattern, int* fields, int count) {
    if (text.size() != std::char_traits<char>::length(pattern)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
    }
    int n = 0, value = -1;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value * 10) + (c - '0');
        } else if (value >= 0) {
            if (n < count) fields[n++] = value;
            value = -1;
        }
    }
    if (value >= 0 && n < count) fields[n++] = value;
    return n == count;
}

static bool ValidDate(int y, int m, int d) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return y >= 1900 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

double ParseDate(const std::string& option, const std::string& text) {
    int f[3];
    if (!ParseFields(text, "dddd-dd-dd", f, 3) || !ValidDate(f[0], f[1], f[2]))
        throw UsageError(option + ": '" + text + "' is not a date YYYY-MM-DD");
    return EncodeDate(f[0], f[1], f[2]);
}

double ParseDateTime(const std::string& option, const std::string& text) {
    std::string t = text;
    if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
    int f[6] = {0, 0, 0, 0, 0, 0};
    const bool ok = ParseFields(t, "dddd-dd-dd", f, 3) || ParseFields(t, "dddd-dd-dd dd:dd", f, 5) ||
                    ParseFields(t, "dddd-dd-dd dd:dd:dd", f, 6);
    if (!ok || !ValidDate(f[0], f[1], f[2]) || f[3] > 23 || f[4] > 59 || f[5] > 59)
        throw UsageError(option + ": '" + text + "' is not a time YYYY-MM-DD[ HH:MM[:SS]]");
    return EncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5]);
}

static bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    port = 10001;
    std::string rest = text;
    if (!rest.empty() && rest[0] == '[') {  // [v6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (rest.empty()) return !host.empty();
        if (rest[0] != ':') return false;
        rest = rest.substr(1);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            host = rest;
            return !host.empty();
        }
        host = rest.substr(0, colon);
        rest = rest.substr(colon + 1);
    }
    if (rest.empty() || rest.size() > 5 || rest.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(rest);
    return port > 0 && port < 65536 && !host.empty();
}

const CLI::Validator& HostPort() {
    static const CLI::Validator v(
        [](std::string& text) -> std::string {
            std::string host;
            int port = 0;
            return SplitHostPort(text, host, port) ? std::string() : "'" + text + "' is not HOST[:PORT] (port 1-65535)";
        },
        "HOST[:PORT]");
    return v;
}

bool SplitAddress(const std::string& text, std::string& host, int& port) { return SplitHostPort(text, host, port); }

const CLI::Validator& IsoDate() {
    static const CLI::Validator v(
        [](std::string& text) -> std::string {
            try {
                ParseDate("", text);
                return {};
            } catch (const UsageError&) {
                return "'" + text + "' is not a date YYYY-MM-DD";
            }
        },
        "YYYY-MM-DD");
    return v;
}

const CLI::Validator& Finite() {
    static const CLI::Validator v(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double x = std::strtod(text.c_str(), &end);
            return std::isfinite(x) ? std::string() : "'" + text + "' is not a finite number";
        },
        "");
    return v;
}

}  // namespace cli

int main(int argc, char** argv) {
    // A log that loses lines (a full disk) is said, once per log.
    TErrorLogWatch logWatch(
        [](const TErrorLogNews& news) { std::cerr << "kalosqm-cli: " << DescribeErrorLogNews(news) << "\n"; });
    CLI::App app{"kalosqm-cli: the command-line companion of KALO-SQM", "kalosqm-cli"};
    app.require_subcommand(1);
    // --dir may follow the command too (kalosqm-cli sites --dir /var/lib/kalosqm).
    app.fallthrough(true);
    std::string programDir;
    app.add_option("--dir", programDir,
                   "program folder with Dati/, LOGS/ and crdfiles/ (default: the folder of kalosqm-cli, "
                   "or ~/.local/share/kalosqm for an installed kalosqm-cli)")
        ->type_name("FOLDER")
        ->check(CLI::ExistingDirectory)
        ->each(cli::UseProgramDir);
    for (const auto& [name, add] : cli::Registry()) add(app);
    if (argc < 2) {
        std::cerr << app.help();
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (const cli::UsageError& e) {
        std::cerr << "kalosqm-cli: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "kalosqm-cli: " << e.what() << "\n";
        return 1;
    }
    return cli::ExitCode();
}
