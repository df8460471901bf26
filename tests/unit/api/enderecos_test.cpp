#include "api/enderecos.h"

#include <gtest/gtest.h>

#include "core/parametros.h"

namespace velorin {
namespace {

using Lista = std::vector<std::string>;

TEST(Enderecos, MontagemDaLista) {
    struct Caso {
        std::string principal;
        Lista resolvidos;
        Lista esperado;
    };
    const Caso casos[] = {
        {"192.168.0.10", {"192.168.0.10"}, {"192.168.0.10"}},  // listed once
        {"192.168.0.10", {"127.0.1.1", "169.254.3.4", "10.0.0.2"}, {"192.168.0.10", "10.0.0.2"}},
        {"169.254.9.9", {}, {"169.254.9.9"}},      // a link-local main address still counts
        {"", {"172.16.5.5", "172.32.0.1"}, {"172.16.5.5"}},  // 172.32 is public
        {"8.8.4.4", {"203.0.113.7"}, {}},          // public addresses never listed
        {"lixo", {"1.2.3", "192.168.1.300"}, {}},
    };
    for (const auto& c : casos) EXPECT_EQ(MontarEnderecosLocais(c.principal, c.resolvidos), c.esperado) << c.principal;
    // The carrier-grade NAT range is local only in the internet edition.
    const Lista cgnat = MontarEnderecosLocais("100.100.1.2", {"100.64.0.1"});
    if (EdicaoInternet()) {
        EXPECT_EQ(cgnat, (Lista{"100.100.1.2", "100.64.0.1"}));
    } else {
        EXPECT_TRUE(cgnat.empty());
    }
}

TEST(Enderecos, FaixaTailscale) {
    EXPECT_TRUE(EnderecoTailscale("100.64.0.1"));
    EXPECT_TRUE(EnderecoTailscale("100.127.255.255"));
    EXPECT_FALSE(EnderecoTailscale("100.128.0.1"));
    EXPECT_FALSE(EnderecoTailscale("100.63.255.255"));
    EXPECT_FALSE(EnderecoTailscale("100.64.0"));
}

TEST(Enderecos, DoSistemaSaoLocaisESemRepeticao) {
    // Whatever this machine has, the list obeys the rule.
    const Lista l = EnderecosLocais();
    for (std::size_t i = 0; i < l.size(); ++i) {
        EXPECT_EQ(MontarEnderecosLocais(l[i], {}), Lista{l[i]});
        for (std::size_t j = i + 1; j < l.size(); ++j) EXPECT_NE(l[i], l[j]);
    }
    const std::string p = EnderecoPrincipal();
    if (!l.empty() && !p.empty() && !MontarEnderecosLocais(p, {}).empty()) {
        EXPECT_EQ(l.front(), p);
    }
}

}  // namespace
}  // namespace velorin
