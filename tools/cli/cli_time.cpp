// kalosqm-cli time [--db FILE] [--port N]: the offset of the PC clock against
// the configured time servers. It never sets the clock.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli.h"
#include "fbdb.h"
#include "internettime.h"
#include "myutils.h"

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

int Run(const cli::Args& input) {
    cli::Args args = input;
    std::string dbFile = ProgramPath("Dati/KALOSQMDATA.FDB");
    std::string portText = "37";
    cli::TakeOption(args, "--db", dbFile);
    cli::TakeOption(args, "--port", portText);
    if (!args.empty()) return cli::Usage("time");
    int port = 0;
    try {
        size_t used = 0;
        port = std::stoi(portText, &used);
        if (used != portText.size()) port = 0;
    } catch (...) {
        port = 0;
    }
    if (port <= 0 || port > 65535) {
        std::cerr << "time: invalid port '" << portText << "'\n";
        return 2;
    }
    if (!std::filesystem::is_regular_file(dbFile)) {
        std::cerr << "time: database not found: " << dbFile << "\n";
        return 1;
    }

    std::vector<TimeServerEntry> servers;
    {
        fb::Database db(dbFile);
        db.Open();
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

}  // namespace

KALO_CLI_COMMAND("time", "  kalosqm-cli time [--db FILE] [--port N]\n"
                         "      offset of the PC clock against the time servers of the database\n"
                         "      (default: Dati/KALOSQMDATA.FDB beside the program); never sets the clock",
                 Run);
