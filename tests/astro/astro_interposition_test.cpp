// A host program with functions of its own called jday and DegSin, exported
// to the libraries it loads: the library's results must not change.
#include <dlfcn.h>
#include <gtest/gtest.h>

extern "C" double jday(int, int, int, int, int, double) { return 0.0; }
extern "C" double DegSin(double) { return 0.0; }

TEST(AstroInterposition, LibraryKeepsItsOwnFunctions) {
  void* lib = dlopen(ASTRO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using SunFn = int(int, int, int, int, int, double, double*, double*);
  auto sun = reinterpret_cast<SunFn*>(dlsym(lib, "sun"));
  ASSERT_NE(sun, nullptr);
  double lon = 0, lat = 0;
  ASSERT_EQ(sun(1988, 7, 27, 0, 0, 0.0, &lon, &lat), 0);
  EXPECT_NEAR(lon, 124.174015, 5e-7);
  // The host's own functions still answer the host.
  EXPECT_EQ(jday(2000, 1, 1, 12, 0, 0.0), 0.0);
}
