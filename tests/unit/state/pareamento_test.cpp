// Pairing sessions, codes and attempt rounds, re-pairing and duplicate removal, token checks and
// device removal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "apoio_estado.h"
#include "core/texto.h"

namespace velorin {
namespace {

using teste::Dispositivo;
using teste::Ids;
using teste::Segredo;

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string IP = "192.168.0.20";

struct TResultado {
    TResultadoPareamento resultado;
    TDispositivo dispositivo;
    std::string token;
};

class Pareamento : public teste::TBaseEstado {
  protected:
    TResultado Tentar(const std::string& codigo, const std::string& nome = "Moto G",
                      bool substituir = false, const std::string& anterior = {},
                      const std::string& chave = {}, const std::string& ip = IP) {
        TResultado r;
        r.resultado =
            estado->Parear(codigo, nome, ip, substituir, anterior, chave, r.dispositivo, r.token);
        return r;
    }
    std::string Codigo() const { return estado->ObterPareamento().Codigo; }
    // A code that is certainly not the current one.
    std::string CodigoErrado() const {
        const std::string c = Codigo();
        return c == "000000" ? "000001" : "000000";
    }
    // Opens a session and pairs with its code.
    TResultado ParearCerto(const std::string& nome = "Moto G", bool substituir = false,
                           const std::string& anterior = {}, const std::string& chave = {}) {
        estado->AbrirPareamento();
        return Tentar(Codigo(), nome, substituir, anterior, chave);
    }
    bool Autentica(const std::string& token) {
        TDispositivo d;
        return estado->AutenticarToken(token, IP, d);
    }
    long Contar(const std::string& linha) const {
        const auto l = Linhas();
        return std::count(l.begin(), l.end(), linha);
    }
};

// ---------------------------------------------------------------------------------------------
// Names

TEST(NomeDispositivo, Limpeza) {
    const std::string quarenta = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
    ASSERT_EQ(quarenta.size(), 40u);
    struct {
        std::string entrada, esperado;
    } casos[] = {
        {"iPhone\nX", "iPhoneX"},  // a line break goes without leaving a blank
        {"iPhone\r\n\tX", "iPhoneX"},
        {"  Moto G  ", "Moto G"},
        {"   ", "Celular"},
        {"", "Celular"},
        {"\n\t\x7f", "Celular"},
        {quarenta + "E", quarenta},
        {quarenta, quarenta},
        // The cut leaves a blank at the end: trimmed again.
        {std::string(39, 'a') + "  b", std::string(39, 'a')},
        {"Celular do João 📱", "Celular do João 📱"},
        // 40 code points of which the emoji are two UTF-16 units each: never cut inside a pair.
        {std::string(38, 'a') + "📱📱📱", std::string(38, 'a') + "📱📱"},
        {std::string(40, 'a') + "\n", std::string(40, 'a')},
        {"A\xc2\x85"
         "B\xc2\x9f"
         "C\xc2\xa0",
         "ABC\xc2\xa0"},                                   // C1 controls go, NBSP stays
        {"Linha\xe2\x80\xa8Par\xe2\x80\xa9", "LinhaPar"},  // U+2028, U+2029
        {"\xe2\x80\xa8 Nome \xe2\x80\xa9", "Nome"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.entrada);
        EXPECT_EQ(NomeDispositivo(c.entrada), c.esperado);
    }
}

// ---------------------------------------------------------------------------------------------
// Codes and attempt rounds

TEST_F(Pareamento, SemSessaoNadaMudaENadaRegistra) {
    Criar();
    const TResultado r = Tentar("123456");
    EXPECT_EQ(r.resultado, rpSemSessao);
    EXPECT_TRUE(r.token.empty());
    EXPECT_TRUE(estado->Dispositivos().empty());
    EXPECT_TRUE(Linhas().empty());
    estado->RenovarCodigo();  // only while open
    EXPECT_EQ(Codigo(), "");
}

TEST_F(Pareamento, CodigoCertoPareiaEFechaASessao) {
    Criar();
    estado->AbrirPareamento();
    const TPareamento p = estado->ObterPareamento();
    EXPECT_TRUE(p.Ativo);
    EXPECT_EQ(p.Codigo.size(), 6u);
    EXPECT_EQ(p.ExpiraEm, INICIO + VIDA_CODIGO_MS);
    EXPECT_EQ(p.TentativasRestantes, 5);

    const std::string chave = Segredo('k');
    const TResultado r = Tentar(p.Codigo, " Moto\nG ", false, {}, chave);
    ASSERT_EQ(r.resultado, rpPareado);
    EXPECT_TRUE(TokenValido(r.token));
    EXPECT_EQ(r.dispositivo.Nome, "MotoG");
    EXPECT_EQ(r.dispositivo.Id.size(), 8u);
    EXPECT_EQ(r.dispositivo.TokenHash, Sha256Hex(r.token));
    EXPECT_EQ(r.dispositivo.ChaveHash, Sha256Hex(chave));
    EXPECT_EQ(r.dispositivo.UltimoIp, IP);
    EXPECT_GT(r.dispositivo.CriadoEm, 0);
    EXPECT_EQ(r.dispositivo.UltimoAcesso, r.dispositivo.CriadoEm);
    ASSERT_EQ(estado->Dispositivos().size(), 1u);
    EXPECT_EQ(estado->Dispositivos()[0].TokenHash, r.dispositivo.TokenHash);
    EXPECT_TRUE(estado->ConfigFoiAlterada());
    EXPECT_TRUE(Autentica(r.token));

    const TPareamento depois = estado->ObterPareamento();
    EXPECT_FALSE(depois.Ativo);
    EXPECT_FALSE(depois.EncerradoPorExcesso);
    EXPECT_EQ(depois.Codigo, "");
    EXPECT_EQ(Tentar(p.Codigo).resultado, rpSemSessao);  // a code is used once

    EXPECT_THAT(Linhas(), ElementsAre("Pareamento aberto",
                                      "Pareado: MotoG (" + r.dispositivo.Id + ") de " + IP));
    ASSERT_EQ(Eventos().size(), 1u);
    EXPECT_EQ(Eventos()[0].Tipo, teParearOk);
    EXPECT_EQ(Eventos()[0].Texto, "MotoG");
    // Neither the code nor a secret or its hash ever reaches the log.
    const std::string log = TextoLog();
    for (const std::string& s : {p.Codigo, r.token, chave, Sha256Hex(r.token), Sha256Hex(chave)})
        EXPECT_EQ(log.find(s), std::string::npos);
}

// Scripts of attempts on the test clock. After each attempt: the outcome, and the session as
// the window would see it. "Anterior" tries the code that was replaced last.
TEST_F(Pareamento, RodadasDeTentativasEExpiracao) {
    enum TPasso { Errado, Errado5, Certo, Anterior, Avancar };
    struct TEtapa {
        TPasso passo;
        std::uint64_t ms = 0;
        int resultado = -1;  // -1: no attempt in this step
        int restantes = 0, rodadas = 0;
        bool ativo = true, codigoNovo = false;
        bool conta = true;  // a wrong-code outcome counted (and logged) as an attempt
    };
    struct TRoteiro {
        const char* nome;
        std::vector<TEtapa> etapas;
    } roteiros[] = {
        {"quatro erros ainda deixam o codigo valer",
         {{Errado, 0, 2, 4, 0},
          {Errado, 0, 2, 3, 0},
          {Errado, 0, 2, 2, 0},
          {Errado, 0, 2, 1, 0},
          {Certo, 0, 0, 1, 0, false}}},
        {"cinco erros trocam o codigo e o antigo deixa de valer",
         {{Errado5, 0, 2, 5, 1, true, true}, {Anterior, 0, 2, 4, 1}, {Certo, 0, 0, 4, 1, false}}},
        {"quinze erros encerram a sessao",
         {{Errado5, 0, 2, 5, 1, true, true},
          {Errado5, 0, 2, 5, 2, true, true},
          {Errado5, 0, 2, 0, 3, false},
          {Certo, 0, 1, 0, 3, false, false, false}}},
        {"codigo certo vale ate o ultimo milissegundo",
         {{Avancar, VIDA_CODIGO_MS - 1}, {Certo, 0, 0, 5, 0, false}}},
        {"codigo vencido troca sem contar tentativa",
         {{Errado, 0, 2, 4, 0},
          {Avancar, VIDA_CODIGO_MS},
          {Certo, 0, 2, 5, 0, true, true, false},
          {Anterior, 0, 2, 4, 0},
          {Certo, 0, 0, 4, 0, false}}},
        {"erro no codigo vencido tambem nao conta",
         {{Errado, 0, 2, 4, 0},
          {Avancar, VIDA_CODIGO_MS - 1},
          {Errado, 0, 2, 3, 0},
          {Avancar, 1},
          {Errado, 0, 2, 5, 0, true, true, false}}},
        {"vencimento depois de rodadas mantem as rodadas",
         {{Errado5, 0, 2, 5, 1, true, true},
          {Avancar, VIDA_CODIGO_MS},
          {Certo, 0, 2, 5, 1, true, true, false},
          {Errado5, 0, 2, 5, 2, true, true},
          {Certo, 0, 0, 5, 2, false}}},
    };
    for (const TRoteiro& r : roteiros) {
        SCOPED_TRACE(r.nome);
        DefinirRelogioTeste(INICIO);
        Criar();
        estado->AbrirPareamento();
        std::string anterior;
        const std::string linhaErro = "Codigo de pareamento incorreto de " + IP;
        long contados = Contar(linhaErro);
        for (std::size_t i = 0; i < r.etapas.size(); ++i) {
            SCOPED_TRACE(i);
            const TEtapa& e = r.etapas[i];
            const std::string antes = Codigo();
            int res = -1;
            switch (e.passo) {
                case Errado5:
                    for (int k = 0; k < 4; ++k)
                        ASSERT_EQ(Tentar(CodigoErrado()).resultado, rpCodigoInvalido);
                    if (e.conta) contados += 4;
                    [[fallthrough]];
                case Errado:
                    res = Tentar(CodigoErrado()).resultado;
                    break;
                case Certo:
                    res = Tentar(Codigo()).resultado;
                    break;
                case Anterior:
                    ASSERT_FALSE(anterior.empty());
                    res = Tentar(anterior).resultado;
                    break;
                case Avancar:
                    AvancarRelogioTeste(e.ms);
                    break;
            }
            if (e.resultado < 0) continue;
            if (e.conta && res == rpCodigoInvalido) ++contados;
            EXPECT_EQ(res, e.resultado);
            const TPareamento p = estado->ObterPareamento();
            EXPECT_EQ(p.Ativo, e.ativo);
            if (e.ativo) {
                EXPECT_EQ(p.TentativasRestantes, e.restantes);
                EXPECT_EQ(p.Codigo != antes, e.codigoNovo);
                EXPECT_EQ(p.Codigo.size(), 6u);
                if (e.codigoNovo) {
                    EXPECT_EQ(p.ExpiraEm, AgoraMs() + VIDA_CODIGO_MS);
                }
            }
            EXPECT_EQ(p.Rodadas, e.rodadas);
            if (p.Codigo != antes) anterior = antes;
        }
        // Every wrong code is logged with the address; an expired one is not.
        EXPECT_EQ(Contar(linhaErro), contados);
    }
}

TEST_F(Pareamento, ExcessoDeTentativasAvisaEUmaNovaAberturaRecomeca) {
    Criar();
    estado->AbrirPareamento();
    for (int i = 0; i < 15; ++i) ASSERT_EQ(Tentar(CodigoErrado()).resultado, rpCodigoInvalido);
    const TPareamento p = estado->ObterPareamento();
    EXPECT_FALSE(p.Ativo);
    EXPECT_TRUE(p.EncerradoPorExcesso);
    EXPECT_EQ(p.Codigo, "");
    EXPECT_EQ(Linhas().back(), "Pareamento encerrado por excesso de tentativas");
    EXPECT_EQ(Contar("Pareamento encerrado por excesso de tentativas"), 1);
    EXPECT_THAT(Tipos(), ElementsAre(teParearEncerrado));

    estado->AbrirPareamento();
    const TPareamento novo = estado->ObterPareamento();
    EXPECT_TRUE(novo.Ativo);
    EXPECT_FALSE(novo.EncerradoPorExcesso);
    EXPECT_EQ(novo.Rodadas, 0);
    EXPECT_EQ(Tentar(Codigo()).resultado, rpPareado);
}

TEST_F(Pareamento, CodigosMalFormadosContamComoErro) {
    Criar();
    estado->AbrirPareamento();
    const std::string c = Codigo();
    for (const std::string& s : {std::string(), c.substr(0, 5), c + "0", " " + c.substr(1),
                                 c.substr(0, 5) + std::string(1, '\0')})
        EXPECT_EQ(Tentar(s).resultado, rpCodigoInvalido) << s;
    EXPECT_EQ(estado->ObterPareamento().TentativasRestantes, 5);  // the fifth made a new code
    EXPECT_NE(Codigo(), c);
}

TEST_F(Pareamento, FecharApagaOCodigoERenovarTrocaSoComSessaoAberta) {
    Criar();
    estado->AbrirPareamento();
    const std::string c = Codigo();
    AvancarRelogioTeste(1000);
    estado->RenovarCodigo();
    EXPECT_EQ(estado->ObterPareamento().ExpiraEm, INICIO + 1000 + VIDA_CODIGO_MS);
    estado->FecharPareamento();
    EXPECT_FALSE(estado->ObterPareamento().Ativo);
    EXPECT_EQ(Codigo(), "");
    estado->RenovarCodigo();
    EXPECT_EQ(Codigo(), "");
    EXPECT_EQ(Tentar(c).resultado, rpSemSessao);
}

// An identity key proves nothing without the code: it neither reopens a closed session nor
// stands in for the code, and a wrong code leaves the phone's current token working.
TEST_F(Pareamento, ChaveNaoSubstituiOCodigo) {
    const std::string chave = Segredo('k'), token = Segredo('t');
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto", token, chave)};
    Criar(cfg);
    EXPECT_EQ(Tentar("", "Moto", false, token, chave).resultado, rpSemSessao);
    estado->AbrirPareamento();
    const std::string c = Codigo();
    EXPECT_EQ(Tentar(CodigoErrado(), "Moto", false, token, chave).resultado, rpCodigoInvalido);
    EXPECT_EQ(Codigo(), c);
    EXPECT_TRUE(Autentica(token));
    EXPECT_EQ(estado->Dispositivos()[0].TokenHash, Sha256Hex(token));
}

// ---------------------------------------------------------------------------------------------
// Re-pairing and duplicates

// Stored records: A has a key, B is a legacy record (no key), C1 and C2 share a name, D has
// another key. Each case pairs once with the right code.
TEST_F(Pareamento, RepareamentoEDuplicados) {
    const std::string tA = Segredo('a'), tB = Segredo('b'), tC1 = Segredo('c'), tC2 = Segredo('d'),
                      tD = Segredo('e');
    const std::string kA = Segredo('K'), kD = Segredo('L'), kNova = Segredo('N');
    TConfig cfg;
    cfg.Dispositivos = {
        Dispositivo("0000000a", "Moto", tA, kA), Dispositivo("0000000b", "Velho", tB),
        Dispositivo("000000c1", "Tablet", tC1), Dispositivo("000000c2", "Tablet", tC2),
        Dispositivo("0000000d", "Pixel", tD, kD)};
    struct TCaso {
        const char* nome;
        std::string nomePedido;
        bool substituir;
        std::string anterior, chave;
        std::string idReusado;               // empty: a new record
        std::vector<std::string> idsDepois;  // "*" marks the new record
        std::string chaveHash;               // the paired record's key hash afterwards
        std::vector<std::string> tokensRevogados;
    };
    const std::vector<TCaso> casos = {
        {"mesma chave sem token anterior",
         "Moto Novo",
         false,
         "",
         kA,
         "0000000a",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d"},
         Sha256Hex(kA),
         {tA}},
        {"token anterior migra cadastro antigo e ganha a chave",
         "Velho",
         false,
         tB,
         kNova,
         "0000000b",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d"},
         Sha256Hex(kNova),
         {tB}},
        {"token anterior sem chave mantem cadastro sem chave",
         "Velho",
         false,
         tB,
         "",
         "0000000b",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d"},
         "",
         {tB}},
        {"mesmo nome sem pedido de substituir cria outro",
         "Tablet",
         false,
         "",
         "",
         "",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d", "*"},
         "",
         {}},
        {"mesmo nome com substituir reusa o primeiro e remove o resto",
         "Tablet",
         true,
         "",
         "",
         "000000c1",
         {"0000000a", "0000000b", "000000c1", "0000000d"},
         "",
         {tC1, tC2}},
        {"nome limpo e comparado depois da limpeza",
         " Tab\nlet ",
         true,
         "",
         "",
         "000000c1",
         {"0000000a", "0000000b", "000000c1", "0000000d"},
         "",
         {tC1, tC2}},
        {"nome com outra caixa nao e o mesmo",
         "tablet",
         true,
         "",
         "",
         "",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d", "*"},
         "",
         {}},
        {"token anterior desconhecido cria outro e nao remove nada",
         "Moto",
         false,
         Segredo('z'),
         "",
         "",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d", "*"},
         "",
         {}},
        {"chave mal formada e ignorada",
         "Moto",
         false,
         "",
         kA.substr(1),
         "",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d", "*"},
         "",
         {}},
        {"token anterior mal formado e ignorado",
         "Velho",
         false,
         tB + "x",
         "",
         "",
         {"0000000a", "0000000b", "000000c1", "000000c2", "0000000d", "*"},
         "",
         {}},
        // The key points at D, the previous token at A: the first in array order is reused and
        // the other proven record goes.
        {"chave e token de cadastros diferentes juntam os dois",
         "Pixel",
         false,
         tA,
         kD,
         "0000000a",
         {"0000000a", "0000000b", "000000c1", "000000c2"},
         Sha256Hex(kD),
         {tA, tD}},
        // D is reused by its key; the records in front of it with the same name go and D's
        // slot index moves down with them.
        {"duplicados antes do escolhido",
         "Tablet",
         true,
         "",
         kD,
         "0000000d",
         {"0000000a", "0000000b", "0000000d"},
         Sha256Hex(kD),
         {tC1, tC2, tD}},
    };
    for (const TCaso& c : casos) {
        SCOPED_TRACE(c.nome);
        Criar(cfg);
        const TResultado r = ParearCerto(c.nomePedido, c.substituir, c.anterior, c.chave);
        ASSERT_EQ(r.resultado, rpPareado);
        const TDispositivos lista = estado->Dispositivos();
        std::vector<std::string> esperados = c.idsDepois;
        for (auto& id : esperados)
            if (id == "*") id = r.dispositivo.Id;
        EXPECT_THAT(Ids(lista), ElementsAreArray(esperados));
        if (c.idReusado.empty()) {
            for (const TDispositivo& d : cfg.Dispositivos) EXPECT_NE(r.dispositivo.Id, d.Id);
            EXPECT_NE(r.dispositivo.CriadoEm, 45000.5);
        } else {
            EXPECT_EQ(r.dispositivo.Id, c.idReusado);
            EXPECT_EQ(r.dispositivo.CriadoEm, 45000.5);  // kept from the reused record
        }
        EXPECT_EQ(r.dispositivo.Nome, NomeDispositivo(c.nomePedido));
        EXPECT_EQ(r.dispositivo.ChaveHash, c.chaveHash);
        const auto salvo = std::find_if(lista.begin(), lista.end(), [&](const TDispositivo& d) {
            return d.Id == r.dispositivo.Id;
        });
        ASSERT_NE(salvo, lista.end());
        EXPECT_EQ(salvo->TokenHash, Sha256Hex(r.token));
        EXPECT_EQ(salvo->ChaveHash, c.chaveHash);
        EXPECT_TRUE(Autentica(r.token));
        for (const std::string& t : c.tokensRevogados) EXPECT_FALSE(Autentica(t));
        // Every record that was neither reused nor removed is untouched.
        for (const TDispositivo& d : lista) {
            if (d.Id == r.dispositivo.Id) continue;
            const auto orig = std::find_if(cfg.Dispositivos.begin(), cfg.Dispositivos.end(),
                                           [&](const TDispositivo& o) { return o.Id == d.Id; });
            ASSERT_NE(orig, cfg.Dispositivos.end());
            EXPECT_EQ(d.TokenHash, orig->TokenHash);
            EXPECT_EQ(d.ChaveHash, orig->ChaveHash);
            EXPECT_EQ(d.Nome, orig->Nome);
        }
    }
}

TEST_F(Pareamento, DispositivoRemovidoPareiaDeNovoComNovoId) {
    Criar();
    const std::string chave = Segredo('k');
    const TResultado primeiro = ParearCerto("Moto", false, {}, chave);
    ASSERT_EQ(primeiro.resultado, rpPareado);
    ASSERT_TRUE(estado->RemoverDispositivo(primeiro.dispositivo.Id));
    EXPECT_FALSE(Autentica(primeiro.token));
    // The key alone gets nowhere without a session and its code.
    EXPECT_EQ(Tentar("", "Moto", false, primeiro.token, chave).resultado, rpSemSessao);
    const TResultado segundo = ParearCerto("Moto", false, primeiro.token, chave);
    ASSERT_EQ(segundo.resultado, rpPareado);
    EXPECT_NE(segundo.dispositivo.Id, primeiro.dispositivo.Id);
    EXPECT_EQ(segundo.dispositivo.ChaveHash, Sha256Hex(chave));
    EXPECT_EQ(estado->Dispositivos().size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Token checks and removal

TEST_F(Pareamento, AutenticarTokenAtualizaUltimoAcessoNoMaximoUmaVezPorMinuto) {
    const std::string token = Segredo('t');
    const double agora = AgoraData();
    struct {
        const char* nome;
        double ultimoAcesso;
        std::string ip;
        bool atualiza;
    } casos[] = {
        {"10 s atras, mesmo IP", agora - 10.0 / 86400, "192.168.0.9", false},
        {"10 s atras, outro IP", agora - 10.0 / 86400, "192.168.0.30", true},
        {"2 min atras", agora - 120.0 / 86400, "192.168.0.9", true},
        {"nunca", 0, "192.168.0.9", true},
        // The wall clock was set back a day: the future last use is corrected.
        {"no futuro", agora + 1, "192.168.0.9", true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        TDispositivo d = Dispositivo("0000000a", "Moto", token);
        d.UltimoAcesso = c.ultimoAcesso;
        TConfig cfg;
        cfg.Dispositivos = {Dispositivo("0000000b", "Outro", Segredo('o')), d};
        TEstado e(cfg);
        TDispositivo achado;
        ASSERT_TRUE(e.AutenticarToken(token, c.ip, achado));
        EXPECT_EQ(achado.Id, "0000000a");
        EXPECT_EQ(e.ConfigFoiAlterada(), c.atualiza);
        const TDispositivo salvo = e.Dispositivos()[1];
        EXPECT_EQ(achado.UltimoAcesso, salvo.UltimoAcesso);
        EXPECT_EQ(salvo.UltimoIp, c.ip);
        if (c.atualiza) {
            EXPECT_NEAR(salvo.UltimoAcesso, AgoraData(), 5.0 / 86400);
        } else {
            EXPECT_EQ(salvo.UltimoAcesso, c.ultimoAcesso);
        }
    }
}

TEST_F(Pareamento, AutenticarTokenRecusaTokensErrados) {
    const std::string token = Segredo('t');
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto", token)};
    TEstado& e = Criar(cfg);
    for (const std::string& t : {std::string(), token.substr(1), token + "t", Segredo('u'),
                                 Sha256Hex(token), cfg.Dispositivos[0].TokenHash.substr(0, 43)}) {
        TDispositivo d;
        d.Id = "lixo";
        EXPECT_FALSE(e.AutenticarToken(t, IP, d)) << t;
        EXPECT_EQ(d.Id, "");
    }
    EXPECT_FALSE(e.ConfigFoiAlterada());
    EXPECT_TRUE(Linhas().empty());
}

TEST_F(Pareamento, RemoverDispositivo) {
    const std::string token = Segredo('t');
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto\n1", token),
                        Dispositivo("0000000b", "Pixel", Segredo('p'))};
    TEstado& e = Criar(cfg);
    EXPECT_FALSE(e.RemoverDispositivo("0000000A"));  // ids compare exactly
    EXPECT_FALSE(e.RemoverDispositivo(""));
    EXPECT_TRUE(Linhas().empty());
    EXPECT_FALSE(e.ConfigFoiAlterada());

    ASSERT_TRUE(e.RemoverDispositivo("0000000a"));
    EXPECT_THAT(Ids(e.Dispositivos()), ElementsAre("0000000b"));
    EXPECT_TRUE(e.ConfigFoiAlterada());
    EXPECT_FALSE(Autentica(token));
    EXPECT_THAT(Linhas(), ElementsAre("Dispositivo removido: Moto?1 (0000000a)"));
    ASSERT_EQ(Eventos().size(), 1u);
    EXPECT_EQ(Eventos()[0].Tipo, teDispositivosMudaram);
    EXPECT_EQ(Eventos()[0].Texto, "Moto\n1");
    EXPECT_FALSE(e.RemoverDispositivo("0000000a"));
}

// ---------------------------------------------------------------------------------------------
// Concurrency

// Eight phones send the right code at once: the code serves exactly one of them.
TEST_F(Pareamento, CorridaComOCodigoCertoTemUmVencedor) {
    for (int rodada = 0; rodada < 20; ++rodada) {
        SCOPED_TRACE(rodada);
        Criar();
        estado->AbrirPareamento();
        const std::string codigo = Codigo();
        constexpr int THREADS = 8;
        std::atomic<int> pareados{0}, semSessao{0};
        std::atomic<bool> largada{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < THREADS; ++t)
            threads.emplace_back([&, t] {
                while (!largada.load()) std::this_thread::yield();
                TDispositivo d;
                std::string token;
                const auto r = estado->Parear(codigo, "Fone " + std::to_string(t), IP, false, {},
                                              {}, d, token);
                if (r == rpPareado) ++pareados;
                if (r == rpSemSessao) ++semSessao;
            });
        largada = true;
        for (auto& th : threads) th.join();
        EXPECT_EQ(pareados.load(), 1);
        EXPECT_EQ(semSessao.load(), THREADS - 1);
        EXPECT_EQ(estado->Dispositivos().size(), 1u);
        EXPECT_THAT(Tipos(), ElementsAre(teParearOk));
        estado->DefinirAoEvento({});
        std::lock_guard<std::mutex> g(travaEventos);
        eventos.clear();
    }
}

}  // namespace
}  // namespace velorin
