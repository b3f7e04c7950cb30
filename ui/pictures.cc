// The pictures, compiled in from res/ (drawn by res/art/draw_pictures.py).
#include "ui/pictures.h"

namespace qorv {

namespace {
#include "res/icon.xpm"
#include "res/side_picture.xpm"
#include "res/side_picture_2x.xpm"
}  // namespace

GdkPixbuf* LoadIconPicture() { return gdk_pixbuf_new_from_xpm_data(icon); }

Picture LoadSidePicture(int displayScale) {
  if (displayScale >= 2) return {gdk_pixbuf_new_from_xpm_data(side_picture_2x), 2};
  return {gdk_pixbuf_new_from_xpm_data(side_picture), 1};
}

}  // namespace qorv
