// Entry of every test binary: the texts of the installer are UTF-8, so the
// tests run under the C library's UTF-8 locale, chosen once as the installer
// chooses its own locale once at start-up.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
    std::fprintf(stderr, "the C.UTF-8 locale is missing\n");
    return 1;
  }
  // The installer keeps its manifests under XDG_STATE_HOME: the tests keep
  // theirs in a directory of their own, never in the user's.
  std::string state = std::filesystem::temp_directory_path() / "qorv-test-state-XXXXXX";
  if (::mkdtemp(state.data()) == nullptr || ::setenv("XDG_STATE_HOME", state.c_str(), 1) != 0) {
    std::perror("qorv-test-state");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(state, ignored);
  return status;
}
