// Latvian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_lv = {
    4,
    "lv",
    {{
        {"IDS_WIZARD_BACK", "< Atpakaļ"},
        {"IDS_WIZARD_NEXT", "Tālāk >"},
        {"IDS_WIZARD_FINISH", "Gatavs"},
        {"IDS_WIZARD_CANCEL", "Atcelt"},
        {"IDS_ACCEPT_CANCEL", "Jūs tiešām vēlaties atcelt instalāciju?"},
        {"IDS_TITLE_INSTALLER", "Konfigurācijas uzstādīšana"},
        {"IDS_PREPARECOPY", "Gatvošanās kopēšanai..."},
        {"IDS_INSTALL_ERROR", "Kļūda instalējot"},
        {"IDS_ERROR_NOSOURCE", "Nav atrasts instalēšanas komplekta fails qorv.vkt."},
        {"IDS_ERROR_NOTARGET", "Šablonu uzstādīšana pašreizējā katalogā netiek atbalstīta."},
        {"IDS_ERROR_NOSPACE", "Nepietiek vietas katalogā Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Mape:"},
        {"IDS_CHOOSEDIR_TITLE", "Kataloga izvēlne"},
        {"IDR_MAINFRAME", "Konfigurācijas uzstādīšana"},
        {"IDS_SETUP_EMPTYTARGET", "Norādiet korektu ceļu uz šablonu katalogu."},
        {"IDS_INSTALL_FINISH", "Kopēšanas beigas..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Instalēšanas komplekta fails qorv.vkt bojāts vai nav paredzēts šai instalācijas programmai."},
        {"IDS_DEFPRODUCT", "<Produkts>"},
        {"IDS_DEFPROVIDER", "<Piegādātājs>"},
        {"IDS_SUCCESS_FINISH", "Konfigurācija veiksmīgi uzstādīta."},
        {"IDS_SUCCESS_OPENDESCR", "Atvērt piegādes aprakstu"},
        {"IDS_PROGRESS_START", "Notiek failu kopēšana..."},
        {"IDS_ERROR_FINISH", "Instalācijas procesā notikusi kļūda. Instalācija pārtraukta. Šablonu katalogs nav mainīts."},
        {"IDS_CANCEL_FINISH", "Instalācija atcelta. Šablonu katalogs nav mainīts."},
        {"IDS_BROWSE_SELDIR", "Izvēlētais katalogs"},
        {"IDS_BROWSE_OK", "Izvēlēties"},
        {"IDS_BROWSE_CANCEL", "Atcelt"},
        {"IDS_WELCOME_TITLE", "Laipni lūdzam produkta instalācijas programmā"},
        {"IDS_SETUP_EXISTEDTARGET", "Instalācijas katalogs satur failus, kuri var būt mainīti instalācijas procesā. Turpināt instalāciju?"},
        {"IDS_DESTINATION_PROMPT", "Norādiet ceļu uz šablonu katalogu. Instalācijas programma ievietos šablonus un failu konfigurācijas norādītajā katalogā."},
        {"IDS_TEMPLATE_CATALOG", "Šablonu katalogs:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Instalēšana tika apturēta, bet šos failus neizdevās atjaunot. To iepriekšējās versijas ir saglabātas, un nākamā instalētāja palaišana tās atjaunos:"},
        {"IDS_WAITING_FOR_TARGET", "Šajā katalogā jau notiek cita instalēšana. Gaida, līdz tā beigsies..."},
        {"IDS_TARGET_BUSY", "Šajā katalogā joprojām notiek cita instalēšana. Šablonu katalogs nav mainīts."},
        {"IDS_NO_TERMINAL", "Nav displeja un nav termināļa ievadē, lai pajautātu, kur instalēt; palaidiet ar -S, lai instalētu bez jautājumiem (uz -D<dir> vai piedāvāto direktoriju)."},
        {"IDS_LOCATION_NOT_RECORDED", "Palaidēja veidņu atrašanās vietu sarakstu neizdevās atjaunināt."},
        {"IDS_RECOVERY_INCOMPLETE", "Pārtraukto instalēšanu neizdevās pilnībā atsaukt; tās rezerves kopija paliek"},
        {"IDS_ANSWER_YES_NO", "[j/N]"},
        {"IDS_YES_LETTERS", "yYjJ"},
        {"IDS_ERROR_UNTRUSTED", "Izplatīšanas komplekta fails qorv.vkt nav parakstīts ar atslēgu, kurai šī instalēšanas programma uzticas."},
        {"IDS_KIT_UNCHECKED", "Izplatīšanas komplekta failā qorv.vkt nav kontrolsummas: tā bojājumus nevar atklāt."},
        {"IDS_KIT_SIGNED", "Izplatīšanas komplekts parakstīts ar atslēgu"},
        {"IDS_NOTHING_TO_DO", "Nav ko darīt: veidnes jau ir atjauninātas."},
        {"IDS_KEPT_CHANGED", "Saglabāts, jo mainīts pēc instalēšanas:"},
        {"IDS_UNINSTALL_CONFIRM", "Vai noņemt šajā direktorijā instalētās veidnes?"},
        {"IDS_UNINSTALL_FINISH", "Veidnes ir noņemtas."},
        {"IDS_NOTHING_INSTALLED", "Šai direktorijai nav reģistrētas instalācijas."},
        {"IDS_UNINSTALL_ERROR", "Veidnes neizdevās noņemt. Veidņu direktorija nav mainīta."},
    }},
};
// clang-format on

}  // namespace qorv::res
