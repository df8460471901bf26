#include "core/textos.h"

#include <atomic>
#include <cstring>

namespace velorin {

namespace {

// A row names its constant twice: as the Portuguese text and, spelt out, as the key that a
// failing check can print.
#define LINHA(chave, en, es) \
    { #chave, chave, en, es }

// Rows with the same Portuguese text (the two "Agendamento cancelado" titles, the two
// "Velorin" titles) carry the same translations, so the first match is always right.
constexpr TLinhaTexto TABELA[] = {
    // Pairing and settings window.
    LINHA(sparearconecte, "Connect your phone", "Conecta tu teléfono"),
    LINHA(sparearmanual, "Connect manually", "Conectar manualmente"),
    LINHA(sparearconfiguracoes, "Settings", "Configuración"),
    LINHA(sparearvoltar, "Back", "Volver"),
    LINHA(scontroleremoto, "Remote control", "Control remoto"),
    LINHA(scontroleligado, "On", "Activado"),
    LINHA(scontrolepausado, "Paused", "En pausa"),
    LINHA(spassowifititulo, "1. Use the same Wi-Fi as this PC",
          "1. Usa la misma Wi-Fi que este PC"),
    LINHA(spassowifitexto, "Both devices must be on the same network.",
          "Los dos dispositivos deben estar en la misma red."),
    LINHA(spassocameratitulo, "2. Point the camera at the code alongside",
          "2. Apunta la cámara al código de al lado"),
    LINHA(spassocameratexto, "The link opens straight in the phone's browser.",
          "El enlace se abre directamente en el navegador del teléfono."),
    LINHA(sparearcopiar, "Copy address", "Copiar dirección"),
    LINHA(sparearaguardando, "Waiting for connection…", "Esperando conexión…"),
    LINHA(sgerenciaratalhos, "Manage shortcuts…", "Gestionar atajos…"),
    LINHA(sidioma, "Language", "Idioma"),
    LINHA(sidiomaautomatico, "Automatic (Windows)", "Automático (Windows)"),
    LINHA(spareartitulo, "Pair phone", "Vincular teléfono"),
    LINHA(sparearsubtitulo, "Then just use your phone as this PC's remote control.",
          "Después solo tienes que usar el teléfono como control remoto de este PC."),
    LINHA(sparearpasso1, "Scan to connect", "Escanea para conectar"),
    LINHA(sparearpasso2,
          "On the same Wi-Fi as this PC, open the phone's camera, point it at the QR code and tap "
          "the link.",
          "En la misma Wi-Fi que este PC, abre la cámara del teléfono, apunta al código QR y toca "
          "el enlace."),
    LINHA(sparearouacesse,
          "Or open in the phone's browser:", "O abre en el navegador del teléfono:"),
    LINHA(spareardigitecodigo, "and enter the code:", "y escribe el código:"),
    LINHA(sparearendereco, "This PC's address:", "Dirección de este PC:"),
    LINHA(sparearexpiraem, "The code expires in %s.", "El código caduca en %s."),
    LINHA(sparearnovocodigo, "Generate new code", "Generar código nuevo"),
    LINHA(spareariniciarwindows, "Start with Windows", "Iniciar con Windows"),
    LINHA(spareariniciarbloqueado, "Start with Windows (unavailable in test mode)",
          "Iniciar con Windows (no disponible en el modo de prueba)"),
    LINHA(sparearfirewall, "If Windows asks about the firewall, allow access on private networks.",
          "Si Windows pregunta por el firewall, permite el acceso en redes privadas."),
    LINHA(sparearsucesso, "Paired with %s!", "¡Vinculado con %s!"),
    LINHA(sparearfechado, "Too many attempts. Reopen this window.",
          "Demasiados intentos. Vuelve a abrir esta ventana."),
    LINHA(sparearerroservidor, "The server is not running: %s",
          "El servidor no está en ejecución: %s"),
    LINHA(spareartailscale, "%s (Tailscale)", "%s (Tailscale)"),
    LINHA(sbtnfechar, "Close", "Cerrar"),
    LINHA(snuvemsemconexao, "No connection to the cloud. Trying again…",
          "Sin conexión con la nube. Reintentando…"),
    LINHA(snuvemrecusado,
          "The cloud refused this PC. If it was removed from the account, deactivate and activate "
          "it again.",
          "La nube rechazó este PC. Si se eliminó de la cuenta, desactívalo y vuelve a activarlo."),
    LINHA(snuvemremovido, "This PC was removed from your account.",
          "Este PC se eliminó de tu cuenta."),
    LINHA(snuvemdesativado, "Internet access is off on this PC.",
          "Acceso por internet desactivado en este PC."),
    LINHA(snuvemindisponivel, "Internet access is not set up in this version.",
          "El acceso por internet no está configurado en esta versión."),
    LINHA(snuvempreparando, "Preparing…", "Preparando…"),
    LINHA(snuvemaguardando, "Open the link on your phone (or in another browser) to continue.",
          "Abre el enlace en el teléfono (o en otro navegador) para continuar."),
    LINHA(snuvemconectando, "Connecting to your account…", "Conectando con tu cuenta…"),
    LINHA(snuvemconectado, "Connected to your account.", "Conectado a tu cuenta."),
    LINHA(snuvementrarpasso1, "To use it on another phone:", "Para usarlo en otro teléfono:"),
    LINHA(snuvementrarpasso2, "point the phone's camera at the code alongside and open the link.",
          "apunta la cámara del teléfono al código de al lado y abre el enlace."),
    LINHA(snuvemativarpasso1, "1. Point the phone's camera at the code alongside.",
          "1. Apunta la cámara del teléfono al código de al lado."),
    LINHA(snuvemativarpasso2, "2. Tap \"Start\" on the website and approve here on the PC.",
          "2. Toca \"Empezar\" en el sitio y aprueba aquí en el PC."),
    LINHA(snuvemoudigite,
          "Or go to the website and enter the code:", "O entra en el sitio y escribe el código:"),
    LINHA(snuvempedidoconta, "\"%s\"%s wants to create an account with this PC and control it.",
          "\"%s\"%s quiere crear una cuenta con este PC y controlarlo."),
    LINHA(snuvempedidoentrar, "\"%s\"%s wants to control this PC.",
          "\"%s\"%s quiere controlar este PC."),
    LINHA(snuvempedidopergunta, "Was it you? Only allow it if you recognize the device.",
          "¿Fuiste tú? Permítelo solo si reconoces el dispositivo."),
    LINHA(snuvempronto, "Done! This PC is in your account.", "¡Listo! Este PC está en tu cuenta."),
    LINHA(sbtnpermitir, "Allow", "Permitir"),
    LINHA(sbtnrecusar, "Deny", "Rechazar"),
    LINHA(smodointernet, "Over the internet", "Por internet"),
    LINHA(smodorede, "On home network", "En la red de casa"),

    // Shortcut editor.
    LINHA(satalhostitulo, "Shortcuts", "Atajos"),
    LINHA(satalhosinstrucao,
          "Choose here what the phone can open on this PC. Save to update the panel.",
          "Elige aquí lo que el teléfono puede abrir en este PC. Guarda para actualizar el panel."),
    LINHA(satalhoslista, "Shortcuts on this PC", "Atajos de este PC"),
    LINHA(satalhossalvar, "Save changes", "Guardar cambios"),
    LINHA(satalhosnome, "Name", "Nombre"),
    LINHA(satalhosdestino, "File or website address", "Archivo o dirección del sitio"),
    LINHA(satalhosescolherarquivo, "Choose file…", "Elegir archivo…"),
    LINHA(satalhosvisivel, "Show on phone", "Mostrar en el teléfono"),
    LINHA(satalhosaplicar, "Apply to item", "Aplicar al elemento"),
    LINHA(satalhostestar, "Test opening", "Probar apertura"),
    LINHA(satalhosnavegador, "Browser for opening websites", "Navegador para abrir sitios"),
    LINHA(satalhospadrao, "Windows default", "Predeterminado de Windows"),
    LINHA(satalhosescolhernavegador, "Choose browser…", "Elegir navegador…"),
    LINHA(satalhosnovoprograma, "Add program…", "Añadir programa…"),
    LINHA(satalhosnovosite, "Add website…", "Añadir sitio…"),
    LINHA(satalhossubir, "Move up", "Subir"),
    LINHA(satalhosdescer, "Move down", "Bajar"),
    LINHA(satalhosbrowser, "Browser", "Navegador"),
    LINHA(satalhoscomum, "Common", "Común"),
    LINHA(satalhosoculto, "Hidden", "Oculto"),
    LINHA(satalhosprograma, "Program", "Programa"),
    LINHA(satalhossite, "Website", "Sitio"),
    LINHA(
        satalhosvalidacao,
        "Use a name up to 60 characters, a local .exe or .lnk file or a valid http/https address.",
        "Usa un nombre de hasta 60 caracteres, un archivo .exe o .lnk local o una dirección "
        "http/https válida."),
    LINHA(satalhoslimite, "You can add up to 50 custom shortcuts.",
          "Puedes añadir hasta 50 atajos personalizados."),
    LINHA(satalhosfiltro, "Programs and shortcuts|*.exe;*.lnk", "Programas y atajos|*.exe;*.lnk"),
    LINHA(satalhosfiltrobrowser, "Browser|*.exe", "Navegador|*.exe"),
    LINHA(satalhosconfirmarremover, "Remove this shortcut? The program stays installed.",
          "¿Eliminar este atajo? El programa sigue instalado."),
    LINHA(satalhoserroabrir,
          "Could not open. Check that the file and the browser exist and can be opened on this "
          "Windows.",
          "No se pudo abrir. Comprueba que el archivo y el navegador existen y se pueden abrir en "
          "este Windows."),
    LINHA(satalhospedidoenviado, "Opening requested. In simulation mode, no program is opened.",
          "Apertura solicitada. En el modo simulación no se abre ningún programa."),
    LINHA(satalhoserrosalvar,
          "Could not save. The changes were not published to the phone. Check the data folder and "
          "try again.",
          "No se pudo guardar. Los cambios no se publicaron en el teléfono. Comprueba la carpeta "
          "de datos e inténtalo de nuevo."),
    LINHA(satalhosdescartar, "Leave without saving and discard the changes?",
          "¿Salir sin guardar y descartar los cambios?"),
    LINHA(satalhossalvo, "Changes saved. The phone now gets the new list.",
          "Cambios guardados. El teléfono ya recibe la lista nueva."),

    // Countdown window.
    LINHA(scontagemtitulo, "Velorin", "Velorin"),
    LINHA(scontagemdesligar, "The PC will shut down in", "El PC se apagará en"),
    LINHA(scontagemreiniciar, "The PC will restart in", "El PC se reiniciará en"),
    LINHA(scontagemsuspender, "The PC will sleep in", "El PC se suspenderá en"),
    LINHA(scontagempedidopor, "Requested by %s", "Solicitado por %s"),
    LINHA(scontagemforcar, "Open programs will be forced to close.",
          "Los programas abiertos se cerrarán a la fuerza."),
    LINHA(scontagemsimulacao, "SIMULATION: the PC will not really shut down.",
          "SIMULACIÓN: el PC no se apagará de verdad."),
    LINHA(sbtncancelar, "Cancel", "Cancelar"),
    LINHA(sbtnmais15, "+15 min", "+15 min"),

    // Tray menu, tooltip, confirmations and balloons.
    LINHA(smenutitulo, "%s %s — %s", "%s %s — %s"),
    LINHA(smenutituloerro, "%s %s — server stopped", "%s %s — servidor detenido"),
    LINHA(smenusimulacao, "SIMULATION MODE (nothing is executed)",
          "MODO SIMULACIÓN (no se ejecuta nada)"),
    LINHA(smenupausadoaviso, "Remote control paused", "Control remoto en pausa"),
    LINHA(smenuparear, "Pair phone…", "Vincular teléfono…"),
    LINHA(smenudispositivos, "Paired devices", "Dispositivos vinculados"),
    LINHA(smenunenhumdispositivo, "(none)", "(ninguno)"),
    LINHA(smenuremover, "Remove", "Eliminar"),
    LINHA(smenuultimouso, "Last used: %s", "Último uso: %s"),
    LINHA(smenununcausado, "Not used yet", "Aún no usado"),
    LINHA(smenucancelaragendamento, "Cancel: %s at %s", "Cancelar: %s a las %s"),
    LINHA(smenupausar, "Pause remote control", "Pausar control remoto"),
    LINHA(smenuentradainternet, "Allow mouse and keyboard over the internet",
          "Permitir ratón y teclado por internet"),
    LINHA(sconfirmarentradainternet,
          "Anyone with access to your Velorin account will be able to move the mouse and type on "
          "this PC over the internet. Turn it on only if you need to use it away from home.",
          "Quien tenga acceso a tu cuenta de Velorin podrá mover el ratón y escribir en este PC "
          "por internet. Actívalo solo si necesitas usarlo fuera de casa."),
    LINHA(smenuiniciarwindows, "Start with Windows", "Iniciar con Windows"),
    LINHA(smenuabrirpainel, "Open panel in browser", "Abrir panel en el navegador"),
    LINHA(smenuabrirpasta, "Open data folder", "Abrir carpeta de datos"),
    LINHA(serroabrirpastadados, "Could not open the data folder:\r\n%s",
          "No se pudo abrir la carpeta de datos:\r\n%s"),
    LINHA(smenusair, "Quit", "Salir"),
    LINHA(smenuatualizacaodisponivel, "Update available", "Actualización disponible"),
    LINHA(sbalaoatualizacaotitulo, "Velorin update", "Actualización de Velorin"),
    LINHA(sbalaoatualizacaodisponivel,
          "Version %s is available. Click to update. The app will restart.",
          "La versión %s está disponible. Haz clic para actualizar. La aplicación se reiniciará."),
    LINHA(sbalaoatualizacaoerro,
          "Could not update. The installed version was kept. See the data folder for details.",
          "No se pudo actualizar. Se mantuvo la versión instalada. Consulta la carpeta de datos "
          "para ver los detalles."),
    LINHA(serroatualizando, "The app is being updated. Try again in a few seconds.",
          "La aplicación se está actualizando. Inténtalo de nuevo en unos segundos."),
    LINHA(sdicabandeja, "Velorin — %s", "Velorin — %s"),
    LINHA(sdicaentradainternet, "Velorin — internet control active (%s)",
          "Velorin — control por internet activo (%s)"),
    LINHA(sdicapausado, "Velorin — paused", "Velorin — en pausa"),
    LINHA(sdicasimulacao, "Velorin — SIMULATION", "Velorin — SIMULACIÓN"),
    LINHA(sdicaerro, "Velorin — server stopped", "Velorin — servidor detenido"),
    LINHA(
        sconfirmarremover,
        "Remove \"%s\"?\r\n\r\nThis phone will lose access to the PC and will need to pair again.",
        "¿Eliminar \"%s\"?\r\n\r\nEste teléfono dejará de controlar el PC y tendrá que vincularse "
        "de nuevo."),
    LINHA(sacaodesligar, "Shut down", "Apagar"),
    LINHA(sacaoreiniciar, "Restart", "Reiniciar"),
    LINHA(sacaosuspender, "Sleep", "Suspender"),
    LINHA(sbalaopareadotitulo, "Phone paired", "Teléfono vinculado"),
    LINHA(sbalaopareadotexto, "%s now controls this PC.", "%s ahora controla este PC."),
    LINHA(sbalaoagendadotitulo, "Scheduled from the phone", "Programado desde el teléfono"),
    LINHA(sbalaoagendadotexto, "%s at %s (requested by %s).", "%s a las %s (solicitado por %s)."),
    LINHA(sbalaocanceladotitulo, "Schedule cancelled", "Programación cancelada"),
    LINHA(sbalaocanceladotexto, "%s at %s will no longer happen.",
          "%s a las %s ya no se realizará."),
    LINHA(sbalaosuspensaotitulo, "Schedule cancelled", "Programación cancelada"),
    LINHA(sbalaosuspensaotexto, "The PC was asleep and the time passed; nothing was done.",
          "El PC estuvo suspendido y pasó la hora; no se ejecutó nada."),
    LINHA(sbalaopareamentofechadotitulo, "Pairing closed", "Vinculación cerrada"),
    LINHA(sbalaopareamentofechadotexto,
          "Too many incorrect codes. If that was you, open \"Pair phone\" again.",
          "Demasiados códigos incorrectos. Si fuiste tú, abre \"Vincular teléfono\" de nuevo."),
    LINHA(sbalaoerroservidortitulo, "Could not start", "No se pudo iniciar"),
    LINHA(sbalaoerroservidortexto, "Port %d is in use by another program.",
          "Otro programa está usando el puerto %d."),
    LINHA(sbalaoremovidotitulo, "Device removed", "Dispositivo eliminado"),
    LINHA(sbalaoremovidotexto, "%s no longer controls this PC.", "%s ya no controla este PC."),
    LINHA(smenunuvemconectado, "Internet: connected", "Internet: conectado"),
    LINHA(smenunuvemsemconexao, "Internet: not connected (trying again)",
          "Internet: sin conexión (reintentando)"),
    LINHA(smenunuvemnaoativado, "Internet: not activated", "Internet: no activado"),
    LINHA(smenunuvemativar, "Activate internet access…", "Activar acceso por internet…"),
    LINHA(smenunuvemdesativar, "Deactivate internet access…", "Desactivar acceso por internet…"),
    LINHA(sconfirmardesativarnuvem,
          "Deactivate internet access?\r\n\r\nThis PC leaves your account and can no longer be "
          "controlled from away from home. The home network keeps working.",
          "¿Desactivar el acceso por internet?\r\n\r\nEste PC sale de tu cuenta y ya no se podrá "
          "controlar desde fuera de casa. La red de casa sigue funcionando."),
    LINHA(sbalaonuvemtitulo, "Velorin", "Velorin"),
    LINHA(sbalaoentradainternet,
          "%s is using this PC's mouse and keyboard over the internet. To stop it, uncheck Allow "
          "mouse and keyboard over the internet in the icon menu.",
          "%s está usando el ratón y el teclado de este PC por internet. Para impedirlo, desmarca "
          "Permitir ratón y teclado por internet en el menú del icono."),
};

#undef LINHA

constexpr std::string_view CODIGOS[QUANTIDADE_IDIOMAS] = {"auto", "pt", "en", "es"};

// Indexes into CODIGOS of the three effective languages.
constexpr int PT = 1;
constexpr int EN = 2;
constexpr int ES = 3;

constexpr TTextosDialogo DIALOGO_PT = {.sim = "&Sim",
                                       .nao = "&Não",
                                       .cancelar = "Cancelar",
                                       .aviso = "Aviso",
                                       .erro = "Erro",
                                       .informacao = "Informação",
                                       .confirmacao = "Confirmação"};
constexpr TTextosDialogo DIALOGO_ES = {.sim = "&Sí",
                                       .nao = "&No",
                                       .cancelar = "Cancelar",
                                       .aviso = "Aviso",
                                       .erro = "Error",
                                       .informacao = "Información",
                                       .confirmacao = "Confirmación"};
constexpr TTextosDialogo DIALOGO_EN = {.sim = "&Yes",
                                       .nao = "&No",
                                       .cancelar = "Cancel",
                                       .aviso = "Warning",
                                       .erro = "Error",
                                       .informacao = "Information",
                                       .confirmacao = "Confirmation"};

// The preference (index into CODIGOS, low two bits) and the effective language (next two bits)
// in one atomic, so a reader on another thread never sees one without the other. The sentinel
// defers the first look at the session's language to the first use instead of running it
// during static initialisation.
constexpr std::uint8_t NAO_INICIADO = 0xFF;
std::atomic<std::uint8_t> estado{NAO_INICIADO};

std::uint8_t Empacotar(int preferido, int efetivo) {
    return static_cast<std::uint8_t>(preferido | (efetivo << 2));
}

std::uint8_t LerEstado() {
    std::uint8_t atual = estado.load(std::memory_order_acquire);
    if (atual != NAO_INICIADO) return atual;
    // The process starts on "auto", so texts shown before config.ini is read follow the session.
    const std::uint8_t inicial =
        Empacotar(0, IndiceIdioma(ResolverIdioma("auto", IdiomaInterfaceUsuario())));
    // A SelecionarIdioma that got in first wins; either way `atual` ends up current.
    if (estado.compare_exchange_strong(atual, inicial, std::memory_order_acq_rel)) return inicial;
    return atual;
}

int PreferidoAtual() {
    return LerEstado() & 3;
}
int EfetivoAtual() {
    return (LerEstado() >> 2) & 3;
}

}  // namespace

std::span<const TLinhaTexto> TabelaTextos() {
    return TABELA;
}

std::string_view CodigoIdioma(int indice) {
    if (indice < 0 || indice >= QUANTIDADE_IDIOMAS) return {};
    return CODIGOS[indice];
}

int IndiceIdioma(std::string_view codigo) {
    for (int i = 0; i < QUANTIDADE_IDIOMAS; ++i) {
        if (CODIGOS[i] == codigo) return i;
    }
    return 0;
}

const char* NomeIdioma(int indice) {
    switch (indice) {
        case 0:
            return Traduzir(sidiomaautomatico);
        case PT:
            return "Português";
        case EN:
            return "English";
        case ES:
            return "Español";
        default:
            return "";
    }
}

std::string_view ResolverIdioma(std::string_view preferencia, std::uint16_t idiomaWindows) {
    if (preferencia == CODIGOS[PT] || preferencia == CODIGOS[EN] || preferencia == CODIGOS[ES]) {
        return CODIGOS[IndiceIdioma(preferencia)];
    }
    // Sub-languages (Brazil and Portugal, Spain and Latin America) share the primary number.
    switch (idiomaWindows & 0x3FF) {
        case IDIOMA_WINDOWS_PORTUGUES:
            return CODIGOS[PT];
        case IDIOMA_WINDOWS_ESPANHOL:
            return CODIGOS[ES];
        default:
            return CODIGOS[EN];
    }
}

void SelecionarIdioma(std::string_view preferencia) {
    const int preferido = IndiceIdioma(preferencia);
    const int efetivo = IndiceIdioma(ResolverIdioma(CODIGOS[preferido], IdiomaInterfaceUsuario()));
    estado.store(Empacotar(preferido, efetivo), std::memory_order_release);
}

std::string_view IdiomaPreferido() {
    return CODIGOS[PreferidoAtual()];
}

std::string_view IdiomaEfetivo() {
    return CODIGOS[EfetivoAtual()];
}

const char* Traduzir(const char* texto) {
    if (texto == nullptr) return nullptr;
    const int efetivo = EfetivoAtual();
    if (efetivo == PT) return texto;
    for (const TLinhaTexto& linha : TABELA) {
        if (std::strcmp(linha.pt, texto) == 0) return efetivo == EN ? linha.en : linha.es;
    }
    return texto;
}

std::string Traduzir(std::string_view texto) {
    const int efetivo = EfetivoAtual();
    if (efetivo == PT) return std::string(texto);
    for (const TLinhaTexto& linha : TABELA) {
        if (texto == linha.pt) return efetivo == EN ? linha.en : linha.es;
    }
    return std::string(texto);
}

const TTextosDialogo& TextosDialogo(std::string_view idioma) {
    if (idioma == CODIGOS[PT]) return DIALOGO_PT;
    if (idioma == CODIGOS[ES]) return DIALOGO_ES;
    return DIALOGO_EN;
}

const TTextosDialogo& TextosDialogoAtuais() {
    return TextosDialogo(IdiomaEfetivo());
}

}  // namespace velorin
