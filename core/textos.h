// The interface texts in Portuguese, English and Spanish, and the choice of interface language.
//
// Every text the desktop interface shows is written here once, in Portuguese, as a named
// constant. The Portuguese text doubles as the lookup key: a caller passes the constant through
// Traduzir and only then formats its data (names, times, addresses) into the result, so data is
// never translated and a name containing "%s" stays exactly as typed. Placeholders occur in the
// same number and order in all three languages, so the same arguments fit any of them.
//
// The module is toolkit-free: the tray, the windows, the HTTP server and the API can all use
// it. The state (preferred and effective language) is changed on the interface thread only;
// every read is safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velorin {

// ---------------------------------------------------------------------------------------------
// Translated texts. Each of these has a row in TabelaTextos().

// Pairing and settings window.
inline constexpr const char* sparearconecte = "Conecte seu celular";
inline constexpr const char* sparearmanual = "Conectar manualmente";
inline constexpr const char* sparearconfiguracoes = "Configurações";
inline constexpr const char* sparearvoltar = "Voltar";
inline constexpr const char* scontroleremoto = "Controle remoto";
inline constexpr const char* scontroleligado = "Ligado";
inline constexpr const char* scontrolepausado = "Pausado";
inline constexpr const char* spassowifititulo = "1. Use o mesmo Wi-Fi deste PC";
inline constexpr const char* spassowifitexto = "A rede precisa ser a mesma nos dois dispositivos.";
inline constexpr const char* spassocameratitulo = "2. Aponte a câmera para o código ao lado";
inline constexpr const char* spassocameratexto = "O link abre direto no navegador do celular.";
inline constexpr const char* sparearcopiar = "Copiar endereço";
inline constexpr const char* sparearaguardando = "Aguardando conexão…";
inline constexpr const char* sgerenciaratalhos = "Gerenciar atalhos…";
inline constexpr const char* sidioma = "Idioma";
inline constexpr const char* sidiomaautomatico = "Automático (Windows)";
inline constexpr const char* spareartitulo = "Parear celular";
inline constexpr const char* sparearsubtitulo =
    "Depois é só usar o celular como controle remoto deste PC.";
inline constexpr const char* sparearpasso1 = "Escaneie para conectar";
inline constexpr const char* sparearpasso2 =
    "No mesmo Wi-Fi deste PC, abra a câmera do celular, aponte para o QR code e toque no link.";
inline constexpr const char* sparearouacesse = "Ou abra no navegador do celular:";
inline constexpr const char* spareardigitecodigo = "e digite o código:";
inline constexpr const char* sparearendereco = "Endereço deste PC:";
inline constexpr const char* sparearexpiraem = "O código expira em %s.";
inline constexpr const char* sparearnovocodigo = "Gerar novo código";
inline constexpr const char* spareariniciarwindows = "Iniciar junto com o Windows";
inline constexpr const char* spareariniciarbloqueado =
    "Iniciar junto com o Windows (indisponível no modo de teste)";
inline constexpr const char* sparearfirewall =
    "Se o Windows perguntar sobre o firewall, permita o acesso em redes privadas.";
inline constexpr const char* sparearsucesso = "Pareado com %s!";
inline constexpr const char* sparearfechado = "Muitas tentativas. Reabra esta janela.";
inline constexpr const char* sparearerroservidor = "O servidor não está rodando: %s";
inline constexpr const char* spareartailscale = "%s (Tailscale)";
inline constexpr const char* sbtnfechar = "Fechar";
inline constexpr const char* snuvemsemconexao = "Sem conexão com a nuvem. Tentando de novo…";
inline constexpr const char* snuvemrecusado =
    "A nuvem recusou este PC. Se ele foi removido da conta, desative e ative de novo.";
inline constexpr const char* snuvemremovido = "Este PC foi removido da sua conta.";
inline constexpr const char* snuvemdesativado = "Acesso pela internet desativado neste PC.";
inline constexpr const char* snuvemindisponivel =
    "O acesso pela internet não está configurado nesta versão.";
inline constexpr const char* snuvempreparando = "Preparando…";
inline constexpr const char* snuvemaguardando =
    "Abra o link no celular (ou em outro navegador) para continuar.";
inline constexpr const char* snuvemconectando = "Conectando à sua conta…";
inline constexpr const char* snuvemconectado = "Conectado à sua conta.";
inline constexpr const char* snuvementrarpasso1 = "Para usar em mais um celular:";
inline constexpr const char* snuvementrarpasso2 =
    "aponte a câmera do celular para o código ao lado e abra o link.";
inline constexpr const char* snuvemativarpasso1 =
    "1. Aponte a câmera do celular para o código ao lado.";
inline constexpr const char* snuvemativarpasso2 =
    "2. Toque em \"Começar\" no site e aprove aqui no PC.";
inline constexpr const char* snuvemoudigite = "Ou entre no site e digite o código:";
inline constexpr const char* snuvempedidoconta =
    "\"%s\"%s quer criar uma conta com este PC e controlá-lo.";
inline constexpr const char* snuvempedidoentrar = "\"%s\"%s quer controlar este PC.";
inline constexpr const char* snuvempedidopergunta =
    "Foi você? Só permita se reconhecer o aparelho.";
inline constexpr const char* snuvempronto = "Pronto! Este PC está na sua conta.";
inline constexpr const char* sbtnpermitir = "Permitir";
inline constexpr const char* sbtnrecusar = "Recusar";
inline constexpr const char* smodointernet = "Pela internet";
inline constexpr const char* smodorede = "Na rede de casa";

// Shortcut editor.
inline constexpr const char* satalhostitulo = "Atalhos";
inline constexpr const char* satalhosinstrucao =
    "Escolha aqui o que o celular pode abrir neste PC. Salve para atualizar o painel.";
inline constexpr const char* satalhoslista = "Atalhos deste PC";
inline constexpr const char* satalhossalvar = "Salvar alterações";
inline constexpr const char* satalhosnome = "Nome";
inline constexpr const char* satalhosdestino = "Arquivo ou endereço do site";
inline constexpr const char* satalhosescolherarquivo = "Escolher arquivo…";
inline constexpr const char* satalhosvisivel = "Mostrar no celular";
inline constexpr const char* satalhosaplicar = "Aplicar ao item";
inline constexpr const char* satalhostestar = "Testar abertura";
inline constexpr const char* satalhosnavegador = "Navegador para abrir sites";
inline constexpr const char* satalhospadrao = "Padrão do Windows";
inline constexpr const char* satalhosescolhernavegador = "Escolher navegador…";
inline constexpr const char* satalhosnovoprograma = "Adicionar programa…";
inline constexpr const char* satalhosnovosite = "Adicionar site…";
inline constexpr const char* satalhossubir = "Mover para cima";
inline constexpr const char* satalhosdescer = "Mover para baixo";
inline constexpr const char* satalhosbrowser = "Navegador";
inline constexpr const char* satalhoscomum = "Comum";
inline constexpr const char* satalhosoculto = "Oculto";
inline constexpr const char* satalhosprograma = "Programa";
inline constexpr const char* satalhossite = "Site";
inline constexpr const char* satalhosvalidacao =
    "Use um nome de até 60 caracteres, um arquivo .exe ou .lnk local ou um endereço http/https "
    "válido.";
inline constexpr const char* satalhoslimite = "Você pode cadastrar até 50 atalhos personalizados.";
inline constexpr const char* satalhosfiltro = "Programas e atalhos|*.exe;*.lnk";
inline constexpr const char* satalhosfiltrobrowser = "Navegador|*.exe";
inline constexpr const char* satalhosconfirmarremover =
    "Remover este atalho? O programa continua instalado.";
inline constexpr const char* satalhoserroabrir =
    "Não foi possível abrir. Confira se o arquivo e o navegador existem e podem ser abertos neste "
    "Windows.";
inline constexpr const char* satalhospedidoenviado =
    "Abertura solicitada. No modo simulação, nenhum programa é aberto.";
inline constexpr const char* satalhoserrosalvar =
    "Não foi possível salvar. As alterações não foram publicadas no celular. Confira a pasta de "
    "dados e tente novamente.";
inline constexpr const char* satalhosdescartar = "Sair sem salvar e descartar as alterações?";
inline constexpr const char* satalhossalvo = "Alterações salvas. O celular já recebe a lista nova.";

// Countdown window.
inline constexpr const char* scontagemtitulo = "Velorin";
inline constexpr const char* scontagemdesligar = "O PC será desligado em";
inline constexpr const char* scontagemreiniciar = "O PC será reiniciado em";
inline constexpr const char* scontagemsuspender = "O PC será suspenso em";
inline constexpr const char* scontagempedidopor = "Pedido por %s";
inline constexpr const char* scontagemforcar = "Programas abertos serão fechados à força.";
inline constexpr const char* scontagemsimulacao = "SIMULAÇÃO: o PC não vai desligar de verdade.";
inline constexpr const char* sbtncancelar = "Cancelar";
inline constexpr const char* sbtnmais15 = "+15 min";

// Tray menu, tooltip, confirmations and balloons.
inline constexpr const char* smenutitulo = "%s %s — %s";
inline constexpr const char* smenutituloerro = "%s %s — servidor parado";
inline constexpr const char* smenusimulacao = "MODO SIMULAÇÃO (nada é executado)";
inline constexpr const char* smenupausadoaviso = "Controle remoto pausado";
inline constexpr const char* smenuparear = "Parear celular…";
inline constexpr const char* smenudispositivos = "Dispositivos pareados";
inline constexpr const char* smenunenhumdispositivo = "(nenhum)";
inline constexpr const char* smenuremover = "Remover";
inline constexpr const char* smenuultimouso = "Último uso: %s";
inline constexpr const char* smenununcausado = "Ainda não usado";
inline constexpr const char* smenucancelaragendamento = "Cancelar: %s às %s";
inline constexpr const char* smenupausar = "Pausar controle remoto";
inline constexpr const char* smenuentradainternet = "Permitir mouse e teclado pela internet";
inline constexpr const char* sconfirmarentradainternet =
    "Quem tiver acesso à sua conta do Velorin poderá mover o mouse e digitar neste PC pela "
    "internet. Ligue só se precisar usar fora de casa.";
inline constexpr const char* smenuiniciarwindows = "Iniciar com o Windows";
inline constexpr const char* smenuabrirpainel = "Abrir painel no navegador";
inline constexpr const char* smenuabrirpasta = "Abrir pasta de dados";
inline constexpr const char* serroabrirpastadados =
    "Não foi possível abrir a pasta de dados:\r\n%s";
inline constexpr const char* smenusair = "Sair";
inline constexpr const char* smenuatualizacaodisponivel = "Atualização disponível";
inline constexpr const char* sbalaoatualizacaotitulo = "Atualização do Velorin";
inline constexpr const char* sbalaoatualizacaodisponivel =
    "A versão %s está disponível. Clique para atualizar. O app será reiniciado.";
inline constexpr const char* sbalaoatualizacaoerro =
    "Não foi possível atualizar. A versão instalada foi mantida. Veja a pasta de dados para "
    "detalhes.";
inline constexpr const char* serroatualizando =
    "O app está sendo atualizado. Tente novamente em alguns segundos.";
inline constexpr const char* sdicabandeja = "Velorin — %s";
inline constexpr const char* sdicaentradainternet = "Velorin — controle pela internet ativo (%s)";
inline constexpr const char* sdicapausado = "Velorin — pausado";
inline constexpr const char* sdicasimulacao = "Velorin — SIMULAÇÃO";
inline constexpr const char* sdicaerro = "Velorin — servidor parado";
inline constexpr const char* sconfirmarremover =
    "Remover \"%s\"?\r\n\r\nEsse celular deixa de controlar o PC e vai precisar parear de novo.";
inline constexpr const char* sacaodesligar = "Desligar";
inline constexpr const char* sacaoreiniciar = "Reiniciar";
inline constexpr const char* sacaosuspender = "Suspender";
inline constexpr const char* sbalaopareadotitulo = "Celular pareado";
inline constexpr const char* sbalaopareadotexto = "%s agora controla este PC.";
inline constexpr const char* sbalaoagendadotitulo = "Agendado pelo celular";
inline constexpr const char* sbalaoagendadotexto = "%s às %s (pedido por %s).";
inline constexpr const char* sbalaocanceladotitulo = "Agendamento cancelado";
inline constexpr const char* sbalaocanceladotexto = "%s às %s não vai mais acontecer.";
inline constexpr const char* sbalaosuspensaotitulo = "Agendamento cancelado";
inline constexpr const char* sbalaosuspensaotexto =
    "O PC ficou suspenso e o horário passou; nada foi executado.";
inline constexpr const char* sbalaopareamentofechadotitulo = "Pareamento encerrado";
inline constexpr const char* sbalaopareamentofechadotexto =
    "Muitos códigos errados. Se foi você, abra \"Parear celular\" de novo.";
inline constexpr const char* sbalaoerroservidortitulo = "Não foi possível iniciar";
inline constexpr const char* sbalaoerroservidortexto = "A porta %d está em uso por outro programa.";
inline constexpr const char* sbalaoremovidotitulo = "Dispositivo removido";
inline constexpr const char* sbalaoremovidotexto = "%s não controla mais este PC.";
inline constexpr const char* smenunuvemconectado = "Internet: conectado";
inline constexpr const char* smenunuvemsemconexao = "Internet: sem conexão (tentando de novo)";
inline constexpr const char* smenunuvemnaoativado = "Internet: não ativado";
inline constexpr const char* smenunuvemativar = "Ativar acesso pela internet…";
inline constexpr const char* smenunuvemdesativar = "Desativar acesso pela internet…";
inline constexpr const char* sconfirmardesativarnuvem =
    "Desativar o acesso pela internet?\r\n\r\nEste PC sai da sua conta e deixa de ser controlado "
    "de fora de casa. A rede de casa continua funcionando.";
inline constexpr const char* sbalaonuvemtitulo = "Velorin";
inline constexpr const char* sbalaoentradainternet =
    "%s está usando o mouse e o teclado deste PC pela internet. Para impedir, desmarque Permitir "
    "mouse e teclado pela internet no menu do ícone.";

// ---------------------------------------------------------------------------------------------
// Messages of the local API. They go out in Portuguese whatever the interface language (the
// phone shows them as they come), so they have no row in the table and are never passed through
// Traduzir. serroatualizando, above, is the one API message that also appears in the interface;
// the API still sends its Portuguese text.
inline constexpr const char* serrorequisicaoinvalida = "Requisição inválida.";
inline constexpr const char* serronaoautorizado = "Este celular não está pareado com o PC.";
inline constexpr const char* serrocodigoinvalido = "Código incorreto ou expirado.";
inline constexpr const char* serroorigeminvalida = "Origem não permitida.";
inline constexpr const char* serronaoencontrado = "Não encontrado.";
inline constexpr const char* serrometodo = "Método não permitido.";
inline constexpr const char* serrosemaudio = "Nenhum dispositivo de áudio encontrado.";
inline constexpr const char* serroindisponivel = "Este PC não suporta essa ação.";
inline constexpr const char* serroentradaindisponivel =
    "Mouse e teclado indisponíveis. Desbloqueie o PC e feche avisos de administrador.";
inline constexpr const char* serroentradainternetdesligada =
    "Mouse e teclado pela internet estão desligados neste PC. Para ligar, use o menu do ícone "
    "perto do relógio.";
inline constexpr const char* serropareamentofechado =
    "Abra \"Parear celular\" no PC para gerar um código.";
inline constexpr const char* serrocorpogrande = "Requisição grande demais.";
inline constexpr const char* serrotipoinvalido = "Envie JSON (Content-Type: application/json).";
inline constexpr const char* serrohostinvalido = "Endereço não reconhecido por este PC.";
inline constexpr const char* serrolimite = "Muitas tentativas. Aguarde alguns minutos.";
inline constexpr const char* serrocabecalhogrande = "Cabeçalhos grandes demais.";
inline constexpr const char* serrointerno = "Erro inesperado no PC.";
inline constexpr const char* serronaosuportado = "Não suportado.";
inline constexpr const char* serropausado = "O controle remoto está pausado no PC.";
inline constexpr const char* serropainelausente = "O painel não foi incluído neste build.";

// ---------------------------------------------------------------------------------------------
// The translation table.

// One row: the constant's name (for diagnostics), its Portuguese text and the two
// translations. All texts are UTF-8; a line break inside a text is CR LF.
struct TLinhaTexto {
    const char* chave;
    const char* pt;
    const char* en;
    const char* es;
};

// Every row, in lookup order (the first row whose Portuguese text matches wins).
std::span<const TLinhaTexto> TabelaTextos();

// ---------------------------------------------------------------------------------------------
// Languages.

// Number of language choices: "auto", "pt", "en", "es", in that order. The index is what the
// tray submenu and the settings combo box use.
inline constexpr int QUANTIDADE_IDIOMAS = 4;

// Code of a choice; "" outside 0 to 3.
std::string_view CodigoIdioma(int indice);
// Index of a code ("auto" 0 ... "es" 3); anything unrecognised counts as "auto", 0.
int IndiceIdioma(std::string_view codigo);
// What a choice is called in menus: the translated "Automático (Windows)" for 0, and each
// language by its own name for 1 to 3 ("Português", "English", "Español"); "" outside 0 to 3.
const char* NomeIdioma(int indice);

// Primary language numbers of Windows language identifiers (the identifier's low 10 bits).
inline constexpr std::uint16_t IDIOMA_WINDOWS_NEUTRO = 0x00;
inline constexpr std::uint16_t IDIOMA_WINDOWS_INGLES = 0x09;
inline constexpr std::uint16_t IDIOMA_WINDOWS_ESPANHOL = 0x0A;
inline constexpr std::uint16_t IDIOMA_WINDOWS_PORTUGUES = 0x16;

// The effective language ("pt", "en" or "es") for a preference and the user's Windows interface
// language identifier: an explicit "pt", "en" or "es" wins; otherwise Portuguese and Spanish
// Windows give "pt" and "es", and every other language gives "en" (not the built-in
// Portuguese).
std::string_view ResolverIdioma(std::string_view preferencia, std::uint16_t idiomaWindows);

// Sets the preference (anything but "pt", "en" or "es" is kept as "auto") and the effective
// language, reading the session's language anew. Interface thread only. Touches no window:
// the caller re-applies the texts of whatever is open and looks up TextosDialogoAtuais() for
// the message boxes it shows from then on.
void SelecionarIdioma(std::string_view preferencia);

// "auto", "pt", "en" or "es"; "auto" until SelecionarIdioma is first called.
std::string_view IdiomaPreferido();
// "pt", "en" or "es".
std::string_view IdiomaEfetivo();

// The text in the effective language: the translation of the first row whose Portuguese text
// equals `texto` exactly, or `texto` itself when the language is Portuguese or no row matches.
// The pointer overload hands back either a table text or `texto`, so it lives as long as the
// argument does; a null pointer comes back null.
const char* Traduzir(const char* texto);
std::string Traduzir(std::string_view texto);

// Button texts and captions of the standard message boxes. The English set is the toolkit's
// own wording, so applying it is the same as leaving the toolkit alone.
struct TTextosDialogo {
    const char* sim;
    const char* nao;
    const char* cancelar;
    const char* aviso;
    const char* erro;
    const char* informacao;
    const char* confirmacao;
};

// The set for "pt", "es" or "en"; any other code gets the English set.
const TTextosDialogo& TextosDialogo(std::string_view idioma);
// The set for the effective language.
const TTextosDialogo& TextosDialogoAtuais();

// ---------------------------------------------------------------------------------------------
// The session's interface language, as a Windows primary language number (the OS part).

// The user's interface language. On Linux: the first non-empty of LC_ALL, LC_MESSAGES and LANG,
// through IdiomaWindowsDoLocale.
std::uint16_t IdiomaInterfaceUsuario();

#if !defined(_WIN32)
// A POSIX locale name ("pt_BR.UTF-8", "es_ES@euro", "en_US") as a Windows primary language
// number: the language part (before "_", "-", "." or "@"), compared without regard to case. "C",
// "POSIX" and an empty name give English, the language the system shows untranslated; a
// language we do not know gives IDIOMA_WINDOWS_NEUTRO (which ResolverIdioma also takes as
// English).
std::uint16_t IdiomaWindowsDoLocale(std::string_view locale);
#endif

}  // namespace velorin
