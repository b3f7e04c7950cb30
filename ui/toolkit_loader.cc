#include "ui/toolkit_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

using Function = void (*)();

// What a toolkit function does before the toolkit is loaded: a call there
// is a fault of this program, never something to limp past.
[[noreturn]] void NotLoaded() {
  std::fputs("qorv-setup: a GTK+ 2 function was called before the library was loaded\n", stderr);
  std::abort();
}

}  // namespace

// The jump targets of ui/gtk_trampolines.S, one per listed function.
extern "C" {
#define QORV_GTK_FUNCTION(name) \
  __attribute__((visibility("hidden"))) Function qorv_gtk_##name = &NotLoaded;
#include "ui/gtk_functions.inc"
#undef QORV_GTK_FUNCTION
}

namespace qorv {

namespace {

struct Slot {
  const char* name;
  Function* target;
};

constexpr Slot kSlots[] = {
#define QORV_GTK_FUNCTION(name) {#name, &qorv_gtk_##name},
#include "ui/gtk_functions.inc"
#undef QORV_GTK_FUNCTION
};

// The toolkit itself (it brings GDK, GObject and GLib along), then GLib's
// thread library, which the toolkit does not load by itself.
constexpr const char* kLibraries[] = {"libgtk-x11-2.0.so.0", "libgthread-2.0.so.0"};

struct LoadResult {
  bool loaded = false;
  std::string problem;
};

LoadResult Load() {
  LoadResult result;
  void* handles[sizeof kLibraries / sizeof kLibraries[0]] = {};
  size_t count = 0;
  for (const char* library : kLibraries) {
    // Global: the toolkit's own modules (themes, input methods, image
    // loaders) are built to find it that way.
    void* handle = dlopen(library, RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      result.problem = reason != nullptr ? reason : library;
      return result;
    }
    handles[count++] = handle;
  }
  // Every function first, then the slots: a library too old to have one of
  // them leaves all slots as they were.
  Function found[sizeof kSlots / sizeof kSlots[0]] = {};
  for (size_t i = 0; i < sizeof kSlots / sizeof kSlots[0]; ++i) {
    for (size_t h = 0; h < count && found[i] == nullptr; ++h) {
      found[i] = reinterpret_cast<Function>(dlsym(handles[h], kSlots[i].name));
    }
    if (found[i] == nullptr) {
      result.problem = std::string(kLibraries[0]) + ": no function " + kSlots[i].name;
      return result;
    }
  }
  for (size_t i = 0; i < sizeof kSlots / sizeof kSlots[0]; ++i) *kSlots[i].target = found[i];
  result.loaded = true;
  return result;
}

const LoadResult& Loaded() {
  static const LoadResult result = Load();
  return result;
}

}  // namespace

bool LoadToolkit(std::string* problem) {
  const LoadResult& result = Loaded();
  if (problem != nullptr) *problem = result.problem;
  return result.loaded;
}

bool ToolkitLoaded() { return LoadToolkit(); }

}  // namespace qorv
