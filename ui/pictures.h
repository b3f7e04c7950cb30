// The window icon (256 x 256) and the wizard's side picture (158 x 286).
#ifndef QORV_UI_PICTURES_H_
#define QORV_UI_PICTURES_H_

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace qorv {

GdkPixbuf* LoadIconPicture();
GdkPixbuf* LoadSidePicture();

}  // namespace qorv

#endif  // QORV_UI_PICTURES_H_
