#include "ui/qr.h"

#include <qrcodegen/qrcodegen.hpp>

namespace velorin {

std::vector<std::vector<bool>> MatrizQr(const std::string& texto) {
    try {
        const auto segmentos = qrcodegen::QrSegment::makeSegments(texto.c_str());
        const auto qr = qrcodegen::QrCode::encodeSegments(segmentos, qrcodegen::QrCode::Ecc::MEDIUM,
                                                          1, 40, -1, false);
        const int n = qr.getSize();
        std::vector<std::vector<bool>> m(static_cast<std::size_t>(n), std::vector<bool>(static_cast<std::size_t>(n)));
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) m[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = qr.getModule(x, y);
        return m;
    } catch (const std::exception&) {
        return {};  // data too long for version 40
    }
}

std::string QrEmTexto(const std::vector<std::vector<bool>>& matriz, int margem, bool ansi) {
    const int n = static_cast<int>(matriz.size());
    if (n == 0) return {};
    auto escuro = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < n && y < n &&
               matriz[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    };
    std::string s;
    for (int y = -margem; y < n + margem; y += 2) {
        if (ansi) s += "\x1b[30;47m";
        for (int x = -margem; x < n + margem; ++x) {
            const bool cima = escuro(x, y);
            const bool baixo = escuro(x, y + 1);
            if (cima && baixo)
                s += "\xE2\x96\x88";  // full block
            else if (cima)
                s += "\xE2\x96\x80";  // upper half
            else if (baixo)
                s += "\xE2\x96\x84";  // lower half
            else
                s += ' ';
        }
        if (ansi) s += "\x1b[0m";
        s += '\n';
    }
    return s;
}

}  // namespace velorin
