// Georgian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_ka = {
    9,
    "ka",
    {{
        {"IDS_WIZARD_BACK", "< უკან"},
        {"IDS_WIZARD_NEXT", "შემდეგ>"},
        {"IDS_WIZARD_FINISH", "მზადაა"},
        {"IDS_WIZARD_CANCEL", "გაუქმება"},
        {"IDS_ACCEPT_CANCEL", "ნამდვილად გსურთ აწყობის გაუქმება?"},
        {"IDS_TITLE_INSTALLER", "კონფიგურაციის დაყენება"},
        {"IDS_PREPARECOPY", "მომზადება კოპირებისათვის..."},
        {"IDS_INSTALL_ERROR", "შეცდომა ინსტალაციისას"},
        {"IDS_ERROR_NOSOURCE", "მიწოდების კომპლექტის ფაილი qorv.vkt არ არის ნაპოვნი."},
        {"IDS_ERROR_NOTARGET", "შაბლონების მიმდინარე კატალოგში დაყენება არ არის მხარდაჭერილი."},
        {"IDS_ERROR_NOSPACE", "კატალოგში Temp ადგილი არასაკმარისია."},
        {"IDS_CHOOSEDIR_FOLDER", "&საქაღალდე:"},
        {"IDS_CHOOSEDIR_TITLE", "კატალოგის არჩევა"},
        {"IDR_MAINFRAME", "კონფიგურაციის დაყენება"},
        {"IDS_SETUP_EMPTYTARGET", "მიუთითეთ კორექტული გზა შაბლონების კატალოგისკენ."},
        {"IDS_INSTALL_FINISH", "კოპირების დასრულება..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "მიწოდების კომპლექტის ფაილი qorv.vkt დაზიანებულია ან არ არის განკუთვნილი მიწოდების ამ პროგრამისათვის."},
        {"IDS_DEFPRODUCT", "<პროდუქტი>"},
        {"IDS_DEFPROVIDER", "<მომწოდებელი>"},
        {"IDS_SUCCESS_FINISH", "კონფიგურაცია წარმატებითაა დაყენებული."},
        {"IDS_SUCCESS_OPENDESCR", "მიწოდების აღწერის გახსნა"},
        {"IDS_PROGRESS_START", "მიდის ფაილების კოპირება..."},
        {"IDS_ERROR_FINISH", "დაყენების პროცესში მოხდა შეცდომა. დაყენება შეწყდა. შაბლონების კატალოგი არ შეცვლილა."},
        {"IDS_CANCEL_FINISH", "დაყენება გაუქმებულია. შაბლონების კატალოგი არ შეცვლილა."},
        {"IDS_BROWSE_SELDIR", "არჩეული კატალოგი:"},
        {"IDS_BROWSE_OK", "არჩევა"},
        {"IDS_BROWSE_CANCEL", "გაუქმება"},
        {"IDS_WELCOME_TITLE", "კეთილი იყოს თქვენი მობრძანება პროდუქტის დაყენების პროგრამაში"},
        {"IDS_SETUP_EXISTEDTARGET", "დაყენების კატალოგი შეიცავს ფაილებს, რომლებიც შესაძლოა შეიცვალოს დაყენების პროცესში. გაგრძელდეს დაყენება?"},
        {"IDS_DESTINATION_PROMPT", "მიუთითეთ გზა შაბლონების კატალოგისკენ. დაყენების პროგრამა დააყენებს კონფიგურაციის შაბლონებსა და ფაილებს  მითითებულ კატალოგში."},
        {"IDS_TEMPLATE_CATALOG", "შაბლონების კატალოგი:"},
        {"IDS_ROLLBACK_INCOMPLETE", "დაყენება შეჩერდა, მაგრამ ამ ფაილების აღდგენა ვერ მოხერხდა. მათი წინა ვერსიები შენახულია და დამყენებლის შემდეგი გაშვება მათ აღადგენს:"},
        {"IDS_WAITING_FOR_TARGET", "ამ კატალოგში სხვა დაყენება მიმდინარეობს. ველოდებით მის დასრულებას..."},
        {"IDS_TARGET_BUSY", "ამ კატალოგში სხვა დაყენება ჯერ კიდევ მიმდინარეობს. შაბლონების კატალოგი არ შეცვლილა."},
        {"IDS_NO_TERMINAL", "არ არის ეკრანი და არც ტერმინალი შესასვლელზე, რომ ვიკითხოთ, სად დავაყენოთ; გაუშვით -S-ით, რომ დააყენოთ კითხვების გარეშე (-D<dir>-ში ან შემოთავაზებულ კატალოგში)."},
        {"IDS_LOCATION_NOT_RECORDED", "გამშვების შაბლონების მდებარეობების სიის განახლება ვერ მოხერხდა."},
        {"IDS_RECOVERY_INCOMPLETE", "შეწყვეტილი ინსტალაციის სრულად გაუქმება ვერ მოხერხდა; მისი სარეზერვო ასლი რჩება აქ:"},
        {"IDS_ANSWER_YES_NO", "[კ/ა]"},
        {"IDS_YES_LETTERS", "yYკ"},
        {"IDS_ERROR_UNTRUSTED", "დისტრიბუციის ფაილი qorv.vkt არ არის ხელმოწერილი გასაღებით, რომელსაც ეს საინსტალაციო პროგრამა ენდობა."},
        {"IDS_KIT_UNCHECKED", "დისტრიბუციის ფაილი qorv.vkt არ შეიცავს საკონტროლო ჯამს: მისი დაზიანების აღმოჩენა შეუძლებელია."},
        {"IDS_KIT_SIGNED", "დისტრიბუცია ხელმოწერილია გასაღებით"},
        {"IDS_NOTHING_TO_DO", "გასაკეთებელი არაფერია: შაბლონები უკვე განახლებულია."},
        {"IDS_KEPT_CHANGED", "შენარჩუნდა, რადგან ინსტალაციის შემდეგ შეიცვალა:"},
        {"IDS_UNINSTALL_CONFIRM", "წაიშალოს ამ საქაღალდეში დაინსტალირებული შაბლონები?"},
        {"IDS_UNINSTALL_FINISH", "შაბლონები წაიშალა."},
        {"IDS_NOTHING_INSTALLED", "ამ საქაღალდისთვის ინსტალაცია არ არის აღრიცხული."},
        {"IDS_UNINSTALL_ERROR", "შაბლონების წაშლა ვერ მოხერხდა. შაბლონების საქაღალდე არ შეცვლილა."},
    }},
};
// clang-format on

}  // namespace qorv::res
