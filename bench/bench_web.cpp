// The station's web page on a big database: requests per second for the
// overview, /metrics, a night of JSON and a site's page, and what a client
// hammering the overview costs the acquisition (how late each tick reaches
// the meter), with and without it.
//
//   bench_web [--kalo_dir=FOLDER] [benchmark flags]
//
// The file (5 million one-minute readings of one site, about 9.5 years up
// to 2024-12-31) is generated once into FOLDER (default $KALO_BENCH_DIR, else
// build/bench/data) and kept between runs.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/station/fbdb.h"
#include "programs/station/httpserver.h"
#include "programs/station/stationweb.h"
#include "programs/station/webstate.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kMinutes = 5000000;
// A night inside the data: 2020-03-11 noon to noon, 1441 readings.
const char* const kNight = "2020-03-11";

std::string DataDir() {
    if (const char* d = std::getenv("KALO_BENCH_DIR"); d && *d) return d;
    return KALO_BENCH_DATA_DIR;
}
std::string g_dir = DataDir();

std::string File() { return g_dir + "/web-5M/Dati/KALOSQMDATA.FDB"; }

// The readings end on 2024-12-31: night values 20 to 22, daylight ones low.
void Generate(fb::Database& db) {
    db.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEZONE, SIT_LATIT, "
                        "SIT_LONG, SIT_AUTOSTART) VALUES (1, 'Five million', '127.0.0.1', 10001, 0, 45.8664, 11.5264, 0)");
    constexpr int kBlock = 500000;
    for (int at = 0; at < kMinutes; at += kBlock) {
        fb::Transaction tr(db);
        tr.Start();
        const std::string sql =
            "EXECUTE BLOCK AS\n"
            "  DECLARE I INTEGER = " + std::to_string(at) + ";\n"
            "  DECLARE T TIMESTAMP; DECLARE M INTEGER; DECLARE NIGHT INTEGER;\n"
            "BEGIN\n"
            "  WHILE (I < " + std::to_string(at + kBlock) + ") DO BEGIN\n"
            "    T = DATEADD(I - " + std::to_string(kMinutes) + " MINUTE TO CAST('2025-01-01 00:00:00' AS TIMESTAMP));\n"
            "    M = MOD(I, 1440);\n"
            "    NIGHT = IIF(M >= 1080 OR M < 360, 1, 0);\n"
            "    INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_STATE, "
            "REA_UPLOADED, REA_SQMOFFSET)\n"
            "    VALUES ('w' || :I, 1, :T, IIF(:NIGHT = 1, 20 + RAND() * 2, RAND() * 12), 10 + RAND() * 5, "
            "IIF(:NIGHT = 1, 0, -1), IIF(:I < " + std::to_string(kMinutes - 10080) + ", 1, 0), 0);\n"
            "    I = I + 1;\n"
            "  END\n"
            "END";
        ISC_STATUS_ARRAY status;
        isc_dsql_execute_immediate(status, tr.Db().Handle(), tr.Handle(), 0, sql.c_str(), 1, nullptr);
        fb::Check(status);
        tr.Commit();
        std::fprintf(stderr, "  %d of %d readings\n", at + kBlock, kMinutes);
    }
}

void EnsureDatabase() {
    static bool done = false;
    if (done) return;
    done = true;
    if (fs::exists(File())) return;
    fs::create_directories(fs::path(File()).parent_path());
    const std::string part = File() + ".part";
    fs::copy_file(KALO_PRISTINE_DB, part, fs::copy_options::overwrite_existing);
    std::fprintf(stderr, "Generating %s (a few minutes)\n", File().c_str());
    fb::Database db(part);
    db.Open();
    Generate(db);
    db.Close();
    fs::rename(part, File());
}

int Get(int port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return 0;
    }
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    std::string raw;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) raw.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return raw.size() > 12 ? std::atoi(raw.c_str() + 9) : 0;
}

// The page served in this process, as the service serves it.
struct TServed {
    TServed() : web(activity) {
        web.SetDatabase(File());
        server = std::make_unique<THttpServer>(THttpEndpoint{"127.0.0.1", 0},
                                               [this](const THttpRequest& r) { return web.Handle(r); });
    }
    TStationActivity activity;
    TStationWeb web;
    std::unique_ptr<THttpServer> server;
};

void BM_Request(benchmark::State& state, const std::string& target) {
    EnsureDatabase();
    TServed served;
    const int port = served.server->Port();
    if (Get(port, target) != 200) {  // warm, and a wrong answer is no figure
        state.SkipWithError(("no 200 for " + target).c_str());
        return;
    }
    for (auto _ : state)
        if (Get(port, target) != 200) state.SkipWithError("a request failed");
    state.SetItemsProcessed(state.iterations());
}

// This process's memory in kB: VmRSS now, VmHWM the peak since the last reset.
long long MemoryKb(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(std::string(field) + ":", 0) == 0) return std::stoll(line.substr(std::strlen(field) + 1));
    return -1;
}

// Every reading of the ten years asked at once: one page of at most 10000,
// written as it is read. Requests per second, and the most memory a request
// added to this process, which serves it (and holds the 1.4 MB it receives).
void BM_AllReadingsPage(benchmark::State& state) {
    EnsureDatabase();
    TServed served;
    const int port = served.server->Port();
    const std::string target = "/api/v1/sites/1/readings?from=1900-01-01&to=9999-12-31";
    if (Get(port, target) != 200) {
        state.SkipWithError("no 200 for the readings page");
        return;
    }
    std::ofstream("/proc/self/clear_refs") << "5";
    const long long before = MemoryKb("VmRSS");
    for (auto _ : state)
        if (Get(port, target) != 200) state.SkipWithError("a request failed");
    state.SetItemsProcessed(state.iterations());
    state.counters["peak_growth_MB"] = static_cast<double>(MemoryKb("VmHWM") - before) / 1024.0;
}

// kalosqm-station on the big file with a simulated meter read every 500 ms;
// the simulator's request count, watched every millisecond, dates each
// tick's arrival. hammer: a client fetches / without a pause meanwhile.
void BM_TickLatency(benchmark::State& state) {
    EnsureDatabase();
    const bool hammer = state.range(0) != 0;
    constexpr int kTickMs = 500, kTicks = 40;
    for (auto _ : state) {
        SqmSimulator sim;
        sim.Start();
        {
            fb::Database db(File());
            db.Open();
            db.ExecuteImmediate("UPDATE SETTINGS SET SET_USEINTERTETTIME=0, SET_UPLOADDATA=0 WHERE SET_ID=1");
            db.ExecuteImmediate("UPDATE OR INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_SQMHOST, SIT_SQMPORT, "
                                "SIT_TIMEOUT, SIT_INTERVAL, SIT_ACQUIREMODE, SIT_AUTOSTART, SIT_TIMEZONE) VALUES (2, "
                                "'Ticking', '127.0.0.1', " + std::to_string(sim.Port()) + ", 2, 0, 0, 1, 0) MATCHING (SIT_ID)");
            db.Close();
        }
        const std::string err = g_dir + "/web-5M/stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDERR_FILENO);
            const std::string dir = g_dir + "/web-5M";
            ::execl(KALOSQM_STATION_EXE, KALOSQM_STATION_EXE, "--dir", dir.c_str(), "--http", "127.0.0.1:0",
                    "--tick-ms", std::to_string(kTickMs).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int port = 0;
        for (int i = 0; i < 300 && port == 0; ++i) {
            std::this_thread::sleep_for(100ms);
            std::ifstream in(err);
            std::stringstream s;
            s << in.rdbuf();
            std::smatch m;
            const std::string text = s.str();
            if (std::regex_search(text, m, std::regex(R"(web page at http://127\.0\.0\.1:(\d+)/)"))) port = std::stoi(m[1]);
        }
        std::atomic<bool> stop{false};
        std::atomic<int64_t> pages{0};
        std::thread client;
        if (hammer && port)
            client = std::thread([&] {
                while (!stop) pages += Get(port, "/") == 200;
            });
        std::vector<double> arrivals;  // ms
        const auto t0 = std::chrono::steady_clock::now();
        int seen = sim.Requests();
        while (arrivals.size() < kTicks && std::chrono::steady_clock::now() - t0 < 120s) {
            const int now = sim.Requests();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (now != seen && (arrivals.empty() || ms - arrivals.back() > kTickMs / 2.0)) arrivals.push_back(ms);
            seen = now;
            std::this_thread::sleep_for(1ms);
        }
        stop = true;
        if (client.joinable()) client.join();
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        if (arrivals.size() < 3) {
            state.SkipWithError("the station did not read the meter (see stderr.txt in the data folder)");
            return;
        }
        // Late = after the first tick plus whole periods; the first two settle the start.
        double sum = 0, worst = 0;
        for (size_t i = 2; i < arrivals.size(); ++i) {
            const double late = arrivals[i] - arrivals[1] - kTickMs * std::round((arrivals[i] - arrivals[1]) / kTickMs);
            sum += std::abs(late);
            worst = std::max(worst, std::abs(late));
        }
        state.counters["late_ms_mean"] = sum / static_cast<double>(arrivals.size() - 2);
        state.counters["late_ms_max"] = worst;
        state.counters["ticks"] = static_cast<double>(arrivals.size());
        state.counters["pages"] = static_cast<double>(pages.load());
    }
}

}  // namespace

BENCHMARK_CAPTURE(BM_Request, overview, std::string("/"))->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK_CAPTURE(BM_Request, metrics, std::string("/metrics"))->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK_CAPTURE(BM_Request, night_json, std::string("/api/v1/sites/1/readings?night=") + kNight)
    ->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK_CAPTURE(BM_Request, night_stats, std::string("/api/v1/sites/1/stats?night=") + kNight)
    ->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK_CAPTURE(BM_Request, site_page, std::string("/site/1?night=") + kNight)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_AllReadingsPage)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_TickLatency)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--kalo_dir=", 11) == 0) g_dir = argv[i] + 11;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
