// kalosqm-cli meter info|read HOST[:PORT] [--timeout SECONDS]
#include <cstdio>
#include <iostream>
#include <string>

#include "cli.h"
#include "myutils.h"
#include "sqm.h"
#include "uihooks.h"

namespace {

constexpr int kDefaultMeterPort = 10001;

bool SplitHostPort(const std::string& text, std::string& host, int& port) {
    port = kDefaultMeterPort;
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
    try {
        size_t used = 0;
        port = std::stoi(rest, &used);
        return used == rest.size() && port > 0 && port < 65536 && !host.empty();
    } catch (...) {
        return false;
    }
}

int Run(const cli::Args& input) {
    cli::Args args = input;
    std::string timeoutText = "10";
    cli::TakeOption(args, "--timeout", timeoutText);
    int timeout = 0;
    try {
        timeout = std::stoi(timeoutText);
    } catch (...) {
        timeout = 0;
    }
    if (args.size() != 2 || timeout <= 0 || (args[0] != "info" && args[0] != "read")) return cli::Usage("meter");
    std::string host;
    int port = 0;
    if (!SplitHostPort(args[1], host, port)) {
        std::cerr << "meter: invalid address '" << args[1] << "'\n";
        return 2;
    }
    SetBeepHook([] {});
    TSQM sqm(host, port, timeout, nullptr, false, false, 0, 0, 0);
    if (args[0] == "info") {
        try {
            if (!sqm.UpdateInfo()) {
                std::cerr << "meter: no answer from " << host << ":" << port << " within " << timeout << " s\n";
                return 1;
            }
        } catch (const std::exception& e) {
            std::cerr << "meter: " << e.what() << "\n";
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
    // UTC = local time + (UTC - local).
    const double toUtc = NowUtc() - NowLocal();
    if (!sqm.UpdateReading(nullptr, false, toUtc)) {
        std::cerr << "meter: no valid reading from " << host << ":" << port
                  << " (no answer within the timeout, refused, or a malformed reply)\n";
        return 1;
    }
    std::printf("Time (UTC): %s\n", FormatSqlDateTime(sqm.DateTime).c_str());
    std::printf("Sky brightness: %.2f mag/arcsec2\n", sqm.SQMValue);
    std::printf("Frequency: %d Hz\nCounts: %d\nPeriod: %.3f s\n", sqm.Frequency, sqm.Counts, sqm.Period);
    std::printf("Temperature: %.1f C\n", sqm.Temperature);
    std::printf("Limiting magnitude (NELM): %.2f\n", sqm.NELM);
    return 0;
}

}  // namespace

KALO_CLI_COMMAND("meter",
                 "  meter info HOST[:PORT] [--timeout SECONDS]   identity of an SQM-LE (port 10001 by default)\n"
                 "  meter read HOST[:PORT] [--timeout SECONDS]   one reading with its limiting magnitude",
                 Run);
