#include "ui/autoteste.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "actions/audio.h"
#include "actions/energia.h"
#include "actions/entrada.h"
#include "core/parametros.h"
#include "core/seguranca.h"
#include "http/painel.h"
#include "ui/qr.h"

namespace velorin {

namespace {

struct TResultado {
    int falhas = 0;
    void Linha(bool ok, bool essencial, const std::string& nome, const std::string& detalhe = {}) {
        std::printf("%s %s%s%s\n", ok ? "[ok]   " : (essencial ? "[FALHA]" : "[aviso]"), nome.c_str(),
                    detalhe.empty() ? "" : ": ", detalhe.c_str());
        if (!ok && essencial) ++falhas;
    }
};

}  // namespace

int ExecutarAutoteste() {
    TResultado r;
    std::printf("%s %s autoteste\n", TITULO_APLICACAO, VERSAO_PROGRAMA);

    // Data folder: the program must be able to write its files there.
    {
        const std::string teste = Parametros.Dados + ".autoteste.tmp";
        std::ofstream f(teste, std::ios::trunc);
        f << "ok";
        const bool ok = f.good();
        f.close();
        ::unlink(teste.c_str());
        r.Linha(ok, true, "pasta de dados gravavel", Parametros.Dados);
    }
    // Crypto and secrets at rest.
    try {
        const bool hash = Sha256Hex("abc") ==
                          "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
        const bool token = TokenValido(NovoToken());
        r.Linha(hash && token, true, "criptografia (SHA-256, aleatorios)");
    } catch (const std::exception& e) {
        r.Linha(false, true, "criptografia (SHA-256, aleatorios)", e.what());
    }
    {
        std::string aberto;
        const std::string protegido = ProtegerTexto("autoteste");
        const bool ok = !protegido.empty() && DesprotegerTexto(protegido, aberto) && aberto == "autoteste";
        r.Linha(ok, false, "protecao de segredos (token da nuvem)");
    }
    // The panel the phones load.
    CarregarPainel(Parametros.Web);
    r.Linha(PainelPresente(), false, "painel web", Parametros.Web.empty() ? "embutido" : Parametros.Web);
    r.Linha(!MatrizQr("http://192.168.0.10:8765/#parear=123456").empty(), true, "codigo QR");

    // What this session offers: missing pieces only limit what phones can do.
    r.Linha(::getenv("DISPLAY") != nullptr && EntradaDisponivel(), false, "mouse e teclado (X11/XTest)");
    TVolume volume;
    LerVolume(volume);
    r.Linha(volume.disponivel, false, "audio (PulseAudio)");
    r.Linha(PodeSuspender(), false, "suspender (logind)");

    std::printf("%s\n", r.falhas == 0 ? "Autoteste concluido: pode rodar." : "Autoteste falhou.");
    return r.falhas == 0 ? 0 : 1;
}

}  // namespace velorin
