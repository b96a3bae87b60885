// Entry of the tests that run the executable: its path is the one argument
// left after GoogleTest has taken its own.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/cli/child_process.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s [GoogleTest options] PATH-OF-pellamar-cli\n", argv[0]);
    return 2;
  }
  pellamar::testing::SetCliPath(argv[1]);
  return RUN_ALL_TESTS();
}
