// Ukrainian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_uk = {
    2,
    "uk",
    {{
        {"IDS_WIZARD_BACK", "< Попередня"},
        {"IDS_WIZARD_NEXT", "Наступна >"},
        {"IDS_WIZARD_FINISH", "ОК"},
        {"IDS_WIZARD_CANCEL", "Відмінити"},
        {"IDS_ACCEPT_CANCEL", "Ви дійсно хочете відмінити установку?"},
        {"IDS_TITLE_INSTALLER", "Установка конфігурації"},
        {"IDS_PREPARECOPY", "Підготовка до копіювання..."},
        {"IDS_INSTALL_ERROR", "Помилка при інсталяції"},
        {"IDS_ERROR_NOSOURCE", "Файл комплекту поставки qorv.vkt не знайдений."},
        {"IDS_ERROR_NOTARGET", "Установка у поточний каталог шаблонів не підтримується."},
        {"IDS_ERROR_NOSPACE", "Недостатньо місця в каталозі Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Папка:"},
        {"IDS_CHOOSEDIR_TITLE", "Вибір каталогу"},
        {"IDR_MAINFRAME", "Установка конфігурації"},
        {"IDS_SETUP_EMPTYTARGET", "Вкажіть коректний шлях до каталогу шаблонів."},
        {"IDS_INSTALL_FINISH", "Завершення копіювання..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Файл комплекту поставки qorv.vkt пошкоджений або не призначений для цієї програми установки."},
        {"IDS_DEFPRODUCT", "<Продукт>"},
        {"IDS_DEFPROVIDER", "<Постачальник>"},
        {"IDS_SUCCESS_FINISH", "Конфігурацію успішно встановлено."},
        {"IDS_SUCCESS_OPENDESCR", "Відкрити опис поставки"},
        {"IDS_PROGRESS_START", "Іде копіювання файлів..."},
        {"IDS_ERROR_FINISH", "У процесі установки відбулася помилка. Установку перервано. Каталог шаблонів не змінено."},
        {"IDS_CANCEL_FINISH", "Установку відмінено. Каталог шаблонів не змінено."},
        {"IDS_BROWSE_SELDIR", "Вибраний каталог:"},
        {"IDS_BROWSE_OK", "Вибрати"},
        {"IDS_BROWSE_CANCEL", "Відмінити"},
        {"IDS_WELCOME_TITLE", "Ласкаво просимо у програму установки продукту"},
        {"IDS_SETUP_EXISTEDTARGET", "Каталог установки містить файли, які можуть бути змінені у процесі установки. Продовжити установку?"},
        {"IDS_DESTINATION_PROMPT", "Вкажіть шлях до каталогу шаблонів. Програма установки встановить шаблони і файли конфігурації у вказаний каталог."},
        {"IDS_TEMPLATE_CATALOG", "Каталог шаблонів:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Встановлення зупинено, але ці файли не вдалося повернути на місце. Їхні попередні версії збережено, і наступний запуск програми встановлення поверне їх:"},
        {"IDS_WAITING_FOR_TARGET", "У цей каталог уже триває інше встановлення. Очікування його завершення..."},
        {"IDS_TARGET_BUSY", "У цей каталог усе ще триває інше встановлення. Каталог шаблонів не змінено."},
        {"IDS_NO_TERMINAL", "Немає дисплея і немає термінала на вході, щоб запитати, куди встановлювати; запустіть з -S, щоб встановити без запитань (у -D<dir> або в запропонований каталог)."},
        {"IDS_LOCATION_NOT_RECORDED", "Не вдалося оновити список каталогів шаблонів програми запуску."},
        {"IDS_RECOVERY_INCOMPLETE", "Перервану установку не вдалося повністю відкотити; її резервна копія залишається в"},
        {"IDS_ANSWER_YES_NO", "[т/Н]"},
        {"IDS_YES_LETTERS", "yYтТ"},
        {"IDS_ERROR_UNTRUSTED", "Файл дистрибутива qorv.vkt не підписано ключем, якому довіряє ця програма встановлення."},
        {"IDS_KIT_UNCHECKED", "Файл дистрибутива qorv.vkt не містить контрольної суми: його пошкодження неможливо виявити."},
        {"IDS_KIT_SIGNED", "Дистрибутив підписано ключем"},
        {"IDS_NOTHING_TO_DO", "Нічого робити: шаблони вже актуальні."},
        {"IDS_KEPT_CHANGED", "Збережено, бо змінено після встановлення:"},
        {"IDS_UNINSTALL_CONFIRM", "Видалити шаблони, встановлені в цей каталог?"},
        {"IDS_UNINSTALL_FINISH", "Шаблони видалено."},
        {"IDS_NOTHING_INSTALLED", "Для цього каталогу немає запису про встановлення."},
        {"IDS_UNINSTALL_ERROR", "Не вдалося видалити шаблони. Каталог шаблонів не змінено."},
    }},
};
// clang-format on

}  // namespace qorv::res
