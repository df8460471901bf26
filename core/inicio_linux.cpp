#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/inicio.h"
#include "core/parametros.h"
#include "core/recursos.h"
#include "core/substituir.h"
#include "core/texto.h"

namespace velorin {

namespace {

// The entry is a small text file; anything larger is not ours.
constexpr std::size_t LIMITE_ENTRADA = 2046;

std::string PastaAutostart() {
    const std::string config = PastaConfigUsuario();
    return config.empty() ? std::string() : config + "autostart/";
}

bool LerPequeno(const std::string& caminho, std::string& conteudo) {
    TDescritor fd(::open(caminho.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    conteudo.assign(LIMITE_ENTRADA + 1, '\0');
    std::size_t total = 0;
    while (total < conteudo.size()) {
        const ssize_t n = ::read(fd.Get(), conteudo.data() + total, conteudo.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    if (total > LIMITE_ENTRADA) return false;
    conteudo.resize(total);
    return true;
}

}  // namespace

std::string CaminhoEntradaInicio() {
    const std::string pasta = PastaAutostart();
    return pasta.empty() ? std::string() : pasta + "velorin.desktop";
}

std::string CaminhoExecutavel() {
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

bool IniciaComWindows() {
    const std::string caminho = CaminhoEntradaInicio();
    std::string conteudo;
    if (caminho.empty() || !LerPequeno(caminho, conteudo)) return false;
    const std::string esperado = MinusculasAscii(LinhaExecInicio(CaminhoExecutavel()));
    std::istringstream linhas(conteudo);
    std::string linha;
    bool na_secao = false;
    bool exec_confere = false;
    while (std::getline(linhas, linha)) {
        if (!linha.empty() && linha.back() == '\r') linha.pop_back();
        if (!linha.empty() && linha[0] == '[') {
            na_secao = linha == "[Desktop Entry]";
            continue;
        }
        if (!na_secao) continue;
        if (linha.rfind("Exec=", 0) == 0) exec_confere = MinusculasAscii(linha.substr(5)) == esperado;
        // A hidden or disabled entry does not start anything.
        if (linha == "Hidden=true" || linha == "X-GNOME-Autostart-enabled=false") return false;
    }
    return exec_confere;
}

bool DefinirInicioWindows(bool ligar) {
    if (!PodeIniciarComWindows()) return false;
    const std::string caminho = CaminhoEntradaInicio();
    if (caminho.empty()) return false;
    if (!ligar) return ::unlink(caminho.c_str()) == 0 || errno == ENOENT;
    const std::string exe = CaminhoExecutavel();
    if (exe.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(PastaAutostart(), ec);
    const std::string tmp = caminho + ".tmp";
    ::unlink(tmp.c_str());
    {
        TDescritor fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        const std::string texto = TextoEntradaInicio(exe);
        if (!fd || !EscreverTudo(fd.Get(), texto.data(), texto.size()) || ::fsync(fd.Get()) != 0) {
            ::unlink(tmp.c_str());
            return false;
        }
    }
    if (!SubstituirArquivo(tmp, caminho)) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace velorin
