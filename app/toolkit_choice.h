// Which window toolkit the installer tries, in which order, and at which
// scale. GTK+ 2 on an X display at scale 1; GTK 3 where the desktop draws
// at scale 2 or more, where only Wayland is there, or where GTK+ 2 is
// missing; the terminal when there is no display at all. --toolkit, else
// QORV_TOOLKIT, overrides the choice.
#ifndef QORV_APP_TOOLKIT_CHOICE_H_
#define QORV_APP_TOOLKIT_CHOICE_H_

#include <string>
#include <vector>

#include "ui/toolkit.h"

namespace qorv {

// What the choice depends on, read from the environment and the X server.
struct DesktopFacts {
  std::string requested;      // "gtk2", "gtk3", "text", or "" for the default
  bool displayNamed = false;  // DISPLAY is set and not empty
  // Whether the named X display opened: true, false, or unknown when the X
  // library is missing (the toolkits then find out for themselves).
  enum class X { kOpens, kFails, kUnknown } x = X::kUnknown;
  bool wayland = false;  // WAYLAND_DISPLAY is set and not empty
  int gdkScale = 0;      // GDK_SCALE, 0 when unset or not a whole number
  int xDpi = 0;          // the X resource Xft.dpi, 0 when not set
};

struct ToolkitPlan {
  std::vector<Toolkit> tries;  // in order; empty: the terminal
  // Scale 2 or more that the desktop asks for through its DPI only; GTK 3
  // is then told (GDK_SCALE) before it starts. 0: nothing to tell.
  int scaleToSet = 0;
};

// How the start of the toolkit went, for the application to act on.
struct ToolkitStart {
  std::string requested;  // what --toolkit or QORV_TOOLKIT asked for, or ""
  // A name that is not a toolkit's: the run ends before anything happens.
  std::string problem;
  // Why no window can be shown although a display is there: the failures
  // of every toolkit tried ("libgtk-x11-2.0.so.0: ...; libgtk-3.so.0:
  // ..."). Empty when one has loaded or none was tried.
  std::string missing;
};

// The names --toolkit and QORV_TOOLKIT take.
bool IsToolkitName(const std::string& name);

ToolkitPlan PlanToolkits(const DesktopFacts& facts);

// Reads the environment, and the X server when DISPLAY names one.
DesktopFacts ReadDesktopFacts(const std::string& requested);

}  // namespace qorv

#endif  // QORV_APP_TOOLKIT_CHOICE_H_
