// Feeds arbitrary bytes to the INI reader and to the config.ini loading rules, then checks that
// what the loader produced survives a save and a second load unchanged, and that the loaded
// record keeps its invariants whatever the file held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/config.h"
#include "core/ini.h"
#include "core/seguranca.h"

namespace {

void Exigir(bool condicao) {
    if (!condicao) std::abort();
}

void ConferirInvariantes(const velorin::TConfig& c) {
    Exigir(c.Porta >= 1 && c.Porta <= 65535);
    Exigir(c.SegundosCarencia >= 10 && c.SegundosCarencia <= 120);
    Exigir(c.Idioma == "pt" || c.Idioma == "en" || c.Idioma == "es" || c.Idioma == "auto");
    for (const velorin::TDispositivo& d : c.Dispositivos) {
        Exigir(!d.Id.empty());
        Exigir(d.TokenHash.size() >= 64);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Token blobs in the input must never reach a desktop keyring or a real key file.
    velorin::DefinirUsoChaveiro(false);
    velorin::DefinirPastaChaveProtecao("/nonexistent/velorin-fuzz-chave");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    const std::string_view texto(reinterpret_cast<const char*>(dados), tamanho);
    // The writer turns CR into a blank, which can make two names equal that were not; without
    // CR in the input one round is already stable, with it the second one must be.
    const bool sem_cr = texto.find('\r') == std::string_view::npos;

    const velorin::TIni ini = velorin::TIni::Ler(texto);
    const std::string escrito = ini.Texto();
    const std::string escrito2 = velorin::TIni::Ler(escrito).Texto();
    if (sem_cr) Exigir(escrito2 == escrito);
    Exigir(velorin::TIni::Ler(escrito2).Texto() == escrito2);

    velorin::TConfig cfg;
    velorin::LerConfigDeTexto(texto, cfg);
    ConferirInvariantes(cfg);

    // What was loaded is saved and loaded again without change (the token cannot be opened
    // here, so it is empty on every side).
    const std::string salvo = velorin::TextoDeConfig(cfg);
    velorin::TConfig de_novo;
    velorin::LerConfigDeTexto(salvo, de_novo);
    ConferirInvariantes(de_novo);
    const std::string salvo2 = velorin::TextoDeConfig(de_novo);
    if (sem_cr) Exigir(salvo2 == salvo);
    velorin::LerConfigDeTexto(salvo2, de_novo);
    Exigir(velorin::TextoDeConfig(de_novo) == salvo2);

    for (std::size_t i = 0; i + 19 <= tamanho && i < 64; i += 19) {
        const double d = velorin::LerDataIso(texto.substr(i, 19));
        if (d > 0) Exigir(velorin::LerDataIso(velorin::TextoIso(d)) == d);
    }
    return 0;
}
