// Private D-Bus services for system tests: a dbus-daemon of our own (system- or session-
// type) and python3-dbusmock serving a template on it.
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
#include "apoio/processos.h"

namespace velorin::teste {

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
