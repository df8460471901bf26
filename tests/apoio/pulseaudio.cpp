#include "apoio/pulseaudio.h"

#include <signal.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace velorin::teste {

namespace {

using namespace std::chrono_literals;

std::vector<std::vector<std::string>> Colunas(const std::string& texto) {
    std::vector<std::vector<std::string>> linhas;
    std::istringstream in(texto);
    std::string linha;
    while (std::getline(in, linha)) {
        std::vector<std::string> campos;
        std::istringstream l(linha);
        std::string campo;
        while (std::getline(l, campo, '\t')) campos.push_back(campo);
        if (!campos.empty()) linhas.push_back(std::move(campos));
    }
    return linhas;
}

}  // namespace

TPulseAudioPrivado::TPulseAudioPrivado() {
    servidor_ = "unix:" + pasta_.Caminho() + "native";
    std::string script =
        "load-module module-native-protocol-unix auth-anonymous=1 socket=" + pasta_.Caminho() +
        "native\n";
    for (int i = 0; i < 3; ++i) {
        // The description must be quoted inside the property list, or the space ends it.
        script += std::string("load-module module-null-sink sink_name=") + SINKS[i] +
                  " sink_properties='device.description=\"" + DESCRICOES[i] + "\"'\n";
    }
    script += std::string("set-default-sink ") + SINKS[0] + "\n";
    GravarArquivo(pasta_ / "padrao.pa", script);
    // Its own HOME and runtime folder: no cookie, pid file or state of the machine's user.
    const TAmbiente ambiente = {{"HOME", pasta_.Caminho()},
                                {"XDG_RUNTIME_DIR", pasta_.Caminho()},
                                {"XDG_CONFIG_HOME", pasta_.Caminho()}};
    if (!processo_.Iniciar(
            {"/usr/bin/pulseaudio", "-n", "-F", pasta_ / "padrao.pa", "--exit-idle-time=-1",
             "--daemonize=no", "--use-pid-file=no", "--disallow-exit", "--log-target=stderr"},
            ambiente, pasta_ / "pulseaudio.log")) {
        return;
    }
    variavel_ = std::make_unique<TVariavelAmbiente>("PULSE_SERVER", servidor_);
    const auto fim = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < fim && processo_.Vivo()) {
        if (Pactl({"info"})) {
            const auto sinks = Pactl({"list", "short", "sinks"});
            pronto_ = sinks && Colunas(*sinks).size() == 3;
            if (!pronto_) ADD_FAILURE() << "pulseaudio sem as tres saidas: " << sinks.value_or("");
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "pulseaudio nao respondeu: " << LerArquivo(pasta_ / "pulseaudio.log");
}

std::optional<std::string> TPulseAudioPrivado::Pactl(
    const std::vector<std::string>& argumentos) const {
    std::vector<std::string> argv = {"/usr/bin/pactl"};
    argv.insert(argv.end(), argumentos.begin(), argumentos.end());
    std::string saida;
    if (Executar(argv, {{"PULSE_SERVER", servidor_}}, &saida, 5000) != 0) return std::nullopt;
    return saida;
}

std::string TPulseAudioPrivado::SinkPadrao() const {
    auto s = Pactl({"get-default-sink"});
    if (!s) return "";
    while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
    return *s;
}

long TPulseAudioPrivado::IndiceSink(const std::string& nome) const {
    const auto s = Pactl({"list", "short", "sinks"});
    if (!s) return -1;
    for (const auto& c : Colunas(*s)) {
        if (c.size() > 1 && c[1] == nome) return std::stol(c[0]);
    }
    return -1;
}

std::vector<long> TPulseAudioPrivado::SinksDosFluxos() const {
    std::vector<long> sinks;
    const auto s = Pactl({"list", "short", "sink-inputs"});
    if (!s) return sinks;
    for (const auto& c : Colunas(*s)) {
        if (c.size() > 1) sinks.push_back(std::stol(c[1]));
    }
    return sinks;
}

std::unique_ptr<TProcesso> TPulseAudioPrivado::Tocar(const std::string& sink) const {
    auto p = std::make_unique<TProcesso>();
    const std::size_t antes = SinksDosFluxos().size();
    std::vector<std::string> argv = {"/usr/bin/pacat", "--playback", "--raw"};
    if (!sink.empty()) argv.push_back("--device=" + sink);
    argv.push_back("/dev/zero");
    if (!p->Iniciar(argv, {{"PULSE_SERVER", servidor_}})) return nullptr;
    const auto fim = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < fim && p->Vivo()) {
        if (SinksDosFluxos().size() > antes) return p;
        std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "o fluxo de teste nao apareceu";
    return nullptr;
}

}  // namespace velorin::teste
