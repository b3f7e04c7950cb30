// Uninstalling with a display: a question before, the result after, each a
// message box in the chosen language, titled like the wizard. The removal
// is the engine's (copy/copy_session.h): transactional, and interrupted by
// a signal as the wizard is. UI thread; the toolkit is initialised.
#ifndef QORV_UI_UNINSTALL_BOXES_H_
#define QORV_UI_UNINSTALL_BOXES_H_

#include "base/text_string.h"

namespace qorv {

// Opens the display (false, with nothing done, when there is none), then
// asks and uninstalls. `target` empty: the head of the launcher's list.
// `silent`: no question. `interruptedBy` receives the signal that stopped
// the run, 0 when none did.
bool UninstallWithMessageBoxes(int argc, char** argv, const WideString& target, bool silent,
                               const NarrowString& title, int* interruptedBy);

}  // namespace qorv

#endif  // QORV_UI_UNINSTALL_BOXES_H_
