// Night summaries at ten years of one-minute readings (5.26 million, 2015 to
// 2024, as bench_readings has them): every night summarised the first time,
// the same once kept, one night, and the trend of the clear nights.
//
//   bench_nights [--kalo_dir=FOLDER] [benchmark flags]
//
// The file is generated once from the delivered database into FOLDER
// (default $KALO_BENCH_DIR, else build/bench/data; a file of schema 1.2
// kept there is upgraded instead, timed) and kept between runs:
// a night sky that darkens towards midnight with a meter's noise, the Sun
// and Moon altitudes of a mid-latitude site, and clouds on two nights of
// five, so that the estimator does its whole work.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "core/site/nightsummaries.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/schemaupgrade.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMinutes = 5259600;  // ten years from 2015-01-01
fb::Database g_db;
const double kFrom = EncodeDate(2015, 1, 1), kTo = EncodeDate(2024, 12, 31);

void ExecRaw(fb::Transaction& tr, const std::string& sql) {
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, tr.Db().Handle(), tr.Handle(), 0, sql.c_str(), 1, nullptr);
    fb::Check(status);
}

void Exec(const std::string& sql) {
    fb::Transaction tr(g_db);
    tr.Start();
    ExecRaw(tr, sql);
    tr.Commit();
}

// Sun: 50 degrees either side of the horizon over the day, the night longer
// in winter; Moon: up half of each lunation's nights; sky: 21 mag/arcsec^2
// at midnight with 0.03 mag of noise, 2 mag brighter in twilight; clouds on
// nights whose number ends in 0, 3: churn of up to a magnitude.
std::string GenerateBlock(int first, int count) {
    return "EXECUTE BLOCK AS\n"
           "  DECLARE I INTEGER = " + std::to_string(first) + ";\n"
           "  DECLARE T DATE; DECLARE M INTEGER; DECLARE D INTEGER; DECLARE SUN DOUBLE PRECISION;\n"
           "  DECLARE MOON DOUBLE PRECISION; DECLARE V DOUBLE PRECISION;\n"
           "BEGIN\n"
           "  WHILE (I < " + std::to_string(first + count) + ") DO BEGIN\n"
           "    T = DATEADD(I MINUTE TO CAST('2015-01-01 00:00:00' AS DATE));\n"
           "    M = MOD(I, 1440); D = I / 1440;\n"
           "    SUN = -50 * COS(6.283185 * M / 1440) - 10 * COS(6.283185 * D / 365.25);\n"
           "    MOON = 40 * SIN(6.283185 * (M / 1440.0 + D / 29.53));\n"
           "    V = 21 - 0.2 * COS(6.283185 * M / 1440) + RAND() * 0.06 - 0.03;\n"
           "    IF (SUN > -18) THEN V = V - (SUN + 18) * 0.8;\n"
           "    IF (MOD(D, 5) IN (0, 3) AND MOD(M, 300) < 180) THEN V = V - RAND();\n"
           "    INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, "
           "REA_MOONH, REA_STATE, REA_UPLOADED, REA_ORIGIN)\n"
           "    VALUES ('n' || :I, 1, :T, IIF(:V < 0.1, 0.1, :V), -0.11, :SUN, :MOON, IIF(:SUN < -6, 0, -1), 1, 'K');\n"
           "    I = I + 1;\n"
           "  END\n"
           "END";
}

// A file of schema 1.2 kept in the folder is upgraded (timed: the night
// counts are filled from every reading) instead of generated again.
bool UpgradeEarlier(const std::string& dir, const std::string& file) {
    const std::string earlier = dir + "/nights-1.2.fdb";
    if (!fs::exists(earlier)) return false;
    fs::copy_file(earlier, file + ".part", fs::copy_options::overwrite_existing);
    g_db.SetFile(file + ".part");
    g_db.Open();
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    UpgradeSchema(g_db, [t0](const TUpgradeStep& s) {
        std::fprintf(stderr, "  %6.1f s  step %d of %d: %s\n",
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), s.Done + 1, s.Total,
                     s.What.c_str());
    });
    std::fprintf(stderr, "Upgraded %s to %s in %.1f s (%.1f s of CPU)\n", earlier.c_str(), kSchemaVersion,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                 static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
    g_db.Close();
    fs::rename(file + ".part", file);
    return true;
}

void Prepare(const std::string& dir) {
    const std::string file = dir + "/nights-" + kSchemaVersion + ".fdb";
    const bool fresh = !fs::exists(file) && !UpgradeEarlier(dir, file);
    if (fresh) {
        fs::create_directories(fs::path(file).parent_path());
        fs::copy_file(KALO_PRISTINE_DB, file + ".part", fs::copy_options::overwrite_existing);
        g_db.SetFile(file + ".part");
        g_db.Open();
        std::fprintf(stderr, "Generating %s (minutes)\n", file.c_str());
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE, SIT_LATIT, SIT_LONG) VALUES "
             "(1, 'Ten years', 'TY01', 45.87, 11.53)");
        constexpr int kBlock = 525960;  // a year per transaction
        for (int at = 0; at < kMinutes; at += kBlock) {
            fb::Transaction tr(g_db);
            tr.Start();
            ExecRaw(tr, GenerateBlock(at, std::min(kBlock, kMinutes - at)));
            tr.Commit();
            std::fprintf(stderr, "  %d of %d readings\n", std::min(at + kBlock, kMinutes), kMinutes);
        }
        g_db.Close();
        fs::rename(file + ".part", file);
    }
    g_db.SetFile(file);
    g_db.Open();
}

void Forget(const std::string& where = "") {
    Exec("DELETE FROM NIGHTSUMMARIES WHERE NSU_SITE = 1" + where);
}

void BM_TenYearsFirstTime(benchmark::State& state) {
    size_t nights = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Forget();
        state.ResumeTiming();
        nights = NightSummaries(g_db, 1, kFrom, kTo).size();
    }
    state.counters["nights"] = static_cast<double>(nights);
}
BENCHMARK(BM_TenYearsFirstTime)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_TenYearsKept(benchmark::State& state) {
    NightSummaries(g_db, 1, kFrom, kTo);
    for (auto _ : state) benchmark::DoNotOptimize(NightSummaries(g_db, 1, kFrom, kTo));
}
BENCHMARK(BM_TenYearsKept)->Unit(benchmark::kMillisecond);

void BM_TenYearsTrendKept(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(FitTrend(NightSummaries(g_db, 1, kFrom, kTo)));
}
BENCHMARK(BM_TenYearsTrendKept)->Unit(benchmark::kMillisecond);

void BM_OneNight(benchmark::State& state) {
    const double night = EncodeDate(2020, 3, 11);
    const std::string where = " AND NSU_NIGHT = " + std::to_string(static_cast<int>(night));
    for (auto _ : state) {
        state.PauseTiming();
        Forget(where);
        state.ResumeTiming();
        benchmark::DoNotOptimize(SummariseNight(g_db, 1, night));
    }
}
BENCHMARK(BM_OneNight)->Unit(benchmark::kMillisecond);

void BM_OneNightKept(benchmark::State& state) {
    const double night = EncodeDate(2020, 3, 11);
    SummariseNight(g_db, 1, night);
    for (auto _ : state) benchmark::DoNotOptimize(SummariseNight(g_db, 1, night));
}
BENCHMARK(BM_OneNightKept)->Unit(benchmark::kMillisecond);

std::string TakeFlag(int& argc, char** argv, const std::string& name) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind(prefix, 0) == 0) {
            for (int k = i; k + 1 < argc; ++k) argv[k] = argv[k + 1];
            --argc;
            return a.substr(prefix.size());
        }
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = TakeFlag(argc, argv, "kalo_dir");
    if (dir.empty() && std::getenv("KALO_BENCH_DIR")) dir = std::getenv("KALO_BENCH_DIR");
    if (dir.empty()) dir = KALO_BENCH_DATA_DIR;
    benchmark::Initialize(&argc, argv);
    try {
        Prepare(dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_nights: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_db.Close();
    return 0;
}
