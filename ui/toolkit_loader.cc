#include "ui/toolkit_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Function = void (*)();

// What a toolkit function does before the toolkit is loaded: a call there
// is a fault of this program, never something to limp past.
[[noreturn]] void NotLoaded() {
  std::fputs("qorv-setup: a toolkit function was called before the library was loaded\n", stderr);
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
constexpr size_t kSlotCount = sizeof kSlots / sizeof kSlots[0];

struct Library {
  Toolkit toolkit;
  // The toolkit itself (it brings GDK, GObject and GLib along), then GLib's
  // thread library, which the toolkit does not load by itself.
  const char* files[2];
};

constexpr Library kLibraries[] = {
    {Toolkit::kGtk2, {"libgtk-x11-2.0.so.0", "libgthread-2.0.so.0"}},
    {Toolkit::kGtk3, {"libgtk-3.so.0", "libgthread-2.0.so.0"}},
};

// Names GTK 3 gave to functions the window code calls by GTK+ 2's name,
// with the same arguments and result.
constexpr const char* kGtk3Names[][2] = {
    {"gdk_window_object_get_type", "gdk_window_get_type"},
};

const char* NameIn(Toolkit toolkit, const char* name) {
  if (toolkit != Toolkit::kGtk3) return name;
  for (const auto& renamed : kGtk3Names) {
    if (std::strcmp(renamed[0], name) == 0) return renamed[1];
  }
  return name;
}

// GTK 3's own functions behind its shim; GTK+ 2 has none of them.
struct Gtk3Functions {
  void (*heightForWidth)(GtkWidget*, gint, gint*, gint*);
  gint (*scaleFactor)(GtkWidget*);
  cairo_surface_t* (*surfaceFromPixbuf)(const GdkPixbuf*, int, GdkWindow*);
  GtkWidget* (*imageFromSurface)(cairo_surface_t*);
  void (*destroySurface)(cairo_surface_t*);
};
Gtk3Functions gtk3;

int Gtk2HeightForWidth(GtkWidget* widget, int width) {
  // A wrapping label asks for the height its text takes at the width it
  // was given.
  gint oldWidth = -1;
  gint oldHeight = -1;
  gtk_widget_get_size_request(widget, &oldWidth, &oldHeight);
  gtk_widget_set_size_request(widget, width, -1);
  GtkRequisition needed{};
  gtk_widget_size_request(widget, &needed);
  gtk_widget_set_size_request(widget, oldWidth, oldHeight);
  return needed.height;
}

int Gtk2ScaleOf(GtkWidget*) { return 1; }

GtkWidget* Gtk2ScaledImage(GdkPixbuf* picture, int) { return gtk_image_new_from_pixbuf(picture); }

int Gtk3HeightForWidth(GtkWidget* widget, int width) {
  gint minimum = 0;
  gint natural = 0;
  gtk3.heightForWidth(widget, width, &minimum, &natural);
  return natural > minimum ? natural : minimum;
}

int Gtk3ScaleOf(GtkWidget* widget) { return gtk3.scaleFactor(widget); }

GtkWidget* Gtk3ScaledImage(GdkPixbuf* picture, int scale) {
  if (scale <= 1) return gtk_image_new_from_pixbuf(picture);
  cairo_surface_t* surface = gtk3.surfaceFromPixbuf(picture, scale, nullptr);
  GtkWidget* image = gtk3.imageFromSurface(surface);  // holds its own reference
  gtk3.destroySurface(surface);
  return image;
}

constexpr ToolkitShim kGtk2Shim{&Gtk2HeightForWidth, &Gtk2ScaleOf, &Gtk2ScaledImage};
constexpr ToolkitShim kGtk3Shim{&Gtk3HeightForWidth, &Gtk3ScaleOf, &Gtk3ScaledImage};

Toolkit loaded = Toolkit::kNone;

template <typename Pointer>
bool Find(void* handle, const char* name, Pointer* pointer, std::string* problem) {
  *pointer = reinterpret_cast<Pointer>(dlsym(handle, name));
  if (*pointer == nullptr) *problem = std::string("libgtk-3.so.0: no function ") + name;
  return *pointer != nullptr;
}

bool Load(const Library& library, std::string* problem) {
  void* handles[2] = {};
  size_t count = 0;
  for (const char* file : library.files) {
    // Global: the toolkit's own modules (themes, input methods, image
    // loaders) are built to find it that way.
    void* handle = dlopen(file, RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      *problem = reason != nullptr ? reason : file;
      return false;
    }
    handles[count++] = handle;
  }
  // Every function first, then the slots: a library too old to have one of
  // them leaves all slots as they were.
  Function found[kSlotCount] = {};
  for (size_t i = 0; i < kSlotCount; ++i) {
    const char* name = NameIn(library.toolkit, kSlots[i].name);
    for (size_t h = 0; h < count && found[i] == nullptr; ++h) {
      found[i] = reinterpret_cast<Function>(dlsym(handles[h], name));
    }
    if (found[i] == nullptr) {
      *problem = std::string(library.files[0]) + ": no function " + name;
      return false;
    }
  }
  if (library.toolkit == Toolkit::kGtk3) {
    Gtk3Functions own{};
    void* gtk = handles[0];
    if (!Find(gtk, "gtk_widget_get_preferred_height_for_width", &own.heightForWidth, problem) ||
        !Find(gtk, "gtk_widget_get_scale_factor", &own.scaleFactor, problem) ||
        !Find(gtk, "gdk_cairo_surface_create_from_pixbuf", &own.surfaceFromPixbuf, problem) ||
        !Find(gtk, "gtk_image_new_from_surface", &own.imageFromSurface, problem) ||
        !Find(gtk, "cairo_surface_destroy", &own.destroySurface, problem)) {
      return false;
    }
    gtk3 = own;
  }
  for (size_t i = 0; i < kSlotCount; ++i) *kSlots[i].target = found[i];
  return true;
}

}  // namespace

const char* ToolkitTitle(Toolkit toolkit) {
  switch (toolkit) {
    case Toolkit::kGtk2:
      return "GTK+ 2";
    case Toolkit::kGtk3:
      return "GTK 3";
    default:
      return "no toolkit";
  }
}

bool LoadToolkit(Toolkit toolkit, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  if (loaded != Toolkit::kNone) {
    if (loaded == toolkit) return true;
    *problem = std::string(ToolkitTitle(loaded)) + " is already loaded";
    return false;
  }
  for (const Library& library : kLibraries) {
    if (library.toolkit != toolkit) continue;
    if (!Load(library, problem)) return false;
    loaded = toolkit;
    return true;
  }
  *problem = "no such toolkit";
  return false;
}

Toolkit LoadedToolkit() { return loaded; }

bool ToolkitLoaded() { return loaded != Toolkit::kNone; }

const ToolkitShim& Shim() { return loaded == Toolkit::kGtk3 ? kGtk3Shim : kGtk2Shim; }

}  // namespace qorv
