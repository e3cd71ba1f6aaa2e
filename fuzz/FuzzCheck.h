// Shared by the fuzz targets: a property that must hold for every input.
// A failed check prints what failed and aborts, which libFuzzer and the
// replay program both report as a crash of that input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define NV_FUZZ_CHECK(cond)                                                              \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
