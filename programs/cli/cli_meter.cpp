// kalosqm-cli meter info|read HOST[:PORT] [--timeout SECONDS]
// kalosqm-cli meter find [--timeout S] [--to ADDR] [--port P] [--meter-port P]
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "programs/cli/cli.h"
#include "programs/cli/cli_table.h"
#include "core/station/meterfinder.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"

namespace {

struct Options {
    std::string address;
    int timeout = 10;
};

int Info(const Options& o) {
    std::string host;
    int port = 0;
    cli::SplitAddress(o.address, host, port);
    TSQM sqm(TSQMOptions{.Host = host, .Port = port, .TimeoutSeconds = o.timeout});
    try {
        if (!sqm.UpdateInfo()) {
            std::cerr << "meter: " << sqm.LastFailure() << "\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "meter: " << Printable(e.what()) << "\n";
        return 1;
    }
    if (sqm.Serial == 0 && sqm.Protocol == 0 && sqm.Model == 0 && sqm.Feature == 0) {
        std::cerr << "meter: the reply was not an identity reply\n";
        return 1;
    }
    std::printf("Protocol: %d\nModel: %d\nFeature: %d\nSerial: %d\n", sqm.Protocol, sqm.Model, sqm.Feature,
                sqm.Serial);
    return 0;
}

int Read(const Options& o) {
    std::string host;
    int port = 0;
    cli::SplitAddress(o.address, host, port);
    TSQM sqm(TSQMOptions{.Host = host, .Port = port, .TimeoutSeconds = o.timeout});
    // UTC = local time + (UTC - local).
    const double toUtc = NowUtc() - NowLocal();
    // Why it failed: a silent meter, nobody listening and a garbled line are
    // three different faults on the roof.
    if (!sqm.UpdateReading(nullptr, toUtc)) {
        std::cerr << "meter: " << sqm.LastFailure() << "\n";
        return 1;
    }
    std::printf("Time (UTC): %s\n", FormatSqlDateTime(sqm.DateTime).c_str());
    std::printf("Sky brightness: %.2f mag/arcsec2\n", sqm.SQMValue);
    std::printf("Frequency: %d Hz\nCounts: %d\nPeriod: %.3f s\n", sqm.Frequency, sqm.Counts, sqm.Period);
    std::printf("Temperature: %.1f C\n", sqm.Temperature);
    std::printf("Limiting magnitude (NELM): %.2f\n", sqm.NELM);
    return 0;
}

struct FindOptions {
    double timeout = 3;
    std::string to;
    int port = 30718;
    int meterPort = 10001;
};

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", s);
    return text;
}

std::string Ignored(const TFinderCounts& c) {
    std::string parts;
    auto part = [&](int n, const char* what) {
        if (n == 0) return;
        parts += (parts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    part(c.TooShort, "too short");
    part(c.TooLong, "too long");
    part(c.WrongFunction, "not a discovery reply");
    part(c.OtherSender, "from another address");
    part(c.OtherAddress, "naming another address");
    part(c.TooMany, "beyond the first 64 devices");
    return parts;
}

// Exit 0 when at least one device answered, meter or not; 1 when none did.
int Find(const FindOptions& o) {
    TFinderOptions f;
    f.Target = o.to;
    f.DiscoveryPort = o.port;
    f.MeterPort = o.meterPort;
    f.ListenMs = static_cast<int>(std::lround(o.timeout * 1000));
    TMeterFinder finder(f);
    try {
        finder.Run();
    } catch (const std::exception& e) {
        std::cerr << "meter find: " << Printable(e.what()) << "\n";
        return 1;
    }
    const TFinderCounts& counts = finder.Counts();
    if (counts.Ignored() > 0)
        std::cerr << "meter find: ignored " << counts.Ignored() << " datagram(s): " << Ignored(counts) << "\n";
    const auto& devices = finder.Devices();
    if (devices.empty()) {
        std::cerr << "meter find: no device answered on UDP port " << o.port << " within "
                  << Seconds(o.timeout) << " s"
                  << (o.to.empty() ? std::string() : " at " + o.to) << ".\n"
                  << "Check that this computer is on the same local network (subnet) as the meter, that the meter\n"
                  << "is on and cabled, and that no firewall here blocks UDP port " << o.port
                  << " (the replies come back to it).\n";
        return 1;
    }
    std::vector<std::vector<std::string>> rows{{"Address", "MAC", "Serial", "Protocol/Model/Feature"}};
    bool vendor = false;
    for (const TFoundDevice& d : devices) {
        const std::string mac = d.Mac.empty() ? "-" : d.Mac + (d.VendorPrefix ? " *" : "");
        vendor = vendor || d.VendorPrefix;
        if (d.IsMeter)
            rows.push_back({d.Address, mac, std::to_string(d.Identity.Serial),
                            std::to_string(d.Identity.Protocol) + "/" + std::to_string(d.Identity.Model) + "/" +
                                std::to_string(d.Identity.Feature)});
        else
            rows.push_back({d.Address, mac, "-", "not an SQM-LE: " + d.NotMeter});
    }
    cli::PrintTable(std::cout, rows);
    if (vendor) std::cout << "* the maker of the SQM-LE's network module (00-20-4A)\n";
    return 0;
}

void AddFind(CLI::App* meter) {
    auto o = std::make_shared<FindOptions>();
    CLI::App* c = meter->add_subcommand(
        "find", "the SQM-LE meters of the local network: UDP discovery, then \"ix\" to each device that answers");
    c->add_option("--timeout", o->timeout,
                  "seconds to collect the replies (with --to: until that device has answered)")
        ->check(CLI::Range(0.1, 600.0))
        ->check(cli::Finite())
        ->capture_default_str();
    c->add_option("--to", o->to, "ask this IPv4 address only, instead of broadcasting")
        ->type_name("ADDR")
        ->check(CLI::ValidIPV4);
    c->add_option("--port", o->port, "UDP port of the discovery")->check(CLI::Range(1, 65535))->capture_default_str();
    c->add_option("--meter-port", o->meterPort, "TCP port asked for \"ix\" and given with the address")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    c->footer("Exit status: 0 when a device answered (meter or not), 1 when none did, 2 a usage error.");
    cli::SetAction(c, [o] { return Find(*o); });
}

void Add(CLI::App& root) {
    CLI::App* meter = root.add_subcommand("meter", "talk to an SQM-LE directly (no database)");
    meter->require_subcommand(1);
    auto addOne = [meter](const char* name, const char* what, int (*run)(const Options&)) {
        auto o = std::make_shared<Options>();
        CLI::App* c = meter->add_subcommand(name, what);
        c->add_option("address", o->address, "the meter, port 10001 by default")->required()->check(cli::HostPort());
        c->add_option("--timeout", o->timeout, "seconds to wait for the answer")
            ->check(CLI::Range(1, 3600))
            ->capture_default_str();
        cli::SetAction(c, [o, run] { return run(*o); });
    };
    addOne("info", "the meter's identity (\"ix\")", &Info);
    addOne("read", "one reading with its limiting magnitude (\"rx\")", &Read);
    AddFind(meter);
}

}  // namespace

KALO_CLI_COMMAND("meter", &Add);
