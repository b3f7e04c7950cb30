// Romanian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_ro = {
    8,
    "ro",
    {{
        {"IDS_WIZARD_BACK", "< Înapoi"},
        {"IDS_WIZARD_NEXT", "Înainte >"},
        {"IDS_WIZARD_FINISH", "Finalizare"},
        {"IDS_WIZARD_CANCEL", "Revocare"},
        {"IDS_ACCEPT_CANCEL", "Doriţi să anulaţi instalarea?"},
        {"IDS_TITLE_INSTALLER", "Instalarea configuraţiei"},
        {"IDS_PREPARECOPY", "Pregătire pentru copiere..."},
        {"IDS_INSTALL_ERROR", "Eroare la instalare"},
        {"IDS_ERROR_NOSOURCE", "Fişierul kit-ului de instalare qorv.vkt nu a fost găsit."},
        {"IDS_ERROR_NOTARGET", "Instalarea în catalogul de şabloane curent nu este posibilă."},
        {"IDS_ERROR_NOSPACE", "Spațiu insuficient în folderul Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Mapă:"},
        {"IDS_CHOOSEDIR_TITLE", "Selectarea catalogului"},
        {"IDR_MAINFRAME", "Instalarea configuraţiei"},
        {"IDS_SETUP_EMPTYTARGET", "Indicaţi calea către catalogul de şabloane."},
        {"IDS_INSTALL_FINISH", "Finalizarea copierii..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Fişierul kit-ului de instalare qorv.vkt este defect sau nu este destinat acestui program de instalare."},
        {"IDS_DEFPRODUCT", "<Produs>"},
        {"IDS_DEFPROVIDER", "<Furnizor>"},
        {"IDS_SUCCESS_FINISH", "Configuraţia a fost instalată cu succes."},
        {"IDS_SUCCESS_OPENDESCR", "Deschiderea descrierii distribuţiei"},
        {"IDS_PROGRESS_START", "Se execută copierea fişierelor..."},
        {"IDS_ERROR_FINISH", "Eroare în timpul procesului de instalare. Instalarea a fost întreruptă. Catalogul de şabloane nu a fost modificat."},
        {"IDS_CANCEL_FINISH", "Procesul de instalare a fost anulat. Catalogul de şabloane nu a fost modificat."},
        {"IDS_BROWSE_SELDIR", "Catalogul selectat:"},
        {"IDS_BROWSE_OK", "Selectare"},
        {"IDS_BROWSE_CANCEL", "Revocare"},
        {"IDS_WELCOME_TITLE", "Bine aţi venit în programul de instalare a produsului"},
        {"IDS_SETUP_EXISTEDTARGET", "Catalogul de instalare poate conţine fişiere, care pot fi modificate în procesul instalării. Doriţi să continuaţi instalarea?"},
        {"IDS_DESTINATION_PROMPT", "Indicaţi calea către catalogul de şabloane. Programul va instala şabloanele şi fişierele configuraţiei în catalogul indicat."},
        {"IDS_TEMPLATE_CATALOG", "Catalogul şabloanelor:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Instalarea a fost oprită, dar aceste fișiere nu au putut fi puse la loc. Versiunile lor anterioare sunt păstrate, iar următoarea pornire a programului de instalare le va pune la loc:"},
        {"IDS_WAITING_FOR_TARGET", "O altă instalare în acest catalog este în curs. Se așteaptă terminarea ei..."},
        {"IDS_TARGET_BUSY", "O altă instalare în acest catalog este încă în curs. Catalogul de şabloane nu a fost modificat."},
        {"IDS_NO_TERMINAL", "Nu există afișaj și nici terminal la intrare pentru a întreba unde să se instaleze; rulați cu -S pentru a instala fără întrebări (în -D<dir> sau în directorul propus)."},
        {"IDS_LOCATION_NOT_RECORDED", "Lista locațiilor de șabloane a lansatorului nu a putut fi actualizată."},
        {"IDS_RECOVERY_INCOMPLETE", "O instalare întreruptă nu a putut fi anulată complet; copia ei de rezervă rămâne în"},
        {"IDS_ANSWER_YES_NO", "[d/N]"},
        {"IDS_YES_LETTERS", "yYdD"},
        {"IDS_ERROR_UNTRUSTED", "Fișierul kitului de distribuție qorv.vkt nu este semnat cu o cheie în care acest program de instalare are încredere."},
        {"IDS_KIT_UNCHECKED", "Fișierul kitului de distribuție qorv.vkt nu conține o sumă de control: deteriorarea lui nu poate fi detectată."},
        {"IDS_KIT_SIGNED", "Kit de distribuție semnat cu cheia"},
        {"IDS_NOTHING_TO_DO", "Nimic de făcut: șabloanele sunt deja la zi."},
        {"IDS_KEPT_CHANGED", "Păstrat, deoarece a fost modificat după instalare:"},
        {"IDS_UNINSTALL_CONFIRM", "Eliminați șabloanele instalate în acest director?"},
        {"IDS_UNINSTALL_FINISH", "Șabloanele au fost eliminate."},
        {"IDS_NOTHING_INSTALLED", "Nu există nicio instalare înregistrată pentru acest director."},
        {"IDS_UNINSTALL_ERROR", "Șabloanele nu au putut fi eliminate. Directorul de șabloane nu a fost modificat."},
    }},
};
// clang-format on

}  // namespace qorv::res
