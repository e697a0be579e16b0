// kalosqm-timeserver: an RFC 868 Time server on 127.0.0.1 for trying the
// program's Internet time without the Internet.
#include "tools/timeserver/rfc868server.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

int UsageError(const std::string& message) {
    std::cerr << "kalosqm-timeserver: " << message << "\n"
              << "usage: kalosqm-timeserver [--port N] [--seconds S] [--delay MS] [--never | --close-early] [--count N]\n"
              << "  --port N       listen on 127.0.0.1:N (default: a free port, printed on the first line)\n"
              << "  --seconds S    answer S seconds since 1900-01-01 UTC (default: the current time)\n"
              << "  --delay MS     answer MS milliseconds after accepting a connection\n"
              << "  --never        accept connections but never answer\n"
              << "  --close-early  send half of the answer, then close\n"
              << "  --count N      exit after serving N connections (default: run until stopped)\n";
    return 2;
}

bool ParseNumber(const std::string& text, long long min, long long max, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    timeserver::Reply reply;
    long long port = 0, count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](long long min, long long max, long long& out) {
            if (i + 1 >= argc) return false;
            return ParseNumber(argv[++i], min, max, out);
        };
        long long v = 0;
        if (a == "--port") {
            if (!next(0, 65535, port)) return UsageError("--port needs a number from 0 to 65535");
        } else if (a == "--seconds") {
            if (!next(0, 4294967295LL, v)) return UsageError("--seconds needs a number from 0 to 4294967295");
            reply.seconds = static_cast<uint32_t>(v);
        } else if (a == "--delay") {
            if (!next(0, 3600000, v)) return UsageError("--delay needs milliseconds from 0 to 3600000");
            reply.delayMs = static_cast<int>(v);
        } else if (a == "--never") {
            reply.kind = timeserver::Reply::Kind::Never;
        } else if (a == "--close-early") {
            reply.kind = timeserver::Reply::Kind::CloseEarly;
        } else if (a == "--count") {
            if (!next(1, 1000000, count)) return UsageError("--count needs a positive number");
        } else if (a == "--help" || a == "-h") {
            UsageError("an RFC 868 Time server for tests");
            return 0;
        } else {
            return UsageError("unknown option '" + a + "'");
        }
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    timeserver::Rfc868Server server;
    try {
        server.Start({reply}, static_cast<int>(port));
    } catch (const std::exception& e) {
        std::cerr << "kalosqm-timeserver: " << e.what() << "\n";
        return 1;
    }
    std::cout << server.Port() << std::endl;
    while (!g_stop && (count == 0 || server.Served() < count))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server.Stop();
    return 0;
}
