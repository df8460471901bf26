#include "ui/qr.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "apoio/pasta_temporaria.h"
#include "apoio/processos.h"

namespace velorin {
namespace {

using teste::TPastaTemporaria;

// The symbol as a greyscale image, 4 pixels a module, with a 4-module quiet zone.
void GravarPgm(const std::vector<std::vector<bool>>& m, const std::string& caminho) {
    constexpr int ESCALA = 4, MARGEM = 4;
    const int n = static_cast<int>(m.size());
    const int lado = (n + 2 * MARGEM) * ESCALA;
    std::ofstream f(caminho, std::ios::binary);
    f << "P5 " << lado << " " << lado << " 255\n";
    for (int y = 0; y < lado; ++y)
        for (int x = 0; x < lado; ++x) {
            const int mx = x / ESCALA - MARGEM, my = y / ESCALA - MARGEM;
            const bool escuro = mx >= 0 && my >= 0 && mx < n && my < n &&
                                m[static_cast<std::size_t>(my)][static_cast<std::size_t>(mx)];
            f.put(static_cast<char>(escuro ? 0 : 255));
        }
}

// A phone camera must read back exactly the link the PC shows.
TEST(Qr, LeitorDecodificaOLinkExato) {
    EXIGIR_FERRAMENTA("/usr/bin/zbarimg", "zbar-tools");
    TPastaTemporaria pasta;
    for (const std::string link : {"http://192.168.0.10:8765/#parear=012345",
                                   "http://10.1.2.3:65535/#parear=999999"}) {
        const auto m = MatrizQr(link);
        ASSERT_FALSE(m.empty());
        GravarPgm(m, pasta / "qr.pgm");
        std::string saida;
        ASSERT_EQ(teste::Executar({"/usr/bin/zbarimg", "-q", "--raw", pasta / "qr.pgm"}, {}, &saida), 0);
        // The reader may chatter about the machine's D-Bus first; its last line is the data.
        EXPECT_TRUE(saida.ends_with("\n" + link + "\n") || saida == link + "\n") << saida;
    }
}

// The terminal drawing keeps every module: reading the half blocks back gives the symbol.
TEST(Qr, DesenhoEmTextoPreservaOsModulos) {
    const auto m = MatrizQr("http://192.168.0.10:8765/#parear=123456");
    ASSERT_FALSE(m.empty());
    const std::string texto = QrEmTexto(m, 2, false);
    std::vector<std::u32string> linhas;
    std::istringstream in(texto);
    for (std::string l; std::getline(in, l);) {
        std::u32string u;
        for (std::size_t i = 0; i < l.size();) {
            if (l[i] == ' ') {
                u += U' ';
                ++i;
            } else {
                u += l.compare(i, 3, "\xE2\x96\x88") == 0 ? U'F' : l.compare(i, 3, "\xE2\x96\x80") == 0 ? U'T' : U'B';
                i += 3;
            }
        }
        linhas.push_back(u);
    }
    const std::size_t n = m.size();
    for (std::size_t y = 0; y < n; ++y)
        for (std::size_t x = 0; x < n; ++x) {
            const char32_t c = linhas[(y + 2) / 2][x + 2];
            const bool escuro = (y + 2) % 2 == 0 ? (c == U'F' || c == U'T') : (c == U'F' || c == U'B');
            ASSERT_EQ(escuro, static_cast<bool>(m[y][x])) << x << "," << y;
        }
    // Too long for any version: no symbol rather than a broken one.
    EXPECT_TRUE(MatrizQr(std::string(5000, 'x')).empty());
}

}  // namespace
}  // namespace velorin
