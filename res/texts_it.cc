// Italian texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_it = {
    16,
    "it",
    {{
        {"IDS_WIZARD_BACK", "< Indietro"},
        {"IDS_WIZARD_NEXT", "Avanti>"},
        {"IDS_WIZARD_FINISH", "Pronto"},
        {"IDS_WIZARD_CANCEL", "Annulla"},
        {"IDS_ACCEPT_CANCEL", "Sei sicuro di voler annullare l'installazione?"},
        {"IDS_TITLE_INSTALLER", "Installa configurazione"},
        {"IDS_PREPARECOPY", "Iniziare il processo di copia..."},
        {"IDS_INSTALL_ERROR", "Errore durante il processo di installazione"},
        {"IDS_ERROR_NOSOURCE", "Il file di installazione qorv.vkt non è stato trovato."},
        {"IDS_ERROR_NOTARGET", "Impostazione nella directory di modelli corrente non viene supportata."},
        {"IDS_ERROR_NOSPACE", "Lo spazio sul directory Temp è esaurito."},
        {"IDS_CHOOSEDIR_FOLDER", "&Cartella:"},
        {"IDS_CHOOSEDIR_TITLE", "Seleziona la directory"},
        {"IDR_MAINFRAME", "Installa configurazione"},
        {"IDS_SETUP_EMPTYTARGET", "Specifica il percorso corretto per la directory di modelli."},
        {"IDS_INSTALL_FINISH", "Completare il processo di copia..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "Il file di installazione qorv.vkt è stato danneggiato e non è adatto per questo programma di installazione."},
        {"IDS_DEFPRODUCT", "<Prodotto>"},
        {"IDS_DEFPROVIDER", "<Provider>"},
        {"IDS_SUCCESS_FINISH", "L'installazione della configurazione è stata completata con successo."},
        {"IDS_SUCCESS_OPENDESCR", "Apri la descrizione di fornitura"},
        {"IDS_PROGRESS_START", "Il processo di copiatura dei file è in corso..."},
        {"IDS_ERROR_FINISH", "Durante il processo di impostazione si è verificato un errore. Installazione interrotta. La directory di modelli non è cambiata."},
        {"IDS_CANCEL_FINISH", "Installazione annulata La directory di modelli non è cambiata."},
        {"IDS_BROWSE_SELDIR", "Directory selezionata:"},
        {"IDS_BROWSE_OK", "Seleziona"},
        {"IDS_BROWSE_CANCEL", "Annulla"},
        {"IDS_WELCOME_TITLE", "Benvenuti nel programma di installazione del prodotto"},
        {"IDS_SETUP_EXISTEDTARGET", "La directory di installazione contiene i file che possono essere cambiati nel processo di installazione Continuare con l'installazione?"},
        {"IDS_DESTINATION_PROMPT", "Specificare il percorso alla directory di modelli Il programma di installazione installerà i modelli e i file di configurazione nella directory specificata."},
        {"IDS_TEMPLATE_CATALOG", "Directory di modelli:"},
        {"IDS_ROLLBACK_INCOMPLETE", "L'installazione è stata interrotta, ma non è stato possibile rimettere a posto questi file. Le versioni precedenti sono conservate e il prossimo avvio del programma di installazione le rimetterà a posto:"},
        {"IDS_WAITING_FOR_TARGET", "È in corso un'altra installazione in questa directory. In attesa che termini..."},
        {"IDS_TARGET_BUSY", "È ancora in corso un'altra installazione in questa directory. La directory di modelli non è cambiata."},
        {"IDS_NO_TERMINAL", "Nessuno schermo e nessun terminale in ingresso per chiedere dove installare; eseguirlo con -S per installare senza domande (in -D<dir> o nella directory proposta)."},
        {"IDS_LOCATION_NOT_RECORDED", "Impossibile aggiornare l'elenco delle posizioni dei modelli del programma di avvio."},
        {"IDS_RECOVERY_INCOMPLETE", "Un'installazione interrotta non è stata annullata completamente; la sua copia di riserva resta in"},
        {"IDS_ANSWER_YES_NO", "[s/N]"},
        {"IDS_YES_LETTERS", "yYsS"},
        {"IDS_ERROR_UNTRUSTED", "Il file del pacchetto di distribuzione qorv.vkt non è firmato con una chiave di cui questo programma di installazione si fida."},
        {"IDS_KIT_UNCHECKED", "Il file del pacchetto di distribuzione qorv.vkt non contiene un checksum: i suoi danni non possono essere rilevati."},
        {"IDS_KIT_SIGNED", "Pacchetto di distribuzione firmato con la chiave"},
        {"IDS_NOTHING_TO_DO", "Niente da fare: i modelli sono già aggiornati."},
        {"IDS_KEPT_CHANGED", "Conservato perché modificato dopo l'installazione:"},
        {"IDS_UNINSTALL_CONFIRM", "Rimuovere i modelli installati in questa directory?"},
        {"IDS_UNINSTALL_FINISH", "I modelli sono stati rimossi."},
        {"IDS_NOTHING_INSTALLED", "Nessuna installazione registrata per questa directory."},
        {"IDS_UNINSTALL_ERROR", "Impossibile rimuovere i modelli. La directory dei modelli non è stata modificata."},
    }},
};
// clang-format on

}  // namespace qorv::res
