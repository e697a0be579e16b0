// kalosqm-cli meter info|read HOST[:PORT] [--timeout SECONDS]
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli.h"
#include "myutils.h"
#include "sqm.h"
#include "uihooks.h"

namespace {

struct Options {
    std::string address;
    int timeout = 10;
};

int Info(const Options& o) {
    std::string host;
    int port = 0;
    cli::SplitAddress(o.address, host, port);
    SetBeepHook([] {});
    TSQM sqm(host, port, o.timeout, nullptr, false, false, 0, 0, 0);
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
    SetBeepHook([] {});
    TSQM sqm(host, port, o.timeout, nullptr, false, false, 0, 0, 0);
    // UTC = local time + (UTC - local).
    const double toUtc = NowUtc() - NowLocal();
    // Why it failed: a silent meter, nobody listening and a garbled line are
    // three different faults on the roof.
    if (!sqm.UpdateReading(nullptr, false, toUtc)) {
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
}

}  // namespace

KALO_CLI_COMMAND("meter", &Add);
