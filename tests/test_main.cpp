// Runs the tests in the user's locale (LC_ALL and friends), so that a run
// under a decimal-comma locale shows that no number text depends on it.
// With VARNIX_TEST_NAMED_TEMPORARIES set, saves use named temporary files,
// as on file systems without unnamed ones.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "workspace/file_io.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (std::getenv("VARNIX_TEST_NAMED_TEMPORARIES")) varnix::useNamedTemporaryFiles(true);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
