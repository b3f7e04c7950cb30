// Spanish texts of the user interface. Translators: edit the texts, keep the
// keys and their order; every text is UTF-8 and is shown exactly as written.
#include "res/language_texts.h"

namespace qorv::res {

// One text a line, as translators edit them.
// clang-format off
constinit const LanguageTexts kTexts_es = {
    14,
    "es",
    {{
        {"IDS_WIZARD_BACK", "< Atrás"},
        {"IDS_WIZARD_NEXT", "Seguir >"},
        {"IDS_WIZARD_FINISH", "Listo"},
        {"IDS_WIZARD_CANCEL", "Cancelar"},
        {"IDS_ACCEPT_CANCEL", "¿Quiere cancelar la instalación?"},
        {"IDS_TITLE_INSTALLER", "Instalación de la configuración"},
        {"IDS_PREPARECOPY", "Preparando para copiar..."},
        {"IDS_INSTALL_ERROR", "Error de instalación"},
        {"IDS_ERROR_NOSOURCE", "Archivo del conjunto de la instalación qorv.vkt no encontrado."},
        {"IDS_ERROR_NOTARGET", "Instalación en el catálogo actual de modelos no se admite."},
        {"IDS_ERROR_NOSPACE", "Insuficiente espacio en el catálogo Temp."},
        {"IDS_CHOOSEDIR_FOLDER", "&Carpeta:"},
        {"IDS_CHOOSEDIR_TITLE", "Selección del catálogo"},
        {"IDR_MAINFRAME", "Instalación de la configuración"},
        {"IDS_SETUP_EMPTYTARGET", "Indique la ruta correcta al catálogo de modelos."},
        {"IDS_INSTALL_FINISH", "Finalización de copiar..."},
        {"IDS_ERROR_DAMAGEDSOURCE", "DArchivo del conjunto de la instalación qorv.vkt está dañado o no está destinado para este programa de instalación."},
        {"IDS_DEFPRODUCT", "<Producto>"},
        {"IDS_DEFPROVIDER", "<Proveedor>"},
        {"IDS_SUCCESS_FINISH", "Configuración se ha instalado con éxito."},
        {"IDS_SUCCESS_OPENDESCR", "Abrir la descripción del suministro"},
        {"IDS_PROGRESS_START", "Copia de archivos se está procesando..."},
        {"IDS_ERROR_FINISH", "En el proceso de instalación se ha producido un error. Instalación interrumpida. El catálogo de plantillas no ha sido cambiado."},
        {"IDS_CANCEL_FINISH", "Instalación cancelada. El catálogo de plantillas no ha sido cambiado."},
        {"IDS_BROWSE_SELDIR", "El catálogo seleccionado:"},
        {"IDS_BROWSE_OK", "Seleccionar"},
        {"IDS_BROWSE_CANCEL", "Cancelar"},
        {"IDS_WELCOME_TITLE", "Bienvenidos al programa de instalación del producto"},
        {"IDS_SETUP_EXISTEDTARGET", "El catálogo de instalación contiene los archivos que pueden ser cambiados durante la instalación. ¿Continuar la instalación?"},
        {"IDS_DESTINATION_PROMPT", "Indique la ruta al catálogo de plantillas. El programa de la instalación instalará las plantillas y los archivos de la configuración en el catálogo indicado."},
        {"IDS_TEMPLATE_CATALOG", "Catálogo de modelos:"},
        {"IDS_ROLLBACK_INCOMPLETE", "La instalación se detuvo, pero estos archivos no se pudieron devolver a su lugar. Sus versiones anteriores se conservan y el próximo inicio del instalador las devolverá:"},
        {"IDS_WAITING_FOR_TARGET", "Hay otra instalación en curso en este catálogo. Esperando a que termine..."},
        {"IDS_TARGET_BUSY", "Todavía hay otra instalación en curso en este catálogo. El catálogo de plantillas no ha sido cambiado."},
        {"IDS_NO_TERMINAL", "No hay pantalla ni terminal en la entrada para preguntar dónde instalar; ejecútelo con -S para instalar sin preguntas (en -D<dir> o en el directorio propuesto)."},
        {"IDS_LOCATION_NOT_RECORDED", "No se pudo actualizar la lista de ubicaciones de plantillas del lanzador."},
        {"IDS_RECOVERY_INCOMPLETE", "Una instalación interrumpida no pudo deshacerse por completo; su copia de seguridad permanece en"},
        {"IDS_ANSWER_YES_NO", "[s/N]"},
        {"IDS_YES_LETTERS", "yYsS"},
        {"IDS_ERROR_UNTRUSTED", "El archivo del paquete de distribución qorv.vkt no está firmado con una clave en la que confíe este programa de instalación."},
        {"IDS_KIT_UNCHECKED", "El archivo del paquete de distribución qorv.vkt no tiene suma de comprobación: no se pueden detectar sus daños."},
        {"IDS_KIT_SIGNED", "Paquete de distribución firmado con la clave"},
        {"IDS_NOTHING_TO_DO", "Nada que hacer: las plantillas ya están al día."},
        {"IDS_KEPT_CHANGED", "Se conserva porque se modificó después de instalarse:"},
        {"IDS_UNINSTALL_CONFIRM", "¿Quitar las plantillas instaladas en este directorio?"},
        {"IDS_UNINSTALL_FINISH", "Las plantillas se han quitado."},
        {"IDS_NOTHING_INSTALLED", "No hay ninguna instalación registrada para este directorio."},
        {"IDS_UNINSTALL_ERROR", "No se pudieron quitar las plantillas. El directorio de plantillas no se ha modificado."},
    }},
};
// clang-format on

}  // namespace qorv::res
