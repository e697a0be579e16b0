// Cost of the astronomy engine per call. Every call recomputes everything
// (no caching), so the instants only walk forward to keep the inputs honest.
#include <benchmark/benchmark.h>

#include "core/astronomy/moon.h"
#include "core/astronomy/vsop.h"

namespace {

constexpr long double kLonWest = -9, kLat = 45;  // 45 N, 9 E
constexpr double kStart = 44003.5;               // 2020-06-21 12:00 UT

// Steps of about 17 minutes: every call a new instant, all within days.
double Next(double& t) { return t += 0.0117; }

void BM_SunPosition(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(SunPosition(Next(t)));
}
BENCHMARK(BM_SunPosition);

void BM_SunHorizontalPosition(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(SunHorizontalPosition(Next(t), kLonWest, kLat));
}
BENCHMARK(BM_SunHorizontalPosition);

void BM_MoonPosition(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(MoonPosition(Next(t)));
}
BENCHMARK(BM_MoonPosition);

void BM_MoonHorizontalPosition(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(MoonHorizontalPosition(Next(t), kLonWest, kLat));
}
BENCHMARK(BM_MoonHorizontalPosition);

void BM_MoonAge(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(MoonAge(Next(t)));
}
BENCHMARK(BM_MoonAge);

void BM_MoonIllumination(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(MoonIllumination(Next(t)));
}
BENCHMARK(BM_MoonIllumination);

void BM_Nutation(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) benchmark::DoNotOptimize(Nutation(Next(t)));
}
BENCHMARK(BM_Nutation);

void BM_AstronomicalDusk(benchmark::State& state) {
    // Day after day (1), as an import asks: one new midnight's Sun each time,
    // the other two kept from the days before; days far apart (100): three
    // Sun positions and a sidereal time each.
    const int step = static_cast<int>(state.range(0));
    double day = 44003;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AstronomicalDusk(day, kLonWest, kLat));
        day = day < 44003 + 30 * step ? day + step : 44003;
    }
}
BENCHMARK(BM_AstronomicalDusk)->Arg(1)->Arg(100);

void BM_TickNightEdges(benchmark::State& state) {
    // What a station's tick asks of its site's night: the same day's dawn and
    // dusk again and again.
    for (auto _ : state) {
        benchmark::DoNotOptimize(AstronomicalDawn(44003.4, kLonWest, kLat));
        benchmark::DoNotOptimize(AstronomicalDusk(44003.4, kLonWest, kLat));
    }
}
BENCHMARK(BM_TickNightEdges);

// Everything the station computes for one reading: both altitudes, the
// Moon's age and illumination, astronomical dusk and dawn of the UT day.
void BM_OneReading(benchmark::State& state) {
    double t = kStart;
    for (auto _ : state) {
        Next(t);
        benchmark::DoNotOptimize(SunHorizontalPosition(t, kLonWest, kLat).Altitude);
        benchmark::DoNotOptimize(MoonHorizontalPosition(t, kLonWest, kLat).Altitude);
        benchmark::DoNotOptimize(MoonAge(t));
        benchmark::DoNotOptimize(MoonIllumination(t));
        benchmark::DoNotOptimize(AstronomicalDusk(t, kLonWest, kLat));
        benchmark::DoNotOptimize(AstronomicalDawn(t, kLonWest, kLat));
    }
}
BENCHMARK(BM_OneReading)->Unit(benchmark::kMicrosecond);

}  // namespace
