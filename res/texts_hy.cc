// Armenian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_hy = {
    15,
    "hy",
    {{
        {"IDS_WIZARD_BACK", "< Հետ"},
        {"IDS_WIZARD_NEXT", "Հաջորդիվ >"},
        {"IDS_WIZARD_FINISH", "Պատրաստ է"},
        {"IDS_WIZARD_CANCEL", "Չեղարկում"},
        {"IDS_ACCEPT_CANCEL", "Դուք իսկապես ցանկանում եք չեղարկել ակտիվացումը:"},
        {"IDS_TITLE_INSTALLER", "Կոնֆիգուրացիայի ակտիվացում"},
        {"IDS_PREPARECOPY", "Նախապատրստում կրկնօրինակմանը"},
        {"IDS_INSTALL_ERROR", "Սխալ՝ տեղադրման ժամանակ"},
        {"IDS_ERROR_NOSOURCE", "qorv.vkt ակտիվացման հավաքածուի ֆայլը չի գտնվել:"},
        {"IDS_ERROR_NOTARGET", "Ակտիվացումը ձևանոմւշների ընթացիկ կատալոգում չի աջակցվում:"},
        {"IDS_ERROR_NOSPACE", "Temp կատալոգում բավարար տեղ չկա:"},
        {"IDS_CHOOSEDIR_FOLDER", "&Թղթապանակ:"},
        {"IDS_CHOOSEDIR_TITLE", "Կատալոգի ընտրություն"},
        {"IDR_MAINFRAME", "Կոնֆիգուրացիայի ակտիվացում"},
        {"IDS_SETUP_EMPTYTARGET", "Նշեք ճիշտ ուղին դեպի ձևանմուշների կատալոգին:"},
        {"IDS_INSTALL_FINISH", "Կրկնօրինակման ավարտ..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "qorv.vkt ակտիվացման հավաքածուի ֆայլը հաստատվել է կամ նախատեսված չէ"},
        {"IDS_DEFPRODUCT", "<Մթերք>"},
        {"IDS_DEFPROVIDER", "<Մատակարար>"},
        {"IDS_SUCCESS_FINISH", "Կոնֆիգուրացիան հաջողությամբ ակտիվացվել է:"},
        {"IDS_SUCCESS_OPENDESCR", "Բացել տեղադրման նկարագրությունը"},
        {"IDS_PROGRESS_START", "Կատարվում է ֆայլերի կրկնօրինակում..."},
        {"IDS_ERROR_FINISH", "Ակտիվացման ժամանակ տեղի է ունեցել սխալ: Ակտիվացումը ընդհատված է:"},
        {"IDS_CANCEL_FINISH", "Ակտիվացումը չեղարկվել է: Ձևանմուշների կատալոգը չի փոփոխվել:"},
        {"IDS_BROWSE_SELDIR", "Ընտրված կատալոգ"},
        {"IDS_BROWSE_OK", "Ընտրել"},
        {"IDS_BROWSE_CANCEL", "Չեղարկում"},
        {"IDS_WELCOME_TITLE", "Բարի գալուստ մթերքի ակտիվացման ծրագիր"},
        {"IDS_SETUP_EXISTEDTARGET", "Ակտիվացման կատալոգը պարունակում է ֆայլեր, որոնք կարող են փոփոխված լինել ակտիվացման ընթացքում: Շարունակե՞լ ակտիվացումը:"},
        {"IDS_DESTINATION_PROMPT", "Նշեք ձևանմուշների կատալոգի ուղին: Ծրագիրը կակտիվացնի ձևանմուշներ և կոնֆիգուրացիայի ֆայլեր նշված կատալոգում:"},
        {"IDS_TEMPLATE_CATALOG", "Ձևանմուշների կատալոգ"},
        {"IDS_ROLLBACK_INCOMPLETE", "Տեղադրումը դադարեցվեց, բայց այս ֆայլերը հնարավոր չեղավ վերադարձնել տեղը։ Դրանց նախորդ տարբերակները պահպանված են, և տեղադրողի հաջորդ գործարկումը կվերադարձնի դրանք:"},
        {"IDS_WAITING_FOR_TARGET", "Այս կատալոգում ընթանում է մեկ այլ տեղադրում։ Սպասում ենք դրա ավարտին..."},
        {"IDS_TARGET_BUSY", "Այս կատալոգում դեռ ընթանում է մեկ այլ տեղադրում։ Ձևանմուշների կատալոգը չի փոփոխվել:"},
        {"IDS_NO_TERMINAL", "Էկրան չկա, և մուտքում տերմինալ չկա՝ հարցնելու, թե որտեղ տեղադրել. գործարկեք -S-ով՝ առանց հարցերի տեղադրելու համար (-D<dir>-ում կամ առաջարկված գրացուցակում)։"},
        {"IDS_LOCATION_NOT_RECORDED", "Գործարկիչի ձևանմուշների տեղերի ցանկը չհաջողվեց թարմացնել։"},
        {"IDS_RECOVERY_INCOMPLETE", "Ընդհատված տեղադրումը չհաջողվեց ամբողջությամբ հետ շրջել. դրա պահուստային պատճենը մնում է այստեղ՝"},
        {"IDS_ANSWER_YES_NO", "[ա/Ո]"},
        {"IDS_YES_LETTERS", "yYաԱ"},
        {"IDS_ERROR_UNTRUSTED", "qorv.vkt բաշխման ֆայլը ստորագրված չէ այնպիսի բանալիով, որին վստահում է այս տեղադրման ծրագիրը։"},
        {"IDS_KIT_UNCHECKED", "qorv.vkt բաշխման ֆայլը ստուգիչ գումար չունի. դրա վնասվածքը հնարավոր չէ հայտնաբերել։"},
        {"IDS_KIT_SIGNED", "Բաշխումը ստորագրված է բանալիով"},
        {"IDS_NOTHING_TO_DO", "Անելիք չկա. ձևանմուշներն արդեն թարմացված են։"},
        {"IDS_KEPT_CHANGED", "Պահպանվել է, քանի որ փոխվել է տեղադրումից հետո՝"},
        {"IDS_UNINSTALL_CONFIRM", "Հեռացնե՞լ այս թղթապանակում տեղադրված ձևանմուշները։"},
        {"IDS_UNINSTALL_FINISH", "Ձևանմուշները հեռացված են։"},
        {"IDS_NOTHING_INSTALLED", "Այս թղթապանակի համար տեղադրում գրանցված չէ։"},
        {"IDS_UNINSTALL_ERROR", "Չհաջողվեց հեռացնել ձևանմուշները։ Ձևանմուշների թղթապանակը չի փոխվել։"},
    }},
};
// clang-format on

}  // namespace qorv::res
