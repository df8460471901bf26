#include "apoio/processos.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "apoio/pasta_temporaria.h"

extern char** environ;

namespace velorin::teste {

namespace {
using namespace std::chrono_literals;
using TRelogio = std::chrono::steady_clock;
}  // namespace

// ---- environment ----

TVariavelAmbiente::TVariavelAmbiente(std::string nome, std::optional<std::string> valor)
    : nome_(std::move(nome)) {
    if (const char* v = std::getenv(nome_.c_str())) antigo_ = v;
    if (valor) {
        ::setenv(nome_.c_str(), valor->c_str(), 1);
    } else {
        ::unsetenv(nome_.c_str());
    }
}

TVariavelAmbiente::~TVariavelAmbiente() {
    if (antigo_) {
        ::setenv(nome_.c_str(), antigo_->c_str(), 1);
    } else {
        ::unsetenv(nome_.c_str());
    }
}

std::optional<std::string> FaltaFerramenta(const std::string& programa, const std::string& pacote) {
    if (::access(programa.c_str(), X_OK) == 0) return std::nullopt;
    return programa + " nao encontrado: instale o pacote " + pacote +
           " (scripts/instalar-dependencias.sh)";
}

std::vector<std::string> MensagensLog(const std::string& caminho_log) {
    std::vector<std::string> mensagens;
    std::istringstream texto(LerArquivo(caminho_log));
    std::string linha;
    while (std::getline(texto, linha)) {
        if (!linha.empty() && linha.back() == '\r') linha.pop_back();
        const auto separador = linha.find("  ");  // time stamp, two blanks, message
        mensagens.push_back(separador == std::string::npos ? linha : linha.substr(separador + 2));
    }
    return mensagens;
}

// ---- processes ----

TProcesso& TProcesso::operator=(TProcesso&& o) noexcept {
    if (this != &o) {
        Parar();
        pid_ = std::exchange(o.pid_, -1);
    }
    return *this;
}

bool TProcesso::Iniciar(const std::vector<std::string>& argv, const TAmbiente& extra,
                        const std::string& saida, int fd_filho, int fd_entrada) {
    Parar();
    std::vector<std::string> ambiente;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string linha = *e;
        bool substituida = false;
        for (const auto& [nome, valor] : extra) {
            if (linha.compare(0, nome.size() + 1, nome + "=") == 0) substituida = true;
        }
        if (!substituida) ambiente.push_back(linha);
    }
    for (const auto& [nome, valor] : extra) ambiente.push_back(nome + "=" + valor);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& a : ambiente) envp.push_back(const_cast<char*>(a.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    const std::string destino = saida.empty() ? "/dev/null" : saida;
    if (fd_entrada >= 0)
        posix_spawn_file_actions_adddup2(&acoes, fd_entrada, 0);
    else
        posix_spawn_file_actions_addopen(&acoes, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&acoes, 1, destino.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&acoes, 1, 2);
    if (fd_filho >= 0) posix_spawn_file_actions_adddup2(&acoes, fd_filho, 3);
    // Its own process group, so a terminal's ^C reaches the test and we stop the child.
    posix_spawnattr_t atributos;
    posix_spawnattr_init(&atributos);
    posix_spawnattr_setflags(&atributos, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&atributos, 0);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, args[0], &acoes, &atributos, args.data(), envp.data());
    posix_spawnattr_destroy(&atributos);
    posix_spawn_file_actions_destroy(&acoes);
    if (r != 0) return false;
    pid_ = pid;
    return true;
}

bool TProcesso::Vivo() const {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) pid_ = -1;
    return r == 0;
}

int TProcesso::Esperar(int prazo_ms) {
    if (pid_ <= 0) return -1;
    const auto fim = TRelogio::now() + std::chrono::milliseconds(prazo_ms);
    int status = 0;
    pid_t r = 0;
    while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 && TRelogio::now() < fim) {
        std::this_thread::sleep_for(5ms);
    }
    if (r != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TProcesso::Sinal(int sinal) const {
    if (pid_ > 0) ::kill(pid_, sinal);
}

void TProcesso::Parar() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGCONT);  // a stopped child would not act on SIGTERM
    ::kill(pid_, SIGTERM);
    if (Esperar(3000) == -1 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string LerLinha(int fd, int prazo_ms) {
    std::string linha;
    const auto fim = TRelogio::now() + std::chrono::milliseconds(prazo_ms);
    while (TRelogio::now() < fim) {
        pollfd p{fd, POLLIN, 0};
        const auto resta =
            std::chrono::duration_cast<std::chrono::milliseconds>(fim - TRelogio::now()).count();
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(resta, 0))) <= 0) break;
        char c = 0;
        if (::read(fd, &c, 1) != 1) break;
        if (c == '\n') return linha;
        linha += c;
    }
    return linha;
}

int Executar(const std::vector<std::string>& argv, const TAmbiente& extra, std::string* saida,
             int prazo_ms) {
    TPastaTemporaria pasta;
    const std::string arquivo = pasta / "saida";
    TProcesso p;
    if (!p.Iniciar(argv, extra, arquivo)) return -1;
    const int status = p.Esperar(prazo_ms);  // a child still running is killed by p
    if (saida != nullptr) *saida = LerArquivo(arquivo);
    return status;
}

}  // namespace velorin::teste
