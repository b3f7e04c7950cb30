// Entry of the in-process UI tests: a real X server (testing/with_xvfb.sh),
// the real GTK widgets, toolkit warnings made fatal by gtk_test_init. The
// toolkit is GTK+ 2, or GTK 3 with QORV_TOOLKIT=gtk3.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/toolkit_loader.h"

int main(int argc, char** argv) {
  std::string missing;
  const char* asked = std::getenv("QORV_TOOLKIT");
  const bool gtk3 = asked != nullptr && std::string(asked) == "gtk3";
  if (!qorv::LoadToolkit(gtk3 ? qorv::Toolkit::kGtk3 : qorv::Toolkit::kGtk2, &missing)) {
    std::fprintf(stderr, "ui_test: %s\n", missing.c_str());
    return 1;
  }
  // The tests give the installer a fresh HOME each, removed afterwards; the
  // toolkit's own files (recently used, bookmarks) stay in the HOME the run
  // started with. GLib reads these once and keeps them.
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr ? home : "/tmp";
  for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    std::string dir = base + "/.xdg/" + variable;
    std::filesystem::create_directories(dir);
    ::setenv(variable, dir.c_str(), 1);
  }
  g_get_user_data_dir();
  g_get_user_config_dir();
  g_get_user_cache_dir();
  ::testing::InitGoogleTest(&argc, argv);
  gtk_test_init(&argc, &argv, nullptr);
  g_get_home_dir();
  std::setlocale(LC_ALL, "C.UTF-8");
  return RUN_ALL_TESTS();
}
