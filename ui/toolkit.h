// The window toolkits the installer can run on.
#ifndef QORV_UI_TOOLKIT_H_
#define QORV_UI_TOOLKIT_H_

namespace qorv {

enum class Toolkit { kNone, kGtk2, kGtk3 };

}  // namespace qorv

#endif  // QORV_UI_TOOLKIT_H_
