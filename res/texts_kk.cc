// Kazakh texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_kk = {
    10,
    "kk",
    {{
        {"IDS_WIZARD_BACK", "< Артқа"},
        {"IDS_WIZARD_NEXT", "Әрі қарай >"},
        {"IDS_WIZARD_FINISH", "Дайын"},
        {"IDS_WIZARD_CANCEL", "Доғар"},
        {"IDS_ACCEPT_CANCEL", "Сіз орнатуды шынымен алып тастағыңыз келе ме?"},
        {"IDS_TITLE_INSTALLER", "Конфигурацияны орнату"},
        {"IDS_PREPARECOPY", "Көшіруге дайындық..."},
        {"IDS_INSTALL_ERROR", "Инсталляциялау кезіндегі қате"},
        {"IDS_ERROR_NOSOURCE", " qorv.vkt орнату файлы жинағы табылған жоқ."},
        {"IDS_ERROR_NOTARGET", "Үлгінің ағымдағы каталогына орнату қолдау таппады."},
        {"IDS_ERROR_NOSPACE", "Temp тізбегінде орын жеткіліксіз."},
        {"IDS_CHOOSEDIR_FOLDER", "&Папка:"},
        {"IDS_CHOOSEDIR_TITLE", "Каталогты таңдау"},
        {"IDR_MAINFRAME", "Конфигурацияны орнату"},
        {"IDS_SETUP_EMPTYTARGET", "Үлгілер каталогына дұрыс жолды көрсетіңіз."},
        {"IDS_INSTALL_FINISH", "Көшіруді аяқтау..."},
        {"IDS_ERROR_DAMAGEDSOURCE", " qorv.vkt орнату файлы бүлінген немесе орнатудың осы программасы арналмаған."},
        {"IDS_DEFPRODUCT", "<Өнім>"},
        {"IDS_DEFPROVIDER", "<Жабдықтаушы>"},
        {"IDS_SUCCESS_FINISH", "Конфигурация сәтті орнатылды."},
        {"IDS_SUCCESS_OPENDESCR", "Жабдықтау баяндамасын ашу"},
        {"IDS_PROGRESS_START", "Файлдарды көшіру жүріп жатыр..."},
        {"IDS_ERROR_FINISH", "Орнату кезінде қате кетті. Орнату үзілді. Үлгілер каталогы өзгеріссіз қалды."},
        {"IDS_CANCEL_FINISH", "Орнату алынып тасталды.Үлгілер каталогы өзгермеген."},
        {"IDS_BROWSE_SELDIR", "Таңдалған каталог:"},
        {"IDS_BROWSE_OK", "Таңдау"},
        {"IDS_BROWSE_CANCEL", "Доғар"},
        {"IDS_WELCOME_TITLE", "Өнімді орнату программасына қош келдіңіз"},
        {"IDS_SETUP_EXISTEDTARGET", "Орнату каталогы орнату процесінде өзгеруі мүмкін файлдарды қамтиды. Орнатуды жалғастыру керек пе?"},
        {"IDS_DESTINATION_PROMPT", "Үлгілер каталогына жолды көрсетіңіз..Орнату программасы көрсетілген каталогқа конфигурация үлгісі мен файлдарын орнатады."},
        {"IDS_TEMPLATE_CATALOG", "Үлгілер каталогы:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Орнату тоқтатылды, бірақ бұл файлдарды орнына қайтару мүмкін болмады. Олардың алдыңғы нұсқалары сақталған, орнату бағдарламасын келесі іске қосу оларды қайтарады:"},
        {"IDS_WAITING_FOR_TARGET", "Бұл каталогқа басқа орнату жүріп жатыр. Оның аяқталуы күтілуде..."},
        {"IDS_TARGET_BUSY", "Бұл каталогқа басқа орнату әлі жүріп жатыр. Үлгілер каталогы өзгермеген."},
        {"IDS_NO_TERMINAL", "Дисплей жоқ және қайда орнату керектігін сұрайтын кірісте терминал жоқ; сұрақсыз орнату үшін -S арқылы іске қосыңыз (-D<dir> ішіне немесе ұсынылған каталогқа)."},
        {"IDS_LOCATION_NOT_RECORDED", "Іске қосқыштың үлгілер орындарының тізімін жаңарту мүмкін болмады."},
        {"IDS_RECOVERY_INCOMPLETE", "Үзілген орнатуды толық кері қайтару мүмкін болмады; оның сақтық көшірмесі мына жерде қалады:"},
        {"IDS_ANSWER_YES_NO", "[и/Ж]"},
        {"IDS_YES_LETTERS", "yYиИ"},
        {"IDS_ERROR_UNTRUSTED", "qorv.vkt дистрибутив файлына осы орнату бағдарламасы сенетін кілтпен қол қойылмаған."},
        {"IDS_KIT_UNCHECKED", "qorv.vkt дистрибутив файлында бақылау сомасы жоқ: оның зақымдануын анықтау мүмкін емес."},
        {"IDS_KIT_SIGNED", "Дистрибутивке мына кілтпен қол қойылған:"},
        {"IDS_NOTHING_TO_DO", "Істейтін ештеңе жоқ: үлгілер жаңартылған."},
        {"IDS_KEPT_CHANGED", "Орнатылғаннан кейін өзгертілгендіктен сақталды:"},
        {"IDS_UNINSTALL_CONFIRM", "Осы каталогқа орнатылған үлгілерді жою керек пе?"},
        {"IDS_UNINSTALL_FINISH", "Үлгілер жойылды."},
        {"IDS_NOTHING_INSTALLED", "Бұл каталог үшін тіркелген орнату жоқ."},
        {"IDS_UNINSTALL_ERROR", "Үлгілерді жою мүмкін болмады. Үлгілер каталогы өзгертілген жоқ."},
    }},
};
// clang-format on

}  // namespace qorv::res
