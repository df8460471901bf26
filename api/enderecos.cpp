#include "api/enderecos.h"

#include <algorithm>
#include <cstdint>

#include "http/mensagem_http.h"

namespace velorin {

namespace {

bool NaFaixa(std::uint32_t ip, std::uint32_t rede, int bits) {
    const std::uint32_t mascara = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return (ip & mascara) == (rede & mascara);
}

constexpr std::uint32_t IP(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

}  // namespace

bool EnderecoTailscale(const std::string& texto) {
    std::uint32_t ip = 0;
    return LerIpv4(texto, ip) && NaFaixa(ip, IP(100, 64, 0, 0), 10);
}

std::vector<std::string> MontarEnderecosLocais(const std::string& principal,
                                               const std::vector<std::string>& resolvidos) {
    std::vector<std::string> lista;
    std::uint32_t ip = 0;
    if (LerIpv4(principal, ip) && EnderecoLocal(ip)) lista.push_back(principal);
    for (const auto& r : resolvidos) {
        if (!LerIpv4(r, ip) || !EnderecoLocal(ip)) continue;
        if (NaFaixa(ip, IP(127, 0, 0, 0), 8) || NaFaixa(ip, IP(169, 254, 0, 0), 16)) continue;
        if (std::find(lista.begin(), lista.end(), r) == lista.end()) lista.push_back(r);
    }
    return lista;
}

}  // namespace velorin
