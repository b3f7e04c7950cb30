// Bulgarian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_bg = {
    6,
    "bg",
    {{
        {"IDS_WIZARD_BACK", "< Назад"},
        {"IDS_WIZARD_NEXT", "Напред >"},
        {"IDS_WIZARD_FINISH", "Готово"},
        {"IDS_WIZARD_CANCEL", "Отказ"},
        {"IDS_ACCEPT_CANCEL", "Дейстително ли желаете да отмените инсталацията?"},
        {"IDS_TITLE_INSTALLER", "Инсталиране на конфигурация"},
        {"IDS_PREPARECOPY", "Подготовка за копиране..."},
        {"IDS_INSTALL_ERROR", "Грешка при инсталацията"},
        {"IDS_ERROR_NOSOURCE", "Файлът за инсталация qorv.vkt не е открит."},
        {"IDS_ERROR_NOTARGET", "Инсталирането в текущата директория с шаблони не се поддържа."},
        {"IDS_ERROR_NOSPACE", "Недостатъчно места в директория Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Папка:"},
        {"IDS_CHOOSEDIR_TITLE", "Избор на директория"},
        {"IDR_MAINFRAME", "Инсталиране на конфигурация"},
        {"IDS_SETUP_EMPTYTARGET", "Задайте коректния път към каталога със шаблоните."},
        {"IDS_INSTALL_FINISH", "Завършване на копирането..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Файлът с инсталацията qorv.vkt е повреден или не е предназначен за тази програма."},
        {"IDS_DEFPRODUCT", "<Продукт>"},
        {"IDS_DEFPROVIDER", "<Доставчик>"},
        {"IDS_SUCCESS_FINISH", "Конфигурацията е успешно инсталирана."},
        {"IDS_SUCCESS_OPENDESCR", "Отвори описанието на дистрибутива"},
        {"IDS_PROGRESS_START", "Копиране на файлове..."},
        {"IDS_ERROR_FINISH", "В процеса на инсталация е станала грешка. Инсталацията е прекъсната. Каталогът с шаблоните не е променен."},
        {"IDS_CANCEL_FINISH", "Инсталацията е отменена. Каталогът с шаблоните не е променен."},
        {"IDS_BROWSE_SELDIR", "Избраната директория:"},
        {"IDS_BROWSE_OK", "Избери"},
        {"IDS_BROWSE_CANCEL", "Отказ"},
        {"IDS_WELCOME_TITLE", "Добре долшли в инсталационната програма на продукта"},
        {"IDS_SETUP_EXISTEDTARGET", "Директорията с инсталацията съдържа файлове, които могат да бъдат променени в процеса на инсталацията. Ще продължите ли с инсталацията?"},
        {"IDS_DESTINATION_PROMPT", "Задайте път към каталога с шаблоните. Инсталационната програма задава шаблони и файлове на конфигурации в указания каталог."},
        {"IDS_TEMPLATE_CATALOG", "Каталог със шаблони:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Инсталацията беше спряна, но тези файлове не можаха да бъдат върнати. Предишните им версии са запазени и следващото стартиране на инсталатора ще ги върне:"},
        {"IDS_WAITING_FOR_TARGET", "В този каталог вече тече друга инсталация. Изчакване да приключи..."},
        {"IDS_TARGET_BUSY", "В този каталог все още тече друга инсталация. Каталогът с шаблоните не е променен."},
        {"IDS_NO_TERMINAL", "Няма дисплей и няма терминал на входа, за да се попита къде да се инсталира; стартирайте с -S, за да инсталирате без въпроси (в -D<dir> или в предложената директория)."},
        {"IDS_LOCATION_NOT_RECORDED", "Списъкът с местоположения на шаблони на програмата за стартиране не можа да бъде обновен."},
        {"IDS_RECOVERY_INCOMPLETE", "Прекъснатата инсталация не можа да бъде напълно върната; резервното ѝ копие остава в"},
        {"IDS_ANSWER_YES_NO", "[д/Н]"},
        {"IDS_YES_LETTERS", "yYдД"},
        {"IDS_ERROR_UNTRUSTED", "Файлът на дистрибуцията qorv.vkt не е подписан с ключ, на който тази инсталационна програма се доверява."},
        {"IDS_KIT_UNCHECKED", "Файлът на дистрибуцията qorv.vkt няма контролна сума: повредата му не може да бъде открита."},
        {"IDS_KIT_SIGNED", "Дистрибуцията е подписана с ключ"},
        {"IDS_NOTHING_TO_DO", "Няма какво да се прави: шаблоните вече са актуални."},
        {"IDS_KEPT_CHANGED", "Запазен, защото е променен след инсталирането:"},
        {"IDS_UNINSTALL_CONFIRM", "Да се премахнат ли шаблоните, инсталирани в тази директория?"},
        {"IDS_UNINSTALL_FINISH", "Шаблоните са премахнати."},
        {"IDS_NOTHING_INSTALLED", "За тази директория няма записана инсталация."},
        {"IDS_UNINSTALL_ERROR", "Шаблоните не можаха да бъдат премахнати. Директорията с шаблони не е променена."},
    }},
};
// clang-format on

}  // namespace qorv::res
