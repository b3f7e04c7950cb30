// Loads GTK+ 2 at run time. The installer starts on machines without the
// toolkit (servers, containers, current desktops): there it runs on the
// terminal instead of failing in the program loader. The window code still
// calls the toolkit by its names; each name listed in ui/gtk_functions.inc
// is a small jump through a pointer that LoadToolkit() fills.
//
// Call LoadToolkit() once, on the main thread, before any other thread
// exists and before any toolkit function. Calling a toolkit function when
// it has not succeeded ends the process with a message.
#ifndef QORV_UI_TOOLKIT_LOADER_H_
#define QORV_UI_TOOLKIT_LOADER_H_

#include <string>

namespace qorv {

// Opens the toolkit's libraries and resolves every listed function. Returns
// true when all of them are there; otherwise false with `problem` saying
// what is missing ("libgtk-x11-2.0.so.0: cannot open shared object file:
// ..."), and no toolkit function may be called. Later calls answer as the
// first did.
bool LoadToolkit(std::string* problem = nullptr);

// Whether LoadToolkit() has succeeded.
bool ToolkitLoaded();

}  // namespace qorv

#endif  // QORV_UI_TOOLKIT_LOADER_H_
