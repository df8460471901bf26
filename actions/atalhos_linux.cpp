// Opening shortcuts on a Linux desktop: executables and .desktop launchers started detached in
// their own session, sites through the chosen browser or the desktop's https handler. Nothing
// goes through a shell: launcher Exec lines are split here, by the desktop-entry rules.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "actions/atalhos.h"
#include "core/log.h"
#include "core/recursos.h"
#include "core/texto.h"

extern char** environ;

namespace velorin {

namespace {

constexpr std::size_t MAXIMO_ARQUIVO_LANCADOR = 65536;
constexpr int PRAZO_INICIO_MS = 5000;

bool LerArquivoPequeno(const std::string& caminho, std::size_t maximo, std::string& texto) {
    TDescritor fd(::open(caminho.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    texto.clear();
    char bloco[8192];
    while (texto.size() <= maximo) {
        const ssize_t n = ::read(fd.Get(), bloco, sizeof bloco);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        texto.append(bloco, static_cast<std::size_t>(n));
    }
    return texto.size() <= maximo;
}

std::string PastaDe(const std::string& caminho) {
    const std::size_t barra = caminho.rfind('/');
    return barra == std::string::npos ? std::string() : caminho.substr(0, barra + 1);
}

std::string Ambiente(const char* nome, const std::string& padrao) {
    const char* v = std::getenv(nome);
    return v != nullptr && *v != '\0' ? std::string(v) : padrao;
}

std::vector<std::string> Dividir(const std::string& texto, char separador) {
    std::vector<std::string> r;
    std::size_t i = 0;
    while (i <= texto.size()) {
        std::size_t fim = texto.find(separador, i);
        if (fim == std::string::npos) fim = texto.size();
        if (fim > i) r.push_back(texto.substr(i, fim - i));
        i = fim + 1;
    }
    return r;
}

// Desktop-entry string escapes (\s \n \t \r \\). Any other backslash pair is left for the
// Exec quoting rule, which many launchers rely on when they write \" directly.
std::string DesfazerEscapes(std::string_view v) {
    std::string r;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            r += v[i];
            continue;
        }
        const char c = v[++i];
        switch (c) {
            case 's':
                r += ' ';
                break;
            case 'n':
                r += '\n';
                break;
            case 't':
                r += '\t';
                break;
            case 'r':
                r += '\r';
                break;
            case '\\':
                r += '\\';
                break;
            default:
                r += '\\';
                r += c;
                break;
        }
    }
    return r;
}

// The keys of one group of a desktop-entry style file (launchers, mimeapps.list).
std::vector<std::pair<std::string, std::string>> LerGrupo(std::string_view texto,
                                                          std::string_view grupo) {
    std::vector<std::pair<std::string, std::string>> r;
    bool dentro = false;
    std::size_t i = 0;
    while (i < texto.size()) {
        std::size_t fim = texto.find('\n', i);
        if (fim == std::string_view::npos) fim = texto.size();
        std::string linha = Aparar(texto.substr(i, fim - i));
        i = fim + 1;
        if (linha.empty() || linha[0] == '#') continue;
        if (linha[0] == '[') {
            dentro = linha == "[" + std::string(grupo) + "]";
            continue;
        }
        if (!dentro) continue;
        const std::size_t igual = linha.find('=');
        if (igual == std::string::npos) continue;
        r.emplace_back(Aparar(linha.substr(0, igual)), Aparar(linha.substr(igual + 1)));
    }
    return r;
}

std::string Valor(const std::vector<std::pair<std::string, std::string>>& chaves,
                  std::string_view nome) {
    for (const auto& [k, v] : chaves) {
        if (k == nome) return v;
    }
    return {};
}

// A program name without a slash is looked up in PATH, as exec would, but here so the result
// can be checked and so no shell is ever involved.
std::string ResolverPrograma(const std::string& nome) {
    if (nome.find('/') != std::string::npos) return nome;
    for (const auto& pasta : Dividir(Ambiente("PATH", "/usr/local/bin:/usr/bin:/bin"), ':')) {
        if (pasta.empty() || pasta[0] != '/') continue;
        const std::string c = pasta + (pasta.back() == '/' ? "" : "/") + nome;
        if (ExecutavelExiste(c)) return c;
    }
    return {};
}

// "dir" + "/" + resto without doubling the slash when the variable already ends in one.
std::string Juntar(std::string pasta, const std::string& resto) {
    while (pasta.size() > 1 && pasta.back() == '/') pasta.pop_back();
    return pasta + "/" + resto;
}

std::vector<std::string> PastasDadosAplicacoes() {
    std::vector<std::string> r;
    const std::string home = Ambiente("HOME", "");
    const std::string dados = Ambiente("XDG_DATA_HOME", home.empty() ? "" : home + "/.local/share");
    if (!dados.empty()) r.push_back(Juntar(dados, "applications/"));
    for (const auto& d : Dividir(Ambiente("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':'))
        r.push_back(Juntar(d, "applications/"));
    return r;
}

std::string ResolverIdDesktop(const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos || id.find("..") != std::string::npos)
        return {};
    for (const auto& pasta : PastasDadosAplicacoes()) {
        if (ArquivoExiste(pasta + id)) return pasta + id;
        // Launchers in sub-folders carry the folder in their id with a dash ("kde4-x.desktop").
        const std::size_t traco = id.find('-');
        if (traco != std::string::npos) {
            std::string sub = id;
            sub[traco] = '/';
            if (ArquivoExiste(pasta + sub)) return pasta + sub;
        }
    }
    return {};
}

// Starts argv detached: a first child opens a new session and forks the real one, then exits
// at once, so the program belongs to init and never needs reaping by us. A close-on-exec pipe
// tells us whether the exec itself worked. Returns 0 or an errno value.
int Lancar(const std::string& programa, const std::vector<std::string>& argumentos,
           const std::string& pasta) {
    std::vector<char*> argv;
    for (const auto& a : argumentos) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* dir = pasta.empty() ? nullptr : pasta.c_str();
    int canal[2];
    if (::pipe2(canal, O_CLOEXEC) != 0) return errno;
    TDescritor leitura(canal[0]), escrita(canal[1]);
    const pid_t filho = ::fork();
    if (filho < 0) return errno;
    if (filho == 0) {
        // Only async-signal-safe calls from here on: other threads may have held locks.
        int e = 0;
        ::setsid();
        const pid_t neto = ::fork();
        if (neto != 0) {
            if (neto < 0) {
                e = errno;
                (void)!::write(canal[1], &e, sizeof e);
            }
            ::_exit(0);
        }
        sigset_t nenhum;
        ::sigemptyset(&nenhum);
        ::sigprocmask(SIG_SETMASK, &nenhum, nullptr);
        ::signal(SIGPIPE, SIG_DFL);  // the server ignores it; the program must not inherit that
        const int nulo = ::open("/dev/null", O_RDONLY);
        if (nulo >= 0) {
            ::dup2(nulo, 0);
            if (nulo != 0) ::close(nulo);
        }
        if (canal[1] > 3) ::close_range(3, static_cast<unsigned>(canal[1] - 1), 0);
        ::close_range(static_cast<unsigned>(canal[1] + 1), ~0U, 0);
        if (dir != nullptr && ::chdir(dir) != 0) {
            e = errno;
        } else {
            ::execve(programa.c_str(), argv.data(), environ);
            e = errno;
        }
        (void)!::write(canal[1], &e, sizeof e);
        ::_exit(127);
    }
    escrita.Fechar();
    int estado = 0;
    while (::waitpid(filho, &estado, 0) < 0 && errno == EINTR) {
    }
    pollfd p{leitura.Get(), POLLIN, 0};
    int r = 0;
    do {
        r = ::poll(&p, 1, PRAZO_INICIO_MS);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return ETIMEDOUT;
    int e = 0;
    const ssize_t n = ::read(leitura.Get(), &e, sizeof e);
    if (n == 0) return 0;  // the pipe closed on exec
    return n == static_cast<ssize_t>(sizeof e) && e != 0 ? e : EIO;
}

}  // namespace

bool ArquivoExiste(const std::string& caminho) {
    struct stat st {};
    return ::stat(caminho.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ExecutavelExiste(const std::string& caminho) {
    return ArquivoExiste(caminho) && ::access(caminho.c_str(), X_OK) == 0;
}

bool DividirExec(std::string_view exec, std::vector<std::string>& argumentos) {
    argumentos.clear();
    std::size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ' || exec[i] == '\t') {
            ++i;
            continue;
        }
        std::string arg;
        if (exec[i] == '"') {
            ++i;
            bool fechado = false;
            while (i < exec.size()) {
                const char c = exec[i++];
                if (c == '"') {
                    fechado = true;
                    break;
                }
                if (c == '\\' && i < exec.size()) {
                    const char s = exec[i];
                    if (s == '"' || s == '`' || s == '$' || s == '\\') {
                        arg += s;
                        ++i;
                        continue;
                    }
                }
                arg += c;
            }
            if (!fechado) return false;
            // A quoted argument must end at a blank or the end of the line.
            if (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') return false;
        } else {
            while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') arg += exec[i++];
        }
        argumentos.push_back(std::move(arg));
    }
    return !argumentos.empty();
}

bool LerLancador(std::string_view texto, const std::string& caminho_arquivo,
                 const std::string& endereco, TLancador& lancador) {
    const auto chaves = LerGrupo(texto, "Desktop Entry");
    if (Valor(chaves, "Type") != "Application") return false;
    std::vector<std::string> brutos;
    if (!DividirExec(DesfazerEscapes(Valor(chaves, "Exec")), brutos)) return false;
    const std::string icone = DesfazerEscapes(Valor(chaves, "Icon"));
    const std::string nome = DesfazerEscapes(Valor(chaves, "Name"));
    bool usou_endereco = false;
    std::vector<std::string> args;
    for (const auto& a : brutos) {
        if (a == "%f" || a == "%F" || a == "%u" || a == "%U") {
            if (!endereco.empty() && !usou_endereco) args.push_back(endereco);
            usou_endereco = true;
            continue;
        }
        if (a == "%i") {
            if (!icone.empty()) {
                args.push_back("--icon");
                args.push_back(icone);
            }
            continue;
        }
        std::string r;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i] != '%' || i + 1 == a.size()) {
                r += a[i];
                continue;
            }
            const char c = a[++i];
            if (c == '%') {
                r += '%';
            } else if (c == 'c') {
                r += nome;
            } else if (c == 'k') {
                r += caminho_arquivo;
            } else if (c == 'f' || c == 'u') {
                if (!usou_endereco) r += endereco;
                usou_endereco = true;
            }
            // Deprecated and unknown codes expand to nothing.
        }
        if (!r.empty() || a.find('%') == std::string::npos) args.push_back(std::move(r));
    }
    if (args.empty() || args[0].empty()) return false;
    if (!endereco.empty() && !usou_endereco) args.push_back(endereco);
    lancador.argumentos = std::move(args);
    lancador.pasta = DesfazerEscapes(Valor(chaves, "Path"));
    return true;
}

std::string LancadorPadraoHttps() {
    const std::string chave = "x-scheme-handler/https";
    const std::string home = Ambiente("HOME", "");
    std::vector<std::string> pastas;
    const std::string config = Ambiente("XDG_CONFIG_HOME", home.empty() ? "" : home + "/.config");
    if (!config.empty()) pastas.push_back(Juntar(config, ""));
    for (const auto& d : Dividir(Ambiente("XDG_CONFIG_DIRS", "/etc/xdg"), ':'))
        pastas.push_back(Juntar(d, ""));
    for (const auto& d : PastasDadosAplicacoes()) pastas.push_back(d);
    std::vector<std::string> desktops;
    for (const auto& d : Dividir(Ambiente("XDG_CURRENT_DESKTOP", ""), ':'))
        desktops.push_back(MinusculasAscii(d));
    std::string texto;
    for (const auto& pasta : pastas) {
        std::vector<std::string> arquivos;
        for (const auto& d : desktops) arquivos.push_back(pasta + d + "-mimeapps.list");
        arquivos.push_back(pasta + "mimeapps.list");
        for (const auto& arquivo : arquivos) {
            if (!LerArquivoPequeno(arquivo, MAXIMO_ARQUIVO_LANCADOR, texto)) continue;
            for (const auto& id :
                 Dividir(Valor(LerGrupo(texto, "Default Applications"), chave), ';')) {
                const std::string c = ResolverIdDesktop(id);
                if (!c.empty()) return c;
            }
        }
    }
    // No explicit default: the first installed handler the desktop database knows of.
    for (const auto& pasta : PastasDadosAplicacoes()) {
        if (!LerArquivoPequeno(pasta + "mimeinfo.cache", 4 * MAXIMO_ARQUIVO_LANCADOR, texto))
            continue;
        for (const auto& id : Dividir(Valor(LerGrupo(texto, "MIME Cache"), chave), ';')) {
            const std::string c = ResolverIdDesktop(id);
            if (!c.empty()) return c;
        }
    }
    return {};
}

std::string NavegadorPadraoWindows() {
    const std::string lancador = LancadorPadraoHttps();
    std::string texto;
    if (lancador.empty() || !LerArquivoPequeno(lancador, MAXIMO_ARQUIVO_LANCADOR, texto)) return {};
    TLancador l;
    if (!LerLancador(texto, lancador, "", l)) return {};
    const std::string programa = ResolverPrograma(l.argumentos[0]);
    return ExecutavelExiste(programa) ? programa : std::string();
}

bool IniciarAbertura(const TAbertura& abertura, const std::string& id, std::string& erro) {
    erro = ERRO_ATALHO_ABERTURA_FALHOU;
    std::vector<std::string> argv;
    std::string pasta;
    const auto lancador = [&](const std::string& arquivo, const std::string& endereco) {
        std::string texto;
        TLancador l;
        if (!LerArquivoPequeno(arquivo, MAXIMO_ARQUIVO_LANCADOR, texto) ||
            !LerLancador(texto, arquivo, endereco, l))
            return false;
        argv = std::move(l.argumentos);
        pasta = l.pasta.empty() ? PastaDe(arquivo) : l.pasta;
        return true;
    };
    if (abertura.padrao_https) {
        const std::string arquivo = LancadorPadraoHttps();
        if (arquivo.empty() || !lancador(arquivo, abertura.parametro)) {
            LogFmt("Falha abrir atalho id=%s Windows=%d", TextoParaLog(id, 24).c_str(), ENOENT);
            erro =
                abertura.parametro.empty() ? ERRO_NAVEGADOR_AUSENTE : ERRO_ATALHO_ABERTURA_FALHOU;
            return false;
        }
    } else if (abertura.parametro.empty() &&
               MinusculasAscii(abertura.arquivo).ends_with(".desktop")) {
        if (!lancador(abertura.arquivo, "")) {
            erro = ArquivoExiste(abertura.arquivo) ? ERRO_ATALHO_INVALIDO : ERRO_ATALHO_AUSENTE;
            return false;
        }
    } else {
        if (!ExecutavelExiste(abertura.arquivo)) {
            // Present but not runnable (a document, a folder) is a bad destination, not a
            // missing one.
            erro = ArquivoExiste(abertura.arquivo) ? ERRO_ATALHO_INVALIDO : ERRO_ATALHO_AUSENTE;
            return false;
        }
        argv.push_back(abertura.arquivo);
        if (!abertura.parametro.empty()) argv.push_back(abertura.parametro);
        pasta = PastaDe(abertura.arquivo);
    }
    const std::string programa = ResolverPrograma(argv[0]);
    const int e = programa.empty() ? ENOENT : Lancar(programa, argv, pasta);
    if (e == 0) {
        erro.clear();
        return true;
    }
    erro = (e == ENOENT || e == ENOTDIR) ? ERRO_ATALHO_AUSENTE : ERRO_ATALHO_ABERTURA_FALHOU;
    LogFmt("Falha abrir atalho id=%s Windows=%d", TextoParaLog(id, 24).c_str(), e);
    return false;
}

}  // namespace velorin
