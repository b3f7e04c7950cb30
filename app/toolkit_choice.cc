#include "app/toolkit_choice.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace qorv {

namespace {

// The X library is opened only to ask the server; the toolkits bring their
// own copy of it later (the same file).
struct XLibrary {
  using OpenDisplay = void* (*)(const char*);
  using ResourceString = char* (*)(void*);
  using CloseDisplay = int (*)(void*);
  void* handle = nullptr;
  OpenDisplay open = nullptr;
  ResourceString resources = nullptr;
  CloseDisplay close = nullptr;

  bool Load() {
    handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    open = reinterpret_cast<OpenDisplay>(dlsym(handle, "XOpenDisplay"));
    resources = reinterpret_cast<ResourceString>(dlsym(handle, "XResourceManagerString"));
    close = reinterpret_cast<CloseDisplay>(dlsym(handle, "XCloseDisplay"));
    return open != nullptr && resources != nullptr && close != nullptr;
  }
};

// "Xft.dpi:\t192" among the server's resources; 0 when absent.
int DpiIn(const char* resources) {
  if (resources == nullptr) return 0;
  const char* line = resources;
  while (*line != '\0') {
    if (std::strncmp(line, "Xft.dpi:", 8) == 0) {
      const char* value = line + 8;
      while (*value == ' ' || *value == '\t') ++value;
      return std::atoi(value);
    }
    const char* next = std::strchr(line, '\n');
    if (next == nullptr) break;
    line = next + 1;
  }
  return 0;
}

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool IsToolkitName(const std::string& name) {
  return name == "gtk2" || name == "gtk3" || name == "text";
}

ToolkitPlan PlanToolkits(const DesktopFacts& facts) {
  ToolkitPlan plan;
  if (facts.requested == "gtk2") {
    plan.tries = {Toolkit::kGtk2};
  } else if (facts.requested == "gtk3") {
    plan.tries = {Toolkit::kGtk3};
  } else if (facts.requested == "text") {
    return plan;
  }
  // 144 dpi and more is drawn at scale 2 (rounded to the nearest whole
  // scale); GDK_SCALE, when set, is the desktop's word.
  int scale = facts.gdkScale > 0 ? facts.gdkScale : (facts.xDpi + 48) / 96;
  if (facts.gdkScale == 0 && scale >= 2) plan.scaleToSet = scale;
  if (!plan.tries.empty()) return plan;
  const bool x = facts.displayNamed && facts.x != DesktopFacts::X::kFails;
  if (x && scale >= 2) {
    plan.tries = {Toolkit::kGtk3, Toolkit::kGtk2};
  } else if (x) {
    plan.tries = {Toolkit::kGtk2, Toolkit::kGtk3};
  } else if (facts.wayland) {
    plan.tries = {Toolkit::kGtk3};
  }
  return plan;
}

DesktopFacts ReadDesktopFacts(const std::string& requested) {
  DesktopFacts facts;
  facts.requested = requested;
  facts.displayNamed = Set("DISPLAY");
  facts.wayland = Set("WAYLAND_DISPLAY");
  if (const char* scale = std::getenv("GDK_SCALE"); scale != nullptr) {
    char* end = nullptr;
    long value = std::strtol(scale, &end, 10);
    if (end != scale && *end == '\0' && value > 0 && value < 16) {
      facts.gdkScale = static_cast<int>(value);
    }
  }
  if (!facts.displayNamed || requested == "text") return facts;
  XLibrary xlib;
  if (!xlib.Load()) return facts;  // unknown: the toolkits will tell
  void* display = xlib.open(nullptr);
  if (display == nullptr) {
    facts.x = DesktopFacts::X::kFails;
  } else {
    facts.x = DesktopFacts::X::kOpens;
    facts.xDpi = DpiIn(xlib.resources(display));
    xlib.close(display);
  }
  // The library stays: unloading X's library is not safe once it has
  // talked to a server.
  return facts;
}

}  // namespace qorv
