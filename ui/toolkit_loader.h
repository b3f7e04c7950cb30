// Loads the window toolkit at run time: GTK+ 2 (libgtk-x11-2.0.so.0) or
// GTK 3 (libgtk-3.so.0). The installer starts on machines without either
// (servers, containers): there it runs on the terminal instead of failing in
// the program loader. The window code is compiled against GTK+ 2's headers
// and calls the toolkit by its names; each name listed in
// ui/gtk_functions.inc is a small jump through a pointer that LoadToolkit()
// fills. GTK 3 keeps those functions with the same arguments and results;
// the few places where the two differ go through ToolkitShim below, chosen
// once at load time.
//
// Call LoadToolkit() on the main thread, before any other thread exists and
// before any toolkit function. One toolkit per process: the two cannot live
// side by side. Calling a toolkit function when none is loaded ends the
// process with a message.
#ifndef QORV_UI_TOOLKIT_LOADER_H_
#define QORV_UI_TOOLKIT_LOADER_H_

#include <gtk/gtk.h>

#include <string>

#include "ui/toolkit.h"

namespace qorv {

// "GTK+ 2", "GTK 3".
const char* ToolkitTitle(Toolkit toolkit);

// Opens `toolkit`'s libraries and resolves every listed function. Returns
// true when all of them are there; otherwise false with `problem` saying
// what is missing ("libgtk-3.so.0: cannot open shared object file: ..."),
// and nothing of that toolkit may be called; another may then be tried.
// Once one toolkit has loaded, asking for the other fails.
bool LoadToolkit(Toolkit toolkit, std::string* problem = nullptr);

// The toolkit that has loaded, kNone before.
Toolkit LoadedToolkit();
bool ToolkitLoaded();

// What the window code asks differently of the two toolkits.
struct ToolkitShim {
  // The height `widget` (a wrapping label) needs at `width` pixels.
  int (*heightForWidth)(GtkWidget* widget, int width);
  // The scale the display draws `widget`'s window at (1 on GTK+ 2).
  int (*scaleOf)(GtkWidget* widget);
  // An image widget showing `picture`, which has `scale` pixels per
  // logical pixel: GTK 3 draws it crisp at its logical size; GTK+ 2 (and
  // scale 1) shows the pixels as they are.
  GtkWidget* (*newScaledImage)(GdkPixbuf* picture, int scale);
};

// The shim of the loaded toolkit (GTK+ 2's before any has loaded).
const ToolkitShim& Shim();

}  // namespace qorv

#endif  // QORV_UI_TOOLKIT_LOADER_H_
