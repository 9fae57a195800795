// The checks every test program shares: a failed check prints the fault it stands for, and the
// program's exit code tells CTest.
#pragma once
#include <cstdio>

inline int checkFailures = 0;

// CHECK(condition, "printf-style description of the fault", ...)
#define CHECK(condition, ...)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::printf("FAILED %s:%d: ", __FILE__, __LINE__);                           \
      std::printf(__VA_ARGS__);                                                    \
      std::printf("\n");                                                           \
      std::fflush(stdout);                                                         \
      ++checkFailures;                                                             \
    }                                                                              \
  } while (0)
