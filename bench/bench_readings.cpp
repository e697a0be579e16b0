// The statements a station runs on every tick and window refresh, at ten
// years of one-minute readings: site 1 with 5.26 million (2015-2024), site 2
// with one million, as real stations have them (about 60 % daylight readings,
// never uploaded; the last week's night readings waiting; the rest uploaded).
//
//   bench_readings [--kalo_dir=FOLDER] [--kalo_template=FILE] [--kalo_upgrade] [benchmark flags]
//
// The file is generated once from the template (default: the delivered
// database the build makes) into FOLDER (default $KALO_BENCH_DIR, else
// build/bench/data) and kept between runs; the deletion of site 2, last,
// is undone by generating it again at the next run. --kalo_template with a
// database of schema 1.0 gives the figures before the upgrade; --kalo_upgrade
// then upgrades a copy of that file, timed, and measures the copy.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/site/acquisition.h"
#include "core/site/waitingupload.h"
#include "core/station/fbdb.h"
#include "core/site/localquery.h"
#include "core/station/myutils.h"
#include "core/site/readingcounts.h"
#include "core/station/schemaupgrade.h"
#include "core/site/sitelist.h"
#include "core/station/sqm.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSite1Minutes = 5259600;   // ten years from 2015-01-01
constexpr int kSite2Minutes = 1000000;   // the last 694 days of them
constexpr int kWaitingMinutes = 7 * 1440;  // the last week waits for upload

fb::Database g_db;
std::string g_version;

// The statement of waiting readings as schema 1.0 had it.
const char* const kPendingSQL10 =
    "SELECT FIRST :NUMREC \n"
    "REA_CODE, SIT_CODE  FROM READINGS JOIN SQMSITES ON REA_SITE=SIT_ID\n"
    "WHERE REA_SITE=:IDSITO and (REA_UPLOADED=0 or REA_MODIFIED=1) AND REA_STATE<>-1 AND REA_SQMVALUE>0\n"
    "ORDER BY REA_DATETIME DESC";

const char* const kLatestSQL =
    "select FIRST :LIMIT REA_CODE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SQMOFFSET,REA_UPLOADED, REA_STATE "
    "from READINGS WHERE REA_SITE=:SIT_ID\norder by REA_DATETIME DESC";
const char* const kRealTimeNightSQL =
    "select REA_CODE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SQMOFFSET from READINGS WHERE REA_SITE=:SIT_ID and "
    "REA_DATETIME BETWEEN :START and :STOP\norder by REA_DATETIME ";
const char* const kCountSQL[] = {
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\nwhere REA_SITE=:SIT_ID AND REA_STATE>=0",
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\n"
    "where REA_SITE=:SIT_ID AND REA_STATE>=0 AND REA_UPLOADED=0 AND REA_SQMVALUE>0",
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\n"
    "where REA_SITE=:SIT_ID AND REA_STATE>=0 AND REA_MODIFIED=1 AND REA_SQMVALUE>0",
};

// The local query of an interval and its statistics, as the site window runs them.
struct TInterval {
    const char* Name;
    const char* From;
    const char* To;
};
const TInterval kNight{"night", "11.03.2020 12.00.00", "12.03.2020 12.00.00"};
const TInterval kMonth{"month", "01.03.2020 12.00.00", "01.04.2020 12.00.00"};
const TInterval kYear{"year", "01.01.2020 12.00.00", "01.01.2021 12.00.00"};

std::string Where(const TInterval& i) {
    return std::string("WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN '") + i.From + "' AND '" + i.To + "'";
}

void ExecRaw(fb::Transaction& tr, const std::string& sql) {
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, tr.Db().Handle(), tr.Handle(), 0, sql.c_str(), 1, nullptr);
    fb::Check(status);
}

int64_t Scalar(const std::string& sql, int site) {
    fb::Transaction tr(g_db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(sql);
    if (!q.ParamNames().empty()) q.SetInteger("SIT_ID", site);
    q.Open();
    const int64_t n = q.Fields(0).IsNull() ? 0 : q.Fields(0).AsInteger();
    q.Close();
    tr.Commit();
    return n;
}

// Reads every row: what a window does with the result.
int64_t Drain(fb::Query& q) {
    int64_t n = 0;
    for (q.Open(); !q.Eof(); q.Next()) ++n;
    q.Close();
    return n;
}

// ------------------------------------------------------------- generation

// One block of one-minute readings inside the engine: night by a seasonal
// length around midnight UTC, daylight never uploaded, the last week waiting
// with a few modified after upload.
std::string GenerateBlock(int site, int first, int count) {
    const std::string waitFrom = std::to_string(kSite1Minutes - kWaitingMinutes);
    const std::string s = std::to_string(site);
    return "EXECUTE BLOCK AS\n"
           "  DECLARE I INTEGER = " + std::to_string(first) + ";\n"
           "  DECLARE T DATE; DECLARE M INTEGER; DECLARE H INTEGER; DECLARE NIGHT INTEGER;\n"
           "  DECLARE UPL INTEGER; DECLARE MODI INTEGER;\n"
           "BEGIN\n"
           "  WHILE (I < " + std::to_string(first + count) + ") DO BEGIN\n"
           "    T = DATEADD(I MINUTE TO CAST('2015-01-01 00:00:00' AS DATE));\n"
           "    M = MOD(I, 1440);\n"
           "    H = 288 + 90 * COS(6.283185 * (I / 1440) / 365.25);\n"
           "    NIGHT = IIF(M >= 1440 - H OR M < H, 1, 0);\n"
           "    UPL = IIF(NIGHT = 1 AND I < " + waitFrom + ", 1, 0);\n"
           "    MODI = IIF(UPL = 0 AND NIGHT = 1 AND MOD(I, 97) = 0, 1, 0);\n"
           "    UPL = IIF(MODI = 1, 1, UPL);\n"
           "    INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH,\n"
           "      REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN, REA_MOONAGE,\n"
           "      REA_MOONILLUM, REA_ASTRO_DOWNING, REA_ASTRO_TWILIGHT)\n"
           "    VALUES (EXTRACT(YEAR FROM :T) || LPAD(EXTRACT(MONTH FROM :T), 2, '0') || LPAD(EXTRACT(DAY FROM :T), 2, '0') ||\n"
           "      LPAD(EXTRACT(HOUR FROM :T), 2, '0') || LPAD(EXTRACT(MINUTE FROM :T), 2, '0') || '00' || " + s + ",\n"
           "      " + s + ", :T, IIF(:NIGHT = 1, 20 + RAND() * 2, IIF(:M BETWEEN :H AND :H + 40, RAND() * 12, 0)),\n"
           "      10 + RAND() * 5, -30 + RAND() * 60, -60 + RAND() * 120, RAND() * 180,\n"
           "      IIF(:NIGHT = 1, 0, -1), :UPL, 1, :MODI, 0, 'K', RAND() * 29.5, RAND(), :T - 0.3, :T + 0.3);\n"
           "    I = I + 1;\n"
           "  END\n"
           "END";
}

void GenerateSite(int site, int first, int count) {
    constexpr int kBlock = 525960;  // a year per transaction
    for (int at = first; at < first + count; at += kBlock) {
        fb::Transaction tr(g_db);
        tr.Start();
        ExecRaw(tr, GenerateBlock(site, at, std::min(kBlock, first + count - at)));
        tr.Commit();
        std::fprintf(stderr, "  site %d: %d of %d readings\n", site, at - first + std::min(kBlock, first + count - at),
                     count);
    }
}

void AddSite(int id, const char* name, const char* code) {
    fb::Transaction tr(g_db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE, SIT_SQMHOST, SIT_SQMPORT, SIT_TIMEZONE) "
             "VALUES (:ID, :NAME, :CODE, '127.0.0.1', 10001, 0)");
    q.SetInteger("ID", id);
    q.SetString("NAME", name);
    q.SetString("CODE", code);
    q.ExecSQL();
    tr.Commit();
}

// Makes (once) and opens the file; gives site 2 back after a run deleted it.
void Prepare(const std::string& file, const std::string& templ) {
    const bool fresh = !fs::exists(file);
    if (fresh) {
        fs::create_directories(fs::path(file).parent_path());
        fs::copy_file(templ, file + ".part", fs::copy_options::overwrite_existing);
    }
    g_db.SetFile(fresh ? file + ".part" : file);
    g_db.Open();
    const auto t0 = std::chrono::steady_clock::now();
    if (fresh) {
        std::fprintf(stderr, "Generating %s (a few minutes)\n", file.c_str());
        AddSite(1, "Ten years", "TY01");
        GenerateSite(1, 0, kSite1Minutes);
    }
    if (Scalar("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=2", 0) == 0) {
        std::fprintf(stderr, "Generating site 2 in %s\n", file.c_str());
        AddSite(2, "Second", "SE02");
        GenerateSite(2, kSite1Minutes - kSite2Minutes, kSite2Minutes);
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s > 1) std::fprintf(stderr, "Generated in %.0f s\n", s);
    if (fresh) {
        g_db.Close();
        fs::rename(file + ".part", file);
        g_db.SetFile(file);
        g_db.Open();
    }
    g_version = DatabaseSchemaVersion(g_db);
}

// A new attachment: the engine's page cache starts empty (the files stay in
// the system's cache).
void Reattach(benchmark::State& state) {
    state.PauseTiming();
    g_db.Close();
    g_db.Open();
    state.ResumeTiming();
}

bool Is10() { return g_version == "1.0"; }

// ------------------------------------------------------------- benchmarks

void BM_LatestReadings(benchmark::State& state, int limit, bool fresh) {
    for (auto _ : state) {
        if (fresh) Reattach(state);
        fb::Transaction tr(g_db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(kLatestSQL);
        q.SetInteger("LIMIT", limit);
        q.SetInteger("SIT_ID", 1);
        benchmark::DoNotOptimize(Drain(q));
        tr.Commit();
    }
}

// The interval's rows in both orders, then its statistics in one snapshot.
struct TIntervalQuery {
    explicit TIntervalQuery(fb::Transaction& rc, fb::Transaction& snap, const TInterval& i)
        : asc(rc), desc(rc), stats(snap), values(snap) {
        asc.SetSQL("select * from READINGS \n" + Where(i) + "\nORDER BY REA_DATETIME");
        desc.SetSQL("select * from READINGS \n" + Where(i) + "\nORDER BY REA_DATETIME DESC");
        stats.SetSQL("SELECT COUNT(REA_CODE) AS NUMERO, AVG(REA_SQMVALUE+REA_SQMOFFSET) AS MEDIA FROM READINGS\n" +
                     Where(i));
        values.SetSQL("SELECT REA_SQMVALUE, REA_SQMOFFSET FROM READINGS\n" + Where(i) + "\nORDER BY REA_SQMVALUE ASC");
    }
    int64_t Run(bool descending) {
        fb::Query& rows = descending ? desc : asc;
        for (fb::Query* q : {&rows, &stats, &values}) q->SetInteger("SIT_ID", 1);
        return Drain(rows) + Drain(stats) + Drain(values);
    }
    fb::Query asc, desc, stats, values;
};

void BM_Interval(benchmark::State& state, TInterval interval, bool prepareEachTime, bool fresh) {
    std::unique_ptr<fb::Transaction> rc, snap;
    std::unique_ptr<TIntervalQuery> q;
    int64_t rows = 0;
    bool descending = false;
    for (auto _ : state) {
        if (fresh) {
            q.reset();
            snap.reset();
            rc.reset();
            Reattach(state);
        }
        if (!q || prepareEachTime) {
            q.reset();
            rc = std::make_unique<fb::Transaction>(g_db, fb::Isolation::ReadCommitted);
            snap = std::make_unique<fb::Transaction>(g_db, fb::Isolation::Concurrency);
            rc->Start();
            q = std::make_unique<TIntervalQuery>(*rc, *snap, interval);
        }
        snap->EnsureActive();
        rows = q->Run(descending);
        descending = !descending;
        snap->Commit();  // the statistics' snapshot ends with them
    }
    state.counters["rows"] = static_cast<double>(rows);
}

// The same intervals through the site core, as the query page runs them:
// the rows and, on an attachment of their own meanwhile, the statistics.
void BM_WindowQuery(benchmark::State& state, TQueryWindow w) {
    fb::Transaction tr(g_db);
    tr.Start();
    size_t rows = 0;
    bool descending = false;
    for (auto _ : state) {
        const TQueryResult r = RunQueryWithStatistics(tr, 1, w, descending ? TSortOrder::Descending : TSortOrder::Ascending);
        rows = r.Rows.size();
        benchmark::DoNotOptimize(r.Statistics.Count);
        descending = !descending;
    }
    tr.Commit();
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_RealTimeNight(benchmark::State& state) {
    fb::Transaction tr(g_db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(kRealTimeNightSQL);
    for (auto _ : state) {
        q.SetInteger("SIT_ID", 1);
        q.SetDateTime("START", EncodeDateTime(2024, 12, 30, 18, 0, 0));
        q.SetDateTime("STOP", EncodeDateTime(2024, 12, 31, 6, 0, 0));
        benchmark::DoNotOptimize(Drain(q));
    }
}

// Waiting readings of site 1: the last week's, or none once they are sent.
void SetWaiting(bool waiting) {
    fb::Transaction tr(g_db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(waiting ? "UPDATE READINGS SET REA_UPLOADED=IIF(MOD(DATEDIFF(MINUTE FROM CAST('2015-01-01 00:00:00' AS "
                       "DATE) TO REA_DATETIME), 97) = 0, 1, 0), REA_MODIFIED=IIF(MOD(DATEDIFF(MINUTE FROM "
                       "CAST('2015-01-01 00:00:00' AS DATE) TO REA_DATETIME), 97) = 0, 1, 0) "
                       "WHERE REA_SITE=1 AND REA_DATETIME >= :FROM AND REA_STATE=0"
                     : "UPDATE READINGS SET REA_UPLOADED=1, REA_MODIFIED=0 WHERE REA_SITE=1 AND REA_DATETIME >= :FROM "
                       "AND REA_STATE=0");
    q.SetDateTime("FROM", EncodeDateTime(2015, 1, 1, 0, 0, 0) + (kSite1Minutes - kWaitingMinutes) / 1440.0);
    q.ExecSQL();
    tr.Commit();
    // Read them once so the old versions are gone before the timing.
    Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_DATETIME >= '2024-12-24'", 1);
}

void BM_Pending(benchmark::State& state, bool waiting, int count, bool fresh) {
    if (!waiting) SetWaiting(false);
    const std::string sql = Is10() ? std::string(kPendingSQL10) : std::string(kPendingReadingsSQL);
    const std::string rest = sql.substr(sql.find('\n'));
    const std::string text = (count ? "SELECT FIRST " + std::to_string(count) + " " : std::string("SELECT")) + rest;
    int64_t rows = 0;
    for (auto _ : state) {
        if (fresh) Reattach(state);
        fb::Transaction tr(g_db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(text);
        q.SetInteger("IDSITO", 1);
        rows = Drain(q);
        tr.Commit();
    }
    state.counters["rows"] = static_cast<double>(rows);
    if (!waiting) SetWaiting(true);
}

void BM_Counts(benchmark::State& state, bool statements, int which, bool fresh) {
    int64_t n = 0;
    for (auto _ : state) {
        if (fresh) Reattach(state);
        fb::Transaction tr(g_db);
        tr.Start();
        if (statements) {
            fb::Query q(tr);
            q.SetSQL(kCountSQL[which]);
            q.SetInteger("SIT_ID", 1);
            q.Open();
            n = q.Fields(0).AsInteger();
            q.Close();
        } else {
            const TReadingCounts c = ReadReadingCounts(tr, 1);
            n = c.Total + c.New + c.Modified;
        }
        tr.Commit();
    }
    state.counters["value"] = static_cast<double>(n);
}

void BM_Store(benchmark::State& state) {
    TSQM s(TSQMOptions{.Port = 0, .TimeoutSeconds = 1, .SiteId = 1});
    s.DateTime = EncodeDateTime(2030, 1, 1, 0, 0, 0);
    s.SQMValue = 20.5;
    s.Origin = 'K';
    for (auto _ : state) {
        s.DateTime += 1.0 / 1440;
        s.StoreReading(&g_db);
    }
    fb::Transaction tr(g_db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("DELETE FROM READINGS WHERE REA_SITE=1 AND REA_DATETIME >= '2030-01-01'");
    q.ExecSQL();
    tr.Commit();
}

// Site 2 and its million readings, then the collection of what they left,
// then one reader of their pages: the time a user would wait after it.
void BM_DeleteSite(benchmark::State& state) {
    for (auto _ : state) {
        TSiteDeletion d;
        const auto t0 = std::chrono::steady_clock::now();
        fb::Transaction tr(g_db);
        tr.Start();
        if (Is10()) {
            d.SiteId = 2;
            d.Readings = Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=:SIT_ID", 2);
            d.First = EncodeDateTime(2015, 1, 1, 0, 0, 0) + (kSite1Minutes - kSite2Minutes) / 1440.0;
            d.Last = EncodeDateTime(2015, 1, 1, 0, 0, 0) + kSite1Minutes / 1440.0;
            fb::Query q(tr);
            q.SetSQL("delete from SQMSITES\nwhere\n  SIT_ID = :OLD_SIT_ID");
            q.SetInteger("OLD_SIT_ID", 2);
            q.ExecSQL();
            tr.Commit();
            d.Deleted = true;
        } else {
            d = DeleteSite(tr, 2, [](int64_t, int64_t) { return true; });
            tr.Commit();
        }
        const auto t1 = std::chrono::steady_clock::now();
        CollectSiteGarbage(g_db, d);
        const auto t2 = std::chrono::steady_clock::now();
        Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=:SIT_ID", 2);
        Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_DATETIME >= '2023-02-05' AND REA_SITE=1", 1);
        const auto t3 = std::chrono::steady_clock::now();
        auto secs = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
        state.counters["delete_s"] = secs(t0, t1);
        state.counters["collect_s"] = secs(t1, t2);
        state.counters["next_reader_s"] = secs(t2, t3);
        state.counters["readings"] = static_cast<double>(d.Readings);
    }
}

std::string TakeFlag(int& argc, char** argv, const std::string& name, bool* present = nullptr) {
    std::string value;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--" + name || a.rfind("--" + name + "=", 0) == 0) {
            value = a.size() > name.size() + 2 ? a.substr(name.size() + 3) : std::string();
            if (present) *present = true;
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            --i;
        }
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    bool upgrade = false;
    std::string dir = TakeFlag(argc, argv, "kalo_dir");
    std::string templ = TakeFlag(argc, argv, "kalo_template");
    TakeFlag(argc, argv, "kalo_upgrade", &upgrade);
    if (dir.empty() && std::getenv("KALO_BENCH_DIR")) dir = std::getenv("KALO_BENCH_DIR");
    if (dir.empty()) dir = KALO_BENCH_DATA_DIR;
    if (templ.empty()) templ = KALO_PRISTINE_DB;
    benchmark::Initialize(&argc, argv);

    try {
        fb::Database probe(templ);
        probe.Open();
        const std::string version = DatabaseSchemaVersion(probe);
        probe.Close();
        const std::string file = dir + "/readings-" + version + ".fdb";
        Prepare(file, templ);
        if (upgrade && g_version != kSchemaVersion) {
            const std::string upgraded = dir + "/readings-" + version + "-upgraded.fdb";
            g_db.Close();
            if (!fs::exists(upgraded)) {
                fs::copy_file(file, upgraded + ".part", fs::copy_options::overwrite_existing);
                g_db.SetFile(upgraded + ".part");
                g_db.Open();
                const auto t0 = std::chrono::steady_clock::now();
                UpgradeSchema(g_db, [t0](const TUpgradeStep& s) {
                    std::fprintf(stderr, "  %6.1f s  step %d of %d: %s\n",
                                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                                 s.Done + 1, s.Total, s.What.c_str());
                });
                std::fprintf(stderr, "Upgraded to %s in %.1f s\n", kSchemaVersion,
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
                g_db.Close();
                fs::rename(upgraded + ".part", upgraded);
            }
            Prepare(upgraded, templ);
        }
        std::fprintf(stderr, "Database %s, schema %s\n", g_db.File().c_str(), g_version.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_readings: %s\n", e.what());
        return 1;
    }

    using benchmark::RegisterBenchmark;
    const auto ms = benchmark::kMillisecond;
    for (const bool fresh : {false, true}) {
        const std::string how = fresh ? "/fresh_attachment" : "/warm";
        for (const int limit : {10, 1000})
            RegisterBenchmark(("LatestReadings/" + std::to_string(limit) + how).c_str(), BM_LatestReadings, limit,
                              fresh)->Unit(ms);
        for (const TInterval& i : {kNight, kMonth, kYear})
            for (const bool prepare : {true, false}) {
                if (fresh && !prepare) continue;
                RegisterBenchmark((std::string("Interval/") + i.Name + (prepare ? "/first_prepare" : "/prepared") + how)
                                      .c_str(),
                                  BM_Interval, i, prepare, fresh)
                    ->Unit(ms);
            }
        for (const bool waiting : {true, false})
            for (const int count : {5, 0})
                RegisterBenchmark(("Pending/" + std::string(waiting ? "waiting" : "none_waiting") + "/FIRST_" +
                                   std::to_string(count) + how)
                                      .c_str(),
                                  BM_Pending, waiting, count, fresh)
                    ->Unit(ms);
        if (!Is10())
            RegisterBenchmark(("Counts/ReadReadingCounts" + how).c_str(), BM_Counts, false, 0, fresh)->Unit(ms);
        for (int which = 0; which < 3; ++which)
            RegisterBenchmark(("Counts/statement_" + std::to_string(which + 1) + how).c_str(), BM_Counts, true, which,
                              fresh)
                ->Unit(ms)
                ->Iterations(fresh ? 3 : 5);
    }
    RegisterBenchmark("Window/night/warm", BM_WindowQuery, NightWindow(EncodeDate(2020, 3, 11)))->Unit(ms);
    RegisterBenchmark("Window/month/warm", BM_WindowQuery,
                      TQueryWindow{EncodeDateTime(2020, 3, 1, 12, 0, 0), EncodeDateTime(2020, 4, 1, 12, 0, 0)})
        ->Unit(ms);
    RegisterBenchmark("RealTimeNight/warm", BM_RealTimeNight)->Unit(ms);
    RegisterBenchmark("Store/warm", BM_Store)->Unit(ms);
    RegisterBenchmark("DeleteSite2WithCollection", BM_DeleteSite)->Unit(benchmark::kSecond)->Iterations(1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_db.Close();
    return 0;
}
