#include "apoio/dbusmock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace velorin::teste {

namespace {

using namespace std::chrono_literals;
using TRelogio = std::chrono::steady_clock;

constexpr const char* PYTHON = "/usr/bin/python3";  // dbusmock is a Debian package of this one

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
                        const std::string& saida, int fd_filho) {
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

// ---- D-Bus ----

TBarramentoPrivado::TBarramentoPrivado(TTipo tipo) : tipo_(tipo) {
    const std::string config = pasta_ / "bus.conf";
    // Everyone may own and call everything: the bus exists only for this test.
    GravarArquivo(config,
                  std::string("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                              "Configuration 1.0//EN\" "
                              "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig>\n  <type>") +
                      (tipo == TTipo::Sistema ? "system" : "session") +
                      "</type>\n  <listen>unix:path=" + pasta_.Caminho() +
                      "bus</listen>\n  <auth>EXTERNAL</auth>\n"
                      "  <policy context=\"default\">\n"
                      "    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                      "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                      "    <allow receive_sender=\"*\"/>\n"
                      "  </policy>\n</busconfig>\n");
    int tubo[2];
    if (::pipe2(tubo, O_CLOEXEC) != 0) return;
    const bool iniciou = processo_.Iniciar({"/usr/bin/dbus-daemon", "--config-file=" + config,
                                            "--nofork", "--nopidfile", "--print-address=3"},
                                           {}, pasta_ / "dbus.log", tubo[1]);
    ::close(tubo[1]);
    if (iniciou) endereco_ = LerLinha(tubo[0], 10000);
    ::close(tubo[0]);
}

const char* TBarramentoPrivado::Variavel() const {
    return tipo_ == TTipo::Sistema ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
}

bool TBarramentoPrivado::NomeTemDono(const std::string& nome) const {
    if (endereco_.empty()) return false;
    sd_bus* b = nullptr;
    if (sd_bus_new(&b) < 0) return false;
    bool tem = false;
    if (sd_bus_set_address(b, endereco_.c_str()) >= 0 && sd_bus_set_bus_client(b, 1) >= 0 &&
        sd_bus_set_method_call_timeout(b, 2000000) >= 0 && sd_bus_start(b) >= 0) {
        sd_bus_error erro = SD_BUS_ERROR_NULL;
        sd_bus_message* resposta = nullptr;
        if (sd_bus_call_method(b, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &erro, &resposta, "s",
                               nome.c_str()) >= 0) {
            int v = 0;
            tem = sd_bus_message_read(resposta, "b", &v) >= 0 && v != 0;
        }
        sd_bus_message_unref(resposta);
        sd_bus_error_free(&erro);
    }
    sd_bus_flush_close_unref(b);
    return tem;
}

TDbusMock::TDbusMock(const TBarramentoPrivado& bus, const std::string& modelo,
                     const std::string& nome, const std::string& parametros_json) {
    if (!bus.Ativo()) return;
    const bool sistema = bus.Tipo() == TBarramentoPrivado::TTipo::Sistema;
    if (!processo_.Iniciar({PYTHON, "-m", "dbusmock", sistema ? "--system" : "--session", "-t",
                            modelo, "-p", parametros_json, "-l", pasta_ / "chamadas.log"},
                           {{bus.Variavel(), bus.Endereco()}}, pasta_ / "saida.log")) {
        return;
    }
    const auto fim = TRelogio::now() + 15s;
    while (TRelogio::now() < fim && processo_.Vivo()) {
        if (bus.NomeTemDono(nome)) {
            pronto_ = true;
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "dbusmock nao publicou " << nome << ": " << LerArquivo(pasta_ / "saida.log");
}

std::vector<std::string> TDbusMock::Chamadas() const {
    std::vector<std::string> linhas;
    std::istringstream texto(LerArquivo(pasta_ / "chamadas.log"));
    std::string linha;
    while (std::getline(texto, linha)) {
        const auto espaco = linha.find(' ');
        linhas.push_back(espaco == std::string::npos ? linha : linha.substr(espaco + 1));
    }
    return linhas;
}

std::vector<std::string> TDbusMock::ChamadasDe(const std::string& inicio) const {
    std::vector<std::string> achadas;
    for (auto& c : Chamadas()) {
        if (c.rfind(inicio, 0) == 0) achadas.push_back(c);
    }
    return achadas;
}

std::string GravarModeloDbusMock(const TPastaTemporaria& pasta, const std::string& nome_arquivo,
                                 const std::string& corpo) {
    const std::string caminho = pasta / nome_arquivo;
    GravarArquivo(caminho, "import dbus\nfrom dbusmock import MOCK_IFACE, mockobject\n\n" + corpo);
    return caminho;
}

}  // namespace velorin::teste
