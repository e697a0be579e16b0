#include "programs/station/serviceoptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>

#include "core/station/myutils.h"

namespace {

// what: "a site id (a whole number from 1)", say.
int ParseNumber(const std::string& option, const std::string& text, int min, int max, const std::string& what) {
    int v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || text.empty() || v < min || v > max)
        throw TUsageError(option + " wants " + what + ", not '" + Printable(text) + "'");
    return v;
}

// What a flag holds when given bare, so that "--wait=yes" can be told apart
// and refused.
const std::string kBare = "+";

// The station's options on a CLI11 application. Each occurrence is handled as
// it is parsed, so a usage error names the first wrong argument, in the
// station's own words rather than CLI11's.
class TOptionTable {
public:
    TOptionTable() {
        app_.set_help_flag();  // --help is one of ours: its text is ServiceUsage()
        app_.allow_extras();   // an unknown argument is said by Parse
    }

    // names: CLI11's, "-h,--help"; name: the one said in a usage error.
    void Flag(const std::string& names, const std::string& name, std::function<void()> set) {
        std::string marked;
        for (const std::string& n : CLI::detail::split(names, ','))
            marked += (marked.empty() ? "" : ",") + n + "{" + kBare + "}";
        app_.add_flag(marked, sink_)->trigger_on_parse()->each([this, name, set](const std::string& given) {
            RefuseUnknown();
            if (given != kBare) throw TUsageError(name + " takes no value");
            Once(name);
            set();
        });
    }

    // bare: the value of the option given without one (else it takes the next argument, whatever it looks like).
    void Value(const std::string& name, std::function<void(const std::string&)> take, bool repeatable = false,
               const std::optional<std::string>& bare = std::nullopt) {
        CLI::Option* option = app_.add_option(name, [this, name, take, repeatable](const CLI::results_t& given) {
            RefuseUnknown();
            if (!repeatable) Once(name);
            take(given.empty() ? std::string() : given.front());
            return true;
        });
        option->trigger_on_parse();
        if (bare)
            option->expected(0, 1)->default_str(*bare);
        else
            option->expected(1);
    }

    void Parse(const std::vector<std::string>& args) {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        try {
            app_.parse(reversed);
        } catch (const CLI::ArgumentMismatch&) {
            RefuseUnknown();
            // Only the last argument can lack its value: the line ends there.
            const std::string& last = args.back();
            throw TUsageError(last.substr(0, last.find('=')) + " wants a value");
        } catch (const CLI::ParseError& e) {
            throw TUsageError(e.what());
        }
        RefuseUnknown();
    }

private:
    // CLI11 keeps what it does not know for the end; said at the next known
    // option, the first wrong argument is still the one said.
    void RefuseUnknown() const {
        if (const auto extra = app_.remaining(); !extra.empty())
            throw TUsageError("unknown option '" + Printable(extra.front()) + "'");
    }

    void Once(const std::string& name) {
        if (++seen_[name] > 1) throw TUsageError(name + " given twice");
    }

    CLI::App app_{"kalosqm-station", "kalosqm-station"};
    std::string sink_;  // what the flags hold; their callbacks do the work
    std::map<std::string, int> seen_;
};

// --dir and --demo-dir: a folder, never an empty text.
std::function<void(const std::string&)> Folder(const std::string& name, std::string& target) {
    return [name, &target](const std::string& value) {
        if (value.empty()) throw TUsageError(name + " wants a folder");
        target = value;
    };
}

}  // namespace

THttpEndpoint ParseHttpOption(const std::string& text) {
    try {
        return ParseHttpEndpoint(text);
    } catch (const std::invalid_argument& e) {
        throw TUsageError(std::string("--http wants ADDR:PORT, :PORT or PORT: ") + e.what());
    }
}

TServiceOptions ParseServiceArgs(const std::vector<std::string>& args) {
    TServiceOptions o;
    TOptionTable table;
    table.Value(
        "--site",
        [&o](const std::string& v) {
            o.Sites.push_back(ParseNumber("--site", v, 1, 2147483647, "a site id (a whole number from 1)"));
        },
        true);
    table.Flag("--wait", "--wait", [&o] { o.Wait = true; });
    table.Flag("--demo", "--demo", [&o] { o.Demo = true; });
    table.Value("--dir", Folder("--dir", o.Dir));
    table.Value("--demo-dir", Folder("--demo-dir", o.DemoDir));
    table.Value("--data-supplier", [&o](const std::string& v) { o.DataSupplier = v; });
    table.Value("--tick-ms", [&o](const std::string& v) {
        o.TickMs = ParseNumber("--tick-ms", v, 10, 3600000, "milliseconds from 10 to 3600000");
    });
    // --http alone (last, or before another option): the page on 127.0.0.1:8080.
    table.Value(
        "--http", [&o](const std::string& v) { o.Http = ParseHttpOption(v); }, false, "127.0.0.1:8080");
    table.Flag("-h,--help", "--help", [&o] { o.Help = true; });
    table.Parse(args);
    if (o.Demo && (!o.Sites.empty() || !o.Dir.empty()))
        throw TUsageError("--demo makes its own folder and site: it takes neither --site nor --dir");
    if (!o.Demo && !o.DemoDir.empty()) throw TUsageError("--demo-dir goes with --demo");
    return o;
}

const char* ServiceUsage() {
    return "usage: kalosqm-station [--site ID]... [--wait] [--dir FOLDER] [--data-supplier TEXT] [--http ADDR:PORT]\n"
           "       kalosqm-station --demo [--demo-dir FOLDER] [--http ADDR:PORT]\n"
           "\n"
           "Runs the acquisition of the KALO-SQM site windows without any window: every\n"
           "site marked for autostart (or each site named with --site) is read on its\n"
           "schedule and its readings stored in Dati/KALOSQMDATA.FDB of the program\n"
           "folder, uploaded and logged as the desktop program does. One line per\n"
           "reading and per failure goes to standard error.\n"
           "\n"
           "  --site ID          run this site (repeatable) instead of the autostart sites\n"
           "  --wait             with no site to run, wait for SIGHUP instead of ending\n"
           "  --dir FOLDER       the program folder (default: the folder of the executable,\n"
           "                     or ~/.local/share/kalosqm for an installed program)\n"
           "  --data-supplier TEXT  who supplies the data, for the header of the night files\n"
           "  --http ADDR:PORT   a read-only web page (/), JSON (/api/v1/sites) and Prometheus\n"
           "                     metrics (/metrics) at that address; :PORT, PORT or --http\n"
           "                     alone listen on 127.0.0.1 (port 8080); port 0 takes a free\n"
           "                     one. Without it, the environment's KALOSQM_HTTP if set\n"
           "  --demo             try it without a meter: a demo folder with its own database,\n"
           "                     a simulated SQM-LE and the site \"Demo roof\", shown by the\n"
           "                     desktop program when there is a display\n"
           "  --demo-dir FOLDER  the demo folder (default: demo/ beside the bin/ folder, or\n"
           "                     ~/.local/share/kalosqm-demo for an installed program)\n"
           "  --help             this text\n"
           "\n"
           "SIGTERM and SIGINT end it in order; SIGHUP reads the site list again.\n"
           "Exit status: 0 stopped or nothing to run, 1 failure (the database is held by\n"
           "another KALO-SQM program, or missing), 2 usage error.\n";
}

