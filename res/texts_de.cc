// German texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_de = {
    7,
    "de",
    {{
        {"IDS_WIZARD_BACK", "< Zurück"},
        {"IDS_WIZARD_NEXT", "Weiter >"},
        {"IDS_WIZARD_FINISH", "Fertig"},
        {"IDS_WIZARD_CANCEL", "Abbrechen"},
        {"IDS_ACCEPT_CANCEL", "Soll die Installation wirklich abgebrochen werden?"},
        {"IDS_TITLE_INSTALLER", "Konfiguration wird installiert"},
        {"IDS_PREPARECOPY", "Kopieren wird vorbereitet..."},
        {"IDS_INSTALL_ERROR", "Installationsfehler"},
        {"IDS_ERROR_NOSOURCE", "Installationsdatei qorv.vkt wurde nicht gefunden."},
        {"IDS_ERROR_NOTARGET", "Installation von Vorlagen in das aktuelle Verzeichnis wird nicht unterstützt."},
        {"IDS_ERROR_NOSPACE", "Nicht genügend Speicherplatz im Verzeichnis Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Ordner:"},
        {"IDS_CHOOSEDIR_TITLE", "Verzeichnis auswählen"},
        {"IDR_MAINFRAME", "Konfiguration wird installiert"},
        {"IDS_SETUP_EMPTYTARGET", "Geben Sie den richtigen Pfad zum Vorlagenverzeichnis an."},
        {"IDS_INSTALL_FINISH", "Kopieren fertig gestellt..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Die Installationsdatei qorv.vkt ist beschädigt oder für dieses Installationsprogramm nicht vorgesehen."},
        {"IDS_DEFPRODUCT", "<Produkt>"},
        {"IDS_DEFPROVIDER", "<Lieferant>"},
        {"IDS_SUCCESS_FINISH", "Konfiguration erfolgreich installiert."},
        {"IDS_SUCCESS_OPENDESCR", "Beschreibung des Verteilungskits öffnen"},
        {"IDS_PROGRESS_START", "Dateien werden kopiert..."},
        {"IDS_ERROR_FINISH", "Während der Installation ist ein Fehler aufgetreten. Installation beendet. Vorlagenverzeichnis wurde nicht geändert."},
        {"IDS_CANCEL_FINISH", "Installation abgebrochen. Vorlagenverzeichnis wurde nicht geändert."},
        {"IDS_BROWSE_SELDIR", "Verzeichnis ausgewählt:"},
        {"IDS_BROWSE_OK", "Auswählen"},
        {"IDS_BROWSE_CANCEL", "Abbrechen"},
        {"IDS_WELCOME_TITLE", "Willkommen beim Installationsprogramm des Produkts"},
        {"IDS_SETUP_EXISTEDTARGET", "Das Installationsverzeichnis enthält Dateien, die während des Installationsprozesses möglicherweise geändert werden. Möchten Sie fortfahren?"},
        {"IDS_DESTINATION_PROMPT", "Geben Sie den Pfad zum Vorlagenverzeichnis an. Das Installationsprogramm installiert Vorlagen und Konfigurationsdateien in das angegebene Verzeichnis."},
        {"IDS_TEMPLATE_CATALOG", "Vorlagenverzeichnis:"},
        {"IDS_ROLLBACK_INCOMPLETE", "Die Installation wurde abgebrochen, aber diese Dateien konnten nicht zurückgelegt werden. Ihre vorherigen Fassungen sind gesichert; der nächste Start des Installationsprogramms legt sie zurück:"},
        {"IDS_WAITING_FOR_TARGET", "In dieses Verzeichnis läuft bereits eine andere Installation. Warten, bis sie beendet ist..."},
        {"IDS_TARGET_BUSY", "In dieses Verzeichnis läuft noch eine andere Installation. Vorlagenverzeichnis wurde nicht geändert."},
        {"IDS_NO_TERMINAL", "Keine Anzeige und kein Terminal an der Eingabe, um nach dem Installationsort zu fragen; mit -S starten, um ohne Rückfragen zu installieren (nach -D<dir> oder in das vorgeschlagene Verzeichnis)."},
        {"IDS_LOCATION_NOT_RECORDED", "Die Liste der Vorlagenorte des Starters konnte nicht aktualisiert werden."},
        {"IDS_RECOVERY_INCOMPLETE", "Eine unterbrochene Installation konnte nicht vollständig zurückgesetzt werden; ihre Sicherung bleibt in"},
        {"IDS_ANSWER_YES_NO", "[j/N]"},
        {"IDS_YES_LETTERS", "yYjJ"},
        {"IDS_ERROR_UNTRUSTED", "Die Distributionsdatei qorv.vkt ist nicht mit einem Schlüssel signiert, dem dieses Installationsprogramm vertraut."},
        {"IDS_KIT_UNCHECKED", "Die Distributionsdatei qorv.vkt enthält keine Prüfsumme: Beschädigungen können nicht erkannt werden."},
        {"IDS_KIT_SIGNED", "Distribution signiert mit Schlüssel"},
        {"IDS_NOTHING_TO_DO", "Nichts zu tun: die Vorlagen sind bereits auf dem neuesten Stand."},
        {"IDS_KEPT_CHANGED", "Beibehalten, weil nach der Installation geändert:"},
        {"IDS_UNINSTALL_CONFIRM", "Die in diesem Verzeichnis installierten Vorlagen entfernen?"},
        {"IDS_UNINSTALL_FINISH", "Die Vorlagen wurden entfernt."},
        {"IDS_NOTHING_INSTALLED", "Für dieses Verzeichnis ist keine Installation verzeichnet."},
        {"IDS_UNINSTALL_ERROR", "Die Vorlagen konnten nicht entfernt werden. Vorlagenverzeichnis wurde nicht geändert."},
    }},
};
// clang-format on

}  // namespace qorv::res
