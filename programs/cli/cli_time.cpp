// kalosqm-cli time [--db FILE] [--port N]: the offset of the PC clock against
// the configured time servers. It never sets the clock.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "programs/cli/cli.h"
#include "core/station/fbdb.h"
#include "core/station/internettime.h"
#include "core/station/myutils.h"

namespace {

// Ping errors go to the general log as in the program; on the command line
// they are worth seeing at once too.
class EchoingPinger : public IPinger {
public:
    int Ping(const std::string& host, int timeoutMs) override {
        try {
            return inner_.Ping(host, timeoutMs);
        } catch (const std::exception& e) {
            std::cerr << "time: " << host << ": " << e.what() << "\n";
            throw;
        }
    }

private:
    TIcmpPinger inner_;
};

// Asked to set the clock it refuses: this command only measures.
class NoClockSetter : public IClockSetter {
public:
    bool SetClockUtc(double) override { return false; }
};

int Run(const std::string& dbFile, int port) {
    std::vector<TimeServerEntry> servers;
    {
        fb::Database db;
        cli::OpenLocalDatabase(db, dbFile);
        servers = LoadTimeServers(db);
        db.Close();
    }
    if (servers.empty()) {
        std::cerr << "time: no time servers are configured in " << dbFile << "\n";
        return 1;
    }

    EchoingPinger pinger;
    NoClockSetter setter;
    TInternetTime internetTime(pinger, setter);
    internetTime.TimePort = port;
    double offset = 0;
    if (!internetTime.GetTimeOffset(servers, offset)) {
        std::cerr << "time: none of the " << servers.size() << " time servers answered\n";
        return 1;
    }
    const double seconds = offset * 86400.0;
    char text[64];
    std::snprintf(text, sizeof text, "%+.3f", seconds);
    std::cout << "Server: " << internetTime.LastHost() << "\n"
              << "Internet time: " << FormatSqlDateTime(NowLocal() + offset) << " (local)\n"
              << "Offset: " << text << " s (Internet time minus PC clock)\n";
    return 0;
}

void Add(CLI::App& root) {
    struct Options {
        std::string db;
        int port = 37;
    };
    auto o = std::make_shared<Options>();
    CLI::App* c = root.add_subcommand(
        "time", "offset of the PC clock against the time servers of the database; never sets the clock");
    cli::AddDbOption(c, o->db);
    c->add_option("--port", o->port, "Time protocol port of the servers")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    cli::SetAction(c, [o] { return Run(o->db, o->port); });
}

}  // namespace

KALO_CLI_COMMAND("time", &Add);
