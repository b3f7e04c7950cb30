// The two pictures, compiled in from res/ (drawn by res/art/draw_pictures.py).
#include "ui/pictures.h"

namespace qorv {

namespace {
#include "res/icon.xpm"
#include "res/side_picture.xpm"
}  // namespace

GdkPixbuf* LoadIconPicture() { return gdk_pixbuf_new_from_xpm_data(icon); }
GdkPixbuf* LoadSidePicture() { return gdk_pixbuf_new_from_xpm_data(side_picture); }

}  // namespace qorv
