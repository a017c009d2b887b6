// Runs the tests in the user's locale (LC_ALL and friends), so that a run
// under a decimal-comma locale shows that no number text depends on it.
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
