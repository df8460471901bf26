// Process and environment helpers for tests that start real programs: every child is killed
// and reaped by its pid when its owner goes away.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    // child as descriptor 3 (for --print-address=3, -displayfd 3); stdin is `fd_entrada` when
    // >= 0, else /dev/null.
    bool Iniciar(const std::vector<std::string>& argv, const TAmbiente& extra = {},
                 const std::string& saida = "", int fd_filho = -1, int fd_entrada = -1);
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

}  // namespace velorin::teste
