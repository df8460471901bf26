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
