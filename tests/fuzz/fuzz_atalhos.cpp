// atalhos.json reader: any bytes must load or be refused without crashing, and whatever loads
// must be a valid catalog that the writer reproduces and the reader reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "actions/atalhos.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    using namespace velorin;
    const std::string_view texto(reinterpret_cast<const char*>(dados), tamanho);
    TCatalogoAtalhos c;
    if (!LerCatalogoJson(texto, c)) return 0;
    std::string erro;
    if (!ValidarCatalogo(c, erro)) std::abort();
    const std::string escrito = EscreverCatalogoJson(c);
    TCatalogoAtalhos relido;
    if (!LerCatalogoJson(escrito, relido) || !(relido == c)) std::abort();
    (void)UrlSiteValida(texto);
    (void)CaminhoProgramaValido(texto, true);
    (void)TextoSemControles(texto);
    return 0;
}
