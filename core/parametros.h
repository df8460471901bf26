// The command line, the data folder and a few process-wide facts (edition, computer name).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velorin {

inline constexpr const char* TITULO_APLICACAO = "Velorin";
inline constexpr const char* VERSAO_PROGRAMA = VELORIN_VERSAO;

struct TParametros {
    std::string Dados;  // data folder, always ends in "/"
    bool DadosPadrao = true;
    bool Simular = false;
    std::int32_t Porta = 0;  // 0 = no override
    std::string Endereco;
    std::string Web;  // panel folder override, ends in "/" when set
    bool AutoTeste = false;
    bool InicioWindows = false;  // started by the session's autostart entry
    bool Sair = false;
    std::string Nuvem;
    bool AprovarAutomatico = false;  // accepted on the command line, never honoured
    bool SemAtualizacoes = false;
    std::string Atualizacoes;
    std::string AuxiliarAtualizacao;
    std::string VerificarAtualizacao;
    std::string ConfirmarAtualizacao;
    std::string VersaoConfirmacao;
    bool Terminal = false;  // run without windows even when a display is available
};

// Written once by LerParametros before any thread starts; read freely afterwards.
extern TParametros Parametros;

// Parses the arguments (without the program name) into Parametros and creates the data folder.
void LerParametros(const std::vector<std::string>& argumentos);
void LerParametros(int argc, const char* const* argv);

// Folder of the running executable, ending in "/".
std::string PastaExecutavel();
// Absolute, lexically normalised path; a relative one is taken from the executable's folder,
// never from the working directory. Empty stays empty.
std::string ResolverCaminho(const std::string& texto);
// The physical path of an existing file or folder (links resolved); empty on any failure.
std::string CaminhoFisico(const std::string& caminho);

// The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config), ending in "/"; empty
// when neither is usable.
std::string PastaConfigUsuario();
// The default data folder when no "--dados" is given.
std::string PastaDadosPadrao();

// Whether this build is the internet edition.
constexpr bool EdicaoInternet() { return VELORIN_EDICAO_INTERNET != 0; }

// The host name; "PC" when the system has none.
std::string NomeComputador();

}  // namespace velorin
