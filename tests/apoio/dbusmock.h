// Private D-Bus services for system tests: a dbus-daemon of our own (system- or session-
// type) and python3-dbusmock serving a template on it; plus the small process and environment
// helpers they are built on.
//
// Everything is private to the test that starts it: sockets live in a TPastaTemporaria and
// every process is killed by its pid when its owner goes away. The machine's own buses and
// sound server are never touched.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apoio/pasta_temporaria.h"

namespace velorin::teste {

// ---- environment ----

// Sets (or, with nullopt, removes) an environment variable while the object lives, then puts
// the old value back.
class TVariavelAmbiente {
  public:
    TVariavelAmbiente(std::string nome, std::optional<std::string> valor);
    ~TVariavelAmbiente();
    TVariavelAmbiente(const TVariavelAmbiente&) = delete;
    TVariavelAmbiente& operator=(const TVariavelAmbiente&) = delete;

  private:
    std::string nome_;
    std::optional<std::string> antigo_;
};

// Null when `programa` (an absolute path) is executable, else a message saying what to install.
std::optional<std::string> FaltaFerramenta(const std::string& programa, const std::string& pacote);

// Skips the test when a tool is missing, except in CI (CI set), where that is a failure: the
// test script installs everything these tests need.
#define EXIGIR_FERRAMENTA(programa, pacote)                                      \
    do {                                                                         \
        if (auto falta_ = ::velorin::teste::FaltaFerramenta(programa, pacote)) { \
            if (std::getenv("CI") != nullptr) FAIL() << *falta_;                 \
            GTEST_SKIP() << *falta_;                                             \
        }                                                                        \
    } while (0)

// The messages of a log.txt, without their time stamps and line ends.
std::vector<std::string> MensagensLog(const std::string& caminho_log);

// ---- processes ----

using TAmbiente = std::vector<std::pair<std::string, std::string>>;

// A child process, killed (SIGTERM, then SIGKILL) and reaped by its pid when the owner goes.
class TProcesso {
  public:
    TProcesso() = default;
    ~TProcesso() { Parar(); }
    TProcesso(const TProcesso&) = delete;
    TProcesso& operator=(const TProcesso&) = delete;
    TProcesso(TProcesso&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
    TProcesso& operator=(TProcesso&& o) noexcept;

    // Starts argv[0] (an absolute path) with the current environment plus `extra`. stdout and
    // stderr go to `saida` (a file path) or /dev/null; `fd_filho`, when >= 0, is given to the
    // child as descriptor 3 (for --print-address=3, -displayfd 3).
    bool Iniciar(const std::vector<std::string>& argv, const TAmbiente& extra = {},
                 const std::string& saida = "", int fd_filho = -1);
    [[nodiscard]] pid_t Pid() const { return pid_; }
    // Reaps the child when it has ended (the pid is then forgotten, never signalled again).
    [[nodiscard]] bool Vivo() const;
    // Waits up to `prazo_ms` for the child to end: its exit status, or -1 (still running or
    // ended by a signal).
    int Esperar(int prazo_ms);
    void Sinal(int sinal) const;
    void Parar();

  private:
    mutable pid_t pid_ = -1;
};

// Runs a program to its end (killed after `prazo_ms`); its exit status, or -1. stdout goes to
// `saida` when given.
int Executar(const std::vector<std::string>& argv, const TAmbiente& extra = {},
             std::string* saida = nullptr, int prazo_ms = 10000);

// Reads what a child writes on a pipe up to the first newline, waiting at most `prazo_ms`.
std::string LerLinha(int fd, int prazo_ms);

// ---- D-Bus ----

// A dbus-daemon of our own, listening in a private folder.
class TBarramentoPrivado {
  public:
    enum class TTipo { Sistema, Sessao };
    explicit TBarramentoPrivado(TTipo tipo);

    [[nodiscard]] bool Ativo() const { return !endereco_.empty() && processo_.Vivo(); }
    // The address to put in DBUS_SYSTEM_BUS_ADDRESS or DBUS_SESSION_BUS_ADDRESS.
    [[nodiscard]] const std::string& Endereco() const { return endereco_; }
    [[nodiscard]] TTipo Tipo() const { return tipo_; }
    // The environment variable that names this kind of bus.
    [[nodiscard]] const char* Variavel() const;
    // Whether `nome` has an owner on this bus right now.
    [[nodiscard]] bool NomeTemDono(const std::string& nome) const;
    // SIGSTOP: the socket still accepts, nothing answers (a hung bus).
    void Pausar() const { processo_.Sinal(SIGSTOP); }
    void Parar() { processo_.Parar(); }

  private:
    TTipo tipo_;
    TPastaTemporaria pasta_;
    TProcesso processo_;
    std::string endereco_;
};

// python3-dbusmock serving one template (a name from dbusmock's own, or the path of a template
// file) on a private bus, with its method calls recorded in a log file.
class TDbusMock {
  public:
    // `nome` is the bus name the template claims: the constructor waits until it is owned.
    TDbusMock(const TBarramentoPrivado& bus, const std::string& modelo, const std::string& nome,
              const std::string& parametros_json = "{}");

    [[nodiscard]] bool Ativo() const { return pronto_ && processo_.Vivo(); }
    // The recorded calls, oldest first, without their time stamps: "PowerOff False",
    // "LockSession \"c2\"", "Set /path iface.Prop 3".
    [[nodiscard]] std::vector<std::string> Chamadas() const;
    // Calls whose text starts with `inicio`.
    [[nodiscard]] std::vector<std::string> ChamadasDe(const std::string& inicio) const;
    void Parar() { processo_.Parar(); }

  private:
    TPastaTemporaria pasta_;
    TProcesso processo_;
    bool pronto_ = false;
};

// Writes a dbusmock template into `pasta` and returns its path. `corpo` is the Python text
// after the standard header (BUS_NAME, MAIN_OBJ, MAIN_IFACE, SYSTEM_BUS and a load()).
std::string GravarModeloDbusMock(const TPastaTemporaria& pasta, const std::string& nome_arquivo,
                                 const std::string& corpo);

}  // namespace velorin::teste
