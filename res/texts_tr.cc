// Turkish texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_tr = {
    12,
    "tr",
    {{
        {"IDS_WIZARD_BACK", "< Geri"},
        {"IDS_WIZARD_NEXT", "İleri >"},
        {"IDS_WIZARD_FINISH", "Tamam"},
        {"IDS_WIZARD_CANCEL", "İptal"},
        {"IDS_ACCEPT_CANCEL", "Yüklemeyi iptal etmek istediğinizden emin misiniz?"},
        {"IDS_TITLE_INSTALLER", "Konfigürasyon yüklenmesi"},
        {"IDS_PREPARECOPY", "Kopyalamak için hazırlık..."},
        {"IDS_INSTALL_ERROR", "Yükleme sırasında hata oluştu"},
        {"IDS_ERROR_NOSOURCE", "qorv.vkt yükleme takımının dosyası bulunmadı."},
        {"IDS_ERROR_NOTARGET", "Cari şablon klasörüne yükleme desteklenmiyor."},
        {"IDS_ERROR_NOSPACE", "Temp klasöründa HD yeri yeterince değil."},
        {"IDS_CHOOSEDIR_FOLDER", "&Klasör:"},
        {"IDS_CHOOSEDIR_TITLE", "Kunum seç"},
        {"IDR_MAINFRAME", "Konfigürasyon yüklenmesi"},
        {"IDS_SETUP_EMPTYTARGET", "Şablon klasörüne geçerli yolu belirleyin."},
        {"IDS_INSTALL_FINISH", "Kopyalama sonlandırılması..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "qorv.vkt yükleme takımının dosyası bozuk veya bu yükleme programı için uygun değil."},
        {"IDS_DEFPRODUCT", "<Ürün>"},
        {"IDS_DEFPROVIDER", "<Tedarikçi>"},
        {"IDS_SUCCESS_FINISH", "Konfigürasyon başarılı yüklendi."},
        {"IDS_SUCCESS_OPENDESCR", "Dağıtım açıklamasını aç"},
        {"IDS_PROGRESS_START", "Dosya kopyalaması gerçekleşiyor..."},
        {"IDS_ERROR_FINISH", "Yükleme sırasında hata oluştu. Yükleme kesildi. Şablon klasörü değiştirilmedi."},
        {"IDS_CANCEL_FINISH", "Yükleme iptal edildi. Şablonu klasörü değiştirilmedi."},
        {"IDS_BROWSE_SELDIR", "Seçilen klasör:"},
        {"IDS_BROWSE_OK", "Seç"},
        {"IDS_BROWSE_CANCEL", "İptal"},
        {"IDS_WELCOME_TITLE", "Ürün yükleme programına hoş geldiniz"},
        {"IDS_SETUP_EXISTEDTARGET", "Yükleme klasörü yükleme sırasında değiştirilebilecek dosyalar içeriyor. Yüklemeyi devam etmek ister misiniz?"},
        {"IDS_DESTINATION_PROMPT", "Şablon klasörüne yolu belirtin. Yükleme programı şablonları ve konfigürasyon dosyalarını belirtilen klasöre yükleyecek."},
        {"IDS_TEMPLATE_CATALOG", "Şablon klasörü:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Yükleme durduruldu, ancak bu dosyalar yerine konulamadı. Önceki sürümleri saklandı; yükleme programının bir sonraki başlatılışı onları yerine koyacak:"},
        {"IDS_WAITING_FOR_TARGET", "Bu klasöre başka bir yükleme sürüyor. Bitmesi bekleniyor..."},
        {"IDS_TARGET_BUSY", "Bu klasöre başka bir yükleme hâlâ sürüyor. Şablonu klasörü değiştirilmedi."},
        {"IDS_NO_TERMINAL", "Ekran yok ve nereye kurulacağını sormak için girişte terminal yok; soru sormadan kurmak için -S ile çalıştırın (-D<dir> içine veya önerilen dizine)."},
        {"IDS_LOCATION_NOT_RECORDED", "Başlatıcının şablon konumları listesi güncellenemedi."},
        {"IDS_RECOVERY_INCOMPLETE", "Yarıda kesilen bir kurulum tamamen geri alınamadı; yedeği şurada kalıyor:"},
        {"IDS_ANSWER_YES_NO", "[e/H]"},
        {"IDS_YES_LETTERS", "yYeE"},
        {"IDS_ERROR_UNTRUSTED", "Dağıtım paketi dosyası qorv.vkt, bu kurulum programının güvendiği bir anahtarla imzalanmamış."},
        {"IDS_KIT_UNCHECKED", "Dağıtım paketi dosyası qorv.vkt sağlama toplamı içermiyor: hasarı tespit edilemez."},
        {"IDS_KIT_SIGNED", "Dağıtım paketini imzalayan anahtar:"},
        {"IDS_NOTHING_TO_DO", "Yapılacak bir şey yok: şablonlar zaten güncel."},
        {"IDS_KEPT_CHANGED", "Kurulumdan sonra değiştirildiği için korundu:"},
        {"IDS_UNINSTALL_CONFIRM", "Bu dizine kurulan şablonlar kaldırılsın mı?"},
        {"IDS_UNINSTALL_FINISH", "Şablonlar kaldırıldı."},
        {"IDS_NOTHING_INSTALLED", "Bu dizin için kayıtlı bir kurulum yok."},
        {"IDS_UNINSTALL_ERROR", "Şablonlar kaldırılamadı. Şablon dizini değiştirilmedi."},
    }},
};
// clang-format on

}  // namespace qorv::res
