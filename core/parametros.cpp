#include "core/parametros.h"

#include <filesystem>
#include <string_view>

#include "core/texto.h"

namespace velorin {

TParametros Parametros;

namespace {

enum class TValor { Nenhum, Texto };

std::string ComBarraFinal(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

// Applies one recognised option; returns false for an unknown name.
bool AplicarOpcao(std::string_view nome, const std::string* valor, bool& consome) {
    TParametros& p = Parametros;
    consome = false;
    auto texto = [&]() -> std::string {
        consome = true;
        return valor ? *valor : std::string();
    };
    if (nome == "--dados") {
        p.Dados = ResolverCaminho(texto());
        p.DadosPadrao = false;
    } else if (nome == "--simular") {
        p.Simular = true;
    } else if (nome == "--porta") {
        long long n = 0;
        p.Porta = LerInteiro(texto(), n) && n >= 1 && n <= 65535 ? static_cast<std::int32_t>(n) : 0;
    } else if (nome == "--endereco") {
        p.Endereco = Aparar(texto());
    } else if (nome == "--web") {
        // An empty value would otherwise become "/", serving the whole file system.
        const std::string pasta = ResolverCaminho(texto());
        p.Web = pasta.empty() ? std::string() : ComBarraFinal(pasta);
    } else if (nome == "--terminal") {
        p.Terminal = true;
    } else if (nome == "--autoteste") {
        p.AutoTeste = true;
    } else if (nome == "--inicio-windows") {
        p.InicioWindows = true;
    } else if (nome == "--sair") {
        p.Sair = true;
    } else if (nome == "--nuvem") {
        p.Nuvem = Aparar(texto());
    } else if (nome == "--aprovar-automatico") {
        p.AprovarAutomatico = true;
    } else if (nome == "--sem-atualizacoes") {
        p.SemAtualizacoes = true;
    } else if (nome == "--atualizacoes") {
        p.Atualizacoes = Aparar(texto());
    } else if (nome == "--auxiliar-atualizacao") {
        p.AuxiliarAtualizacao = ResolverCaminho(texto());
    } else if (nome == "--verificar-atualizacao") {
        p.VerificarAtualizacao = ResolverCaminho(texto());
    } else if (nome == "--confirmar-atualizacao") {
        p.ConfirmarAtualizacao = Aparar(texto());
    } else if (nome == "--versao-confirmacao") {
        p.VersaoConfirmacao = Aparar(texto());
    } else {
        return false;
    }
    return true;
}

}  // namespace

void LerParametros(const std::vector<std::string>& argumentos) {
    Parametros = TParametros{};
    for (std::size_t i = 0; i < argumentos.size(); ++i) {
        const std::string nome = MinusculasAscii(argumentos[i]);
        const std::string* valor = i + 1 < argumentos.size() ? &argumentos[i + 1] : nullptr;
        bool consome = false;
        if (AplicarOpcao(nome, valor, consome) && consome && valor) ++i;
    }
    // Auto-approval of pairings is never allowed from the command line.
    Parametros.AprovarAutomatico = false;
    if (Parametros.Porta < 1 || Parametros.Porta > 65535) Parametros.Porta = 0;
    if (Parametros.Dados.empty()) Parametros.Dados = PastaDadosPadrao();
    Parametros.Dados = ComBarraFinal(Parametros.Dados);
    std::error_code ec;  // a folder that cannot be created shows up later as failed writes
    std::filesystem::create_directories(Parametros.Dados, ec);
}

void LerParametros(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    LerParametros(args);
}

std::string ResolverCaminho(const std::string& texto) {
    if (texto.empty()) return {};
    std::filesystem::path p(texto);
    if (!p.is_absolute()) p = std::filesystem::path(PastaExecutavel()) / p;
    std::string r = p.lexically_normal().string();
    // "a/b/" normalises to "a/b/"; keep a trailing slash only where the input had one.
    if (r.size() > 1 && r.back() == '/' && texto.back() != '/') r.pop_back();
    return r;
}

}  // namespace velorin
