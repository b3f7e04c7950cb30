// The window icon (256 x 256) and the wizard's side picture (158 x 286
// logical pixels, drawn from a source at twice the size on screens at
// scale 2 and more).
#ifndef QORV_UI_PICTURES_H_
#define QORV_UI_PICTURES_H_

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace qorv {

// Pixels, and how many of them make one logical pixel.
struct Picture {
  GdkPixbuf* pixels = nullptr;
  int scale = 1;
};

GdkPixbuf* LoadIconPicture();
// The side picture for a display at `displayScale`.
Picture LoadSidePicture(int displayScale);

}  // namespace qorv

#endif  // QORV_UI_PICTURES_H_
