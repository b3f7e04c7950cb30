// Entry of every test binary: the texts of the installer are UTF-8, so the
// tests run under the C library's UTF-8 locale, chosen once as the installer
// chooses its own locale once at start-up.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
    std::fprintf(stderr, "the C.UTF-8 locale is missing\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
