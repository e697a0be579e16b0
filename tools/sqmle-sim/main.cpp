// sqmle-sim: a simulated SQM-LE meter for development and tests.
#include <array>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tools/sqmle-sim/sqmsim.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage() {
    std::fprintf(stderr,
                 "usage: sqmle-sim [--port N] [--bind ADDR] [--value MAG] [--freq HZ] [--counts N]\n"
                 "                 [--period S] [--temp C] [--protocol N] [--model N] [--feature N]\n"
                 "                 [--serial N] [--delay MS] [--silent] [--silent-info] [--close] [--reply TEXT]\n"
                 "                 [--info-reply TEXT] [--cal-reply TEXT] [--no-cx]\n"
                 "                 [--discovery-port N] [--mac AA:BB:CC:DD:EE:FF]\n"
                 "Answers \"rx\", \"ix\" and \"cx\" like an SQM-LE; --no-cx leaves \"cx\" unanswered.\n"
                 "Port 0 (default) takes a free port; the chosen port is printed on the first line.\n"
                 "--discovery-port also answers the network module's UDP discovery (00 00 00 F6 with\n"
                 "the MAC, 00 00 00 F8 with the setup record) on that port, 0 for a free one, printed\n"
                 "on the second line; the MAC defaults to 00:20:4A:00:0F:47.\n");
}

// "AA:BB:CC:DD:EE:FF" (or with '-') to six bytes.
bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
    unsigned b[6];
    char sep[5];
    char end;
    if (text.size() != 17 ||
        std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x%c", &b[0], &sep[0], &b[1], &sep[1], &b[2], &sep[2],
                    &b[3], &sep[3], &b[4], &sep[4], &b[5], &end) != 11)
        return false;
    for (char c : sep)
        if (c != sep[0] || (c != ':' && c != '-')) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) && c != sep[0]) return false;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    SqmSimConfig c;
    int port = 0;
    int discoveryPort = -1;
    std::string bind = "127.0.0.1";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        try {
            if (a == "--port") port = std::stoi(next());
            else if (a == "--bind") bind = next();
            else if (a == "--value") c.Value = std::stod(next());
            else if (a == "--freq") c.Frequency = std::stoi(next());
            else if (a == "--counts") c.Counts = std::stoi(next());
            else if (a == "--period") c.Period = std::stod(next());
            else if (a == "--temp") c.Temperature = std::stod(next());
            else if (a == "--protocol") c.Protocol = std::stoi(next());
            else if (a == "--model") c.Model = std::stoi(next());
            else if (a == "--feature") c.Feature = std::stoi(next());
            else if (a == "--serial") c.Serial = std::stoi(next());
            else if (a == "--delay") c.DelayMs = std::stoi(next());
            else if (a == "--silent") c.Silent = true;
            else if (a == "--silent-info") c.SilentInfo = true;
            else if (a == "--close") c.CloseOnRequest = true;
            else if (a == "--reply") c.RawReading = next();
            else if (a == "--info-reply") c.RawInfo = next();
            else if (a == "--cal-reply") c.RawCalibration = next();
            else if (a == "--no-cx") c.AnswerCalibration = false;
            else if (a == "--discovery-port") {
                discoveryPort = std::stoi(next());
                if (discoveryPort < 0 || discoveryPort > 65535) throw std::out_of_range("port");
            }
            else if (a == "--mac") {
                if (!ParseMac(next(), c.Mac)) throw std::invalid_argument("mac");
            }
            else if (a == "--help" || a == "-h") { Usage(); return 0; }
            else { Usage(); return 2; }
        } catch (const std::exception&) {
            std::fprintf(stderr, "sqmle-sim: bad value for %s\n", a.c_str());
            return 2;
        }
    }
    SqmSimulator sim(c);
    try {
        sim.Start(port, bind, discoveryPort);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sqmle-sim: %s\n", e.what());
        return 1;
    }
    std::printf("listening on %s:%d\n", bind.c_str(), sim.Port());
    if (discoveryPort >= 0) std::printf("discovery on %s:%d (UDP)\n", bind.c_str(), sim.DiscoveryPort());
    std::fflush(stdout);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (!g_stop) ::pause();
    sim.Stop();
    return 0;
}
