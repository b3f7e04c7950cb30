// Russian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_ru = {
    1,
    "ru",
    {{
        {"IDS_WIZARD_BACK", "< Назад"},
        {"IDS_WIZARD_NEXT", "Далее >"},
        {"IDS_WIZARD_FINISH", "Готово"},
        {"IDS_WIZARD_CANCEL", "Отмена"},
        {"IDS_ACCEPT_CANCEL", "Вы действительно хотите отменить установку?"},
        {"IDS_TITLE_INSTALLER", "Установка конфигурации"},
        {"IDS_PREPARECOPY", "Подготовка к копированию..."},
        {"IDS_INSTALL_ERROR", "Ошибка при инсталляции"},
        {"IDS_ERROR_NOSOURCE", "Файл комплекта установки qorv.vkt не найден."},
        {"IDS_ERROR_NOTARGET", "Установка в текущий каталог шаблонов не поддерживается."},
        {"IDS_ERROR_NOSPACE", "Недостаточно места в каталоге Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Папка:"},
        {"IDS_CHOOSEDIR_TITLE", "Выбор каталога"},
        {"IDR_MAINFRAME", "Установка конфигурации"},
        {"IDS_SETUP_EMPTYTARGET", "Укажите корректный путь к каталогу шаблонов."},
        {"IDS_INSTALL_FINISH", "Завершение копирования..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Файл комплекта установки qorv.vkt поврежден или не предназначен для этой программы установки."},
        {"IDS_DEFPRODUCT", "<Продукт>"},
        {"IDS_DEFPROVIDER", "<Поставщик>"},
        {"IDS_SUCCESS_FINISH", "Конфигурация успешно установлена."},
        {"IDS_SUCCESS_OPENDESCR", "Открыть описание поставки"},
        {"IDS_PROGRESS_START", "Идет копирование файлов..."},
        {"IDS_ERROR_FINISH", "В процессе установки произошла ошибка. Установка прервана. Каталог шаблонов не изменен."},
        {"IDS_CANCEL_FINISH", "Установка отменена. Каталог шаблонов не изменен."},
        {"IDS_BROWSE_SELDIR", "Выбранный каталог:"},
        {"IDS_BROWSE_OK", "Выбрать"},
        {"IDS_BROWSE_CANCEL", "Отмена"},
        {"IDS_WELCOME_TITLE", "Добро пожаловать в программу установки продукта"},
        {"IDS_SETUP_EXISTEDTARGET", "Каталог установки содержит файлы, которые могут быть изменены в процессе установки. Продолжить установку?"},
        {"IDS_DESTINATION_PROMPT", "Укажите путь к каталогу шаблонов. Программа установки установит шаблоны и файлы конфигурации в указанный каталог."},
        {"IDS_TEMPLATE_CATALOG", "Каталог шаблонов:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Установка остановлена, но эти файлы не удалось вернуть на место. Их прежние версии сохранены, и следующий запуск программы установки вернет их:"},
        {"IDS_WAITING_FOR_TARGET", "В этот каталог уже идет другая установка. Ожидание ее завершения..."},
        {"IDS_TARGET_BUSY", "В этот каталог все еще идет другая установка. Каталог шаблонов не изменен."},
        {"IDS_NO_TERMINAL", "Нет дисплея и нет терминала на входе, чтобы спросить, куда устанавливать; запустите с -S, чтобы установить без вопросов (в -D<dir> или в предложенный каталог)."},
        {"IDS_LOCATION_NOT_RECORDED", "Не удалось обновить список каталогов шаблонов программы запуска."},
        {"IDS_RECOVERY_INCOMPLETE", "Прерванную установку не удалось откатить полностью; её резервная копия остаётся в"},
        {"IDS_ANSWER_YES_NO", "[д/Н]"},
        {"IDS_YES_LETTERS", "yYдД"},
        {"IDS_ERROR_UNTRUSTED", "Файл дистрибутива qorv.vkt не подписан ключом, которому доверяет эта программа установки."},
        {"IDS_KIT_UNCHECKED", "Файл дистрибутива qorv.vkt не содержит контрольной суммы: его повреждение не может быть обнаружено."},
        {"IDS_KIT_SIGNED", "Дистрибутив подписан ключом"},
        {"IDS_NOTHING_TO_DO", "Делать нечего: шаблоны уже в актуальном состоянии."},
        {"IDS_KEPT_CHANGED", "Сохранён, так как изменён после установки:"},
        {"IDS_UNINSTALL_CONFIRM", "Удалить шаблоны, установленные в этот каталог?"},
        {"IDS_UNINSTALL_FINISH", "Шаблоны удалены."},
        {"IDS_NOTHING_INSTALLED", "Для этого каталога нет записи об установке."},
        {"IDS_UNINSTALL_ERROR", "Не удалось удалить шаблоны. Каталог шаблонов не изменён."},
    }},
};
// clang-format on

}  // namespace qorv::res
