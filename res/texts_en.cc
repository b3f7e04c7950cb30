// English texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_en = {
    3,
    "en",
    {{
        {"IDS_WIZARD_BACK", "< Back"},
        {"IDS_WIZARD_NEXT", "Next >"},
        {"IDS_WIZARD_FINISH", "Finish"},
        {"IDS_WIZARD_CANCEL", "Cancel"},
        {"IDS_ACCEPT_CANCEL", "Do you really want to cancel installation?"},
        {"IDS_TITLE_INSTALLER", "Installing configuration"},
        {"IDS_PREPARECOPY", "Preparing to copy..."},
        {"IDS_INSTALL_ERROR", "Installation error"},
        {"IDS_ERROR_NOSOURCE", "Distribution kit file qorv.vkt not found."},
        {"IDS_ERROR_NOTARGET", "Installation of templates to the current directory is not supported."},
        {"IDS_ERROR_NOSPACE", "Insufficient space available in the directory Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Folder:"},
        {"IDS_CHOOSEDIR_TITLE", "Choose Directory"},
        {"IDR_MAINFRAME", "Installing configuration"},
        {"IDS_SETUP_EMPTYTARGET", "Specify correct path to template directory."},
        {"IDS_INSTALL_FINISH", "Copying complete..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Distribution kit file qorv.vkt corrupted or not designed for this installation program."},
        {"IDS_DEFPRODUCT", "<Product>"},
        {"IDS_DEFPROVIDER", "<Vendor>"},
        {"IDS_SUCCESS_FINISH", "Configuration installed successfully."},
        {"IDS_SUCCESS_OPENDESCR", "Open description of distribution package"},
        {"IDS_PROGRESS_START", "Files being copied..."},
        {"IDS_ERROR_FINISH", "An error occurred during the installation process. Installation canceled. Template directory has not been changed."},
        {"IDS_CANCEL_FINISH", "Installation canceled. Template directory has not been changed."},
        {"IDS_BROWSE_SELDIR", "Directory selected:"},
        {"IDS_BROWSE_OK", "Select"},
        {"IDS_BROWSE_CANCEL", "Cancel"},
        {"IDS_WELCOME_TITLE", "Welcome to the product installation program"},
        {"IDS_SETUP_EXISTEDTARGET", "The installation directory contains files that may be changed during the installation process. Do you want to continue?"},
        {"IDS_DESTINATION_PROMPT", "Specify path to template directory. The installation program will install templates and configuration files to the specified directory."},
        {"IDS_TEMPLATE_CATALOG", "Template directory:"},
        {"IDS_ROLLBACK_INCOMPLETE", "The installation was stopped, but these files could not be put back. Their previous versions are kept, and the next start of the installer puts them back:"},
        {"IDS_WAITING_FOR_TARGET", "Another installation into this directory is running. Waiting for it to finish..."},
        {"IDS_TARGET_BUSY", "Another installation into this directory is still running. Template directory has not been changed."},
        {"IDS_NO_TERMINAL", "No display, and no terminal on the input to ask where to install; run it with -S to install without questions (into -D<dir> or the proposed directory)."},
        {"IDS_LOCATION_NOT_RECORDED", "The launcher's list of template locations could not be updated."},
        {"IDS_RECOVERY_INCOMPLETE", "An interrupted installation could not be rolled back completely; its backup stays in"},
        {"IDS_ANSWER_YES_NO", "[y/N]"},
        {"IDS_YES_LETTERS", "yY"},
        {"IDS_ERROR_UNTRUSTED", "Distribution kit file qorv.vkt is not signed by a key this installation program trusts."},
        {"IDS_KIT_UNCHECKED", "Distribution kit file qorv.vkt carries no checksum: damage to it cannot be detected."},
        {"IDS_KIT_SIGNED", "Distribution kit signed by key"},
        {"IDS_NOTHING_TO_DO", "Nothing to do: the templates are already up to date."},
        {"IDS_KEPT_CHANGED", "Kept because it was changed after it was installed:"},
        {"IDS_UNINSTALL_CONFIRM", "Remove the templates installed in this directory?"},
        {"IDS_UNINSTALL_FINISH", "The templates have been removed."},
        {"IDS_NOTHING_INSTALLED", "No installation is recorded for this directory."},
        {"IDS_UNINSTALL_ERROR", "The templates could not be removed. Template directory has not been changed."},
    }},
};
// clang-format on

}  // namespace qorv::res
