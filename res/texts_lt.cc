// Lithuanian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_lt = {
    5,
    "lt",
    {{
        {"IDS_WIZARD_BACK", "< Atgal"},
        {"IDS_WIZARD_NEXT", "Toliau >"},
        {"IDS_WIZARD_FINISH", "Atlikta"},
        {"IDS_WIZARD_CANCEL", "Atsisakyti"},
        {"IDS_ACCEPT_CANCEL", "Ar tikrai norite atsisakyti diegimo?"},
        {"IDS_TITLE_INSTALLER", "Konfigūracijos diegimas"},
        {"IDS_PREPARECOPY", "Pasiruošimas kopijuoti..."},
        {"IDS_INSTALL_ERROR", "Diegimo klaida"},
        {"IDS_ERROR_NOSOURCE", "Nerastas diegimo komplekto failas qorv.vkt."},
        {"IDS_ERROR_NOTARGET", "Diegimas į esamą šablonų katalogą nevykdomas."},
        {"IDS_ERROR_NOSPACE", "Nepakanka vietos Temp kataloge."},
        {"IDS_CHOOSEDIR_FOLDER", "&Katalogas:"},
        {"IDS_CHOOSEDIR_TITLE", "Katalogo pasirinkimas"},
        {"IDR_MAINFRAME", "Konfigūracijos diegimas"},
        {"IDS_SETUP_EMPTYTARGET", "Nurodykite teisingą šablonų katalogo kelią."},
        {"IDS_INSTALL_FINISH", "Kopijavimo pabaiga..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Diegimo komplekto failas qorv.vkt sugadintas arba netinka šiai diegimo programai."},
        {"IDS_DEFPRODUCT", "<Produktas>"},
        {"IDS_DEFPROVIDER", "<Tiekėjas>"},
        {"IDS_SUCCESS_FINISH", "Konfigūracija sėkmingai įdiegta."},
        {"IDS_SUCCESS_OPENDESCR", "Atidaryti diegimo komplekto aprašymą"},
        {"IDS_PROGRESS_START", "Kopijuojami failai..."},
        {"IDS_ERROR_FINISH", "Diegimo procese įvyko klaida. Diegimas nutrauktas. Šablonų katalogas nepakeistas."},
        {"IDS_CANCEL_FINISH", "Diegimo atšauktas. Šablonų katalogas nepakeistas."},
        {"IDS_BROWSE_SELDIR", "Pasirinktas katalogas:"},
        {"IDS_BROWSE_OK", "Pasirinkti"},
        {"IDS_BROWSE_CANCEL", "Atsisakyti"},
        {"IDS_WELCOME_TITLE", "Sveiki atvykę į diegimo programą"},
        {"IDS_SETUP_EXISTEDTARGET", "Diegimo kataloge yra failų, kurie diegimo metu gali būti pakeisti. Tęsti diegimą?"},
        {"IDS_DESTINATION_PROMPT", "Nurodykite šablonų katalogo kelią. Diegimo programa įkels konfigūracijos šablonus ir failus į nurodytą katalogą."},
        {"IDS_TEMPLATE_CATALOG", "Šablonų katalogas:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Diegimas sustabdytas, bet šių failų nepavyko grąžinti. Ankstesnės jų versijos išsaugotos, ir kitas diegimo programos paleidimas jas grąžins:"},
        {"IDS_WAITING_FOR_TARGET", "Į šį katalogą jau vyksta kitas diegimas. Laukiama, kol jis baigsis..."},
        {"IDS_TARGET_BUSY", "Į šį katalogą vis dar vyksta kitas diegimas. Šablonų katalogas nepakeistas."},
        {"IDS_NO_TERMINAL", "Nėra ekrano ir nėra terminalo įvestyje, kad būtų galima paklausti, kur diegti; paleiskite su -S, kad įdiegtumėte be klausimų (į -D<dir> arba siūlomą katalogą)."},
        {"IDS_LOCATION_NOT_RECORDED", "Nepavyko atnaujinti paleidyklės šablonų vietų sąrašo."},
        {"IDS_RECOVERY_INCOMPLETE", "Nutraukto diegimo nepavyko visiškai atšaukti; jo atsarginė kopija lieka"},
        {"IDS_ANSWER_YES_NO", "[t/N]"},
        {"IDS_YES_LETTERS", "yYtT"},
        {"IDS_ERROR_UNTRUSTED", "Platinimo rinkinio failas qorv.vkt nepasirašytas raktu, kuriuo pasitiki ši diegimo programa."},
        {"IDS_KIT_UNCHECKED", "Platinimo rinkinio faile qorv.vkt nėra kontrolinės sumos: jo pažeidimų negalima aptikti."},
        {"IDS_KIT_SIGNED", "Platinimo rinkinys pasirašytas raktu"},
        {"IDS_NOTHING_TO_DO", "Nėra ką daryti: šablonai jau atnaujinti."},
        {"IDS_KEPT_CHANGED", "Palikta, nes pakeista po įdiegimo:"},
        {"IDS_UNINSTALL_CONFIRM", "Pašalinti šiame kataloge įdiegtus šablonus?"},
        {"IDS_UNINSTALL_FINISH", "Šablonai pašalinti."},
        {"IDS_NOTHING_INSTALLED", "Šiam katalogui neužregistruotas joks įdiegimas."},
        {"IDS_UNINSTALL_ERROR", "Šablonų pašalinti nepavyko. Šablonų katalogas nepakeistas."},
    }},
};
// clang-format on

}  // namespace qorv::res
