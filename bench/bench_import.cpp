// The import of community standard skyglow data files: a night, a month and
// a year of one-minute readings of a site with the twilight method (the
// window of each UT day is computed), each into a fresh copy of the
// delivered database, from reading the file to the commit. Every line gets
// the full astronomy of a meter reading. The files are written once to a
// temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "core/site/communityfile.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/site/siterow.h"

namespace {

namespace fs = std::filesystem;

fs::path Folder() {
    static const fs::path dir = [] {
        const fs::path p = fs::temp_directory_path() / ("kalo-bench-import-" + std::to_string(::getpid()));
        fs::create_directories(p);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("kalo-bench-import-" + std::to_string(::getpid())), ec);
        });
        return p;
    }();
    return dir;
}

std::string Iso(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    char b[40];
    std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute, p.second,
                  p.msec);
    return b;
}

// A file of one-minute readings from 2023-01-01 12:00 UTC, as a station writes them.
const std::string& File(int minutes) {
    static std::map<int, std::string> made;
    auto it = made.find(minutes);
    if (it != made.end()) return it->second;
    const std::string path = (Folder() / ("minutes-" + std::to_string(minutes) + ".dat")).string();
    std::ofstream out(path, std::ios::binary);
    out << "# Community Standard Skyglow Data Format 1.0\r\n# Number of header lines: 35\r\n";
    for (int i = 3; i <= 32; ++i) out << "# Comment: line " << i << "\r\n";
    out << "# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS\r\n"
           "# YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2\r\n"
           "# END OF HEADER\r\n";
    const double start = EncodeDateTime(2023, 1, 1, 12, 0, 0, 125);
    char line[160];
    for (int i = 0; i < minutes; ++i) {
        const double t = start + i / 1440.0;
        std::snprintf(line, sizeof line, "%s;%s;%.1f;%d;%d;%.2f\r\n", Iso(t).c_str(), Iso(t + 1.0 / 24).c_str(),
                      5.0 + (i % 200) / 20.0, 100 + i % 50, 1000 + i % 700, 18.0 + (i % 400) / 100.0);
        out << line;
    }
    return made.emplace(minutes, path).first->second;
}

void BM_ImportFile(benchmark::State& state) {
    const int minutes = static_cast<int>(state.range(0));
    const std::string& path = File(minutes);
    const fs::path db = Folder() / "KALOSQMDATA.FDB";
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(KALO_PRISTINE_DB, db, fs::copy_options::overwrite_existing);
        fb::Database d(db.string());
        d.Open();
        d.ExecuteImmediate(
            "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_ACQUIREMODE) "
            "VALUES (1, 'Asiago', 45.8664, 11.5264, 3)");
        const TSiteRow site = ReadSiteRow(d, 1);
        state.ResumeTiming();
        const TCommunityImport r = ImportCommunityFile(d, site, path);
        state.PauseTiming();
        if (r.Inserted != static_cast<size_t>(minutes)) state.SkipWithError("not every line was imported");
        d.Close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * minutes);
    state.counters["lines"] = minutes;
}
BENCHMARK(BM_ImportFile)->ArgName("minutes")->Arg(1440)->Arg(43200)->Unit(benchmark::kMillisecond)->UseRealTime();
// A year once: under two minutes is the aim.
BENCHMARK(BM_ImportFile)->ArgName("minutes")->Arg(525600)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The parser alone, for a month.
void BM_ParseFile(benchmark::State& state) {
    const std::string& path = File(43200);
    for (auto _ : state) benchmark::DoNotOptimize(ReadCommunityFile(path).Rows.size());
    state.SetItemsProcessed(state.iterations() * 43200);
}
BENCHMARK(BM_ParseFile)->Unit(benchmark::kMillisecond);

}  // namespace
