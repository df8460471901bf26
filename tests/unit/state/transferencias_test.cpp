// Install transfer tickets: issue, redemption from the same address within two minutes, the cap
// on pending tickets, and the merge of a proven duplicate record.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "apoio_estado.h"

namespace velorin {
namespace {

using teste::Dispositivo;
using teste::Ids;
using teste::Segredo;

using ::testing::ElementsAre;

const std::string IP = "192.168.0.20";
const std::string TOKEN = Segredo('t');
const std::string CHAVE = Segredo('k');

struct TUso {
    bool ok;
    TDispositivo dispositivo;
    std::string token, chave;
};

class Transferencias : public teste::TBaseEstado {
  protected:
    void SetUp() override {
        TBaseEstado::SetUp();
        TConfig cfg;
        cfg.Dispositivos = {Dispositivo("0000000a", "Moto\tG", TOKEN, CHAVE),
                            Dispositivo("0000000b", "Pixel", Segredo('p'))};
        Criar(cfg);
    }
    std::string Criar1(const std::string& chave = CHAVE, const std::string& token = TOKEN) {
        std::string ticket = "sujo";
        estado->CriarTransferencia(token, IP, chave, ticket);
        return ticket;
    }
    TUso Usar(const std::string& ticket, const std::string& ip = IP) {
        TUso u;
        u.token = u.chave = "sujo";
        u.dispositivo.Id = "sujo";
        u.ok = estado->UsarTransferencia(ticket, ip, u.dispositivo, u.token, u.chave);
        return u;
    }
    static void EsperarRecusa(const TUso& u) {
        EXPECT_FALSE(u.ok);
        EXPECT_EQ(u.token, "");
        EXPECT_EQ(u.chave, "");
        EXPECT_EQ(u.dispositivo.Id, "");
    }
};

const std::string RECUSA_DESCONHECIDA =
    "Transferencia recusada: expirada, ja usada ou desconhecida (" + IP + ")";

TEST_F(Transferencias, CriarEUsarEntregaTokenEChaveUmaVezSo) {
    const std::string ticket = Criar1();
    ASSERT_TRUE(TokenValido(ticket));
    EXPECT_NE(ticket, TOKEN);
    const TUso u = Usar(ticket);
    ASSERT_TRUE(u.ok);
    EXPECT_EQ(u.dispositivo.Id, "0000000a");
    EXPECT_EQ(u.token, TOKEN);
    EXPECT_EQ(u.chave, CHAVE);
    EsperarRecusa(Usar(ticket));  // single use

    EXPECT_THAT(
        Linhas(),
        ElementsAre("Transferencia criada: Moto?G (0000000a) de " + IP + ", identidade incluida",
                    "Transferencia usada: Moto?G (0000000a) de " + IP, RECUSA_DESCONHECIDA));
    const std::string log = TextoLog();
    for (const std::string& s :
         {ticket, TOKEN, CHAVE, Sha256Hex(ticket), Sha256Hex(TOKEN), Sha256Hex(CHAVE)})
        EXPECT_EQ(log.find(s), std::string::npos);
    EXPECT_TRUE(Eventos().empty());
    EXPECT_FALSE(estado->ConfigFoiAlterada());
}

// The identity key travels only when it is provably the device's own.
TEST_F(Transferencias, ChaveSoViajaQuandoEDoProprioAparelho) {
    struct {
        const char* nome;
        std::string token, chave;
        bool leva;
    } casos[] = {
        {"chave do aparelho", TOKEN, CHAVE, true},
        {"chave de outro", TOKEN, Segredo('x'), false},
        {"sem chave", TOKEN, "", false},
        {"chave mal formada", TOKEN, CHAVE + "k", false},
        // Pixel has no key hash at all: nothing can prove a key for it.
        {"aparelho sem chave", Segredo('p'), CHAVE, false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const std::string ticket = Criar1(c.chave, c.token);
        ASSERT_FALSE(ticket.empty());
        EXPECT_NE(Linhas().back().find(c.leva ? "identidade incluida" : "identidade ausente"),
                  std::string::npos);
        const TUso u = Usar(ticket);
        ASSERT_TRUE(u.ok);
        EXPECT_EQ(u.token, c.token);
        EXPECT_EQ(u.chave, c.leva ? CHAVE : "");
    }
}

TEST_F(Transferencias, TokenInvalidoOuDeNinguemNaoCriaTicket) {
    for (const std::string& t : {std::string(), TOKEN.substr(1), Segredo('z')})
        EXPECT_EQ(Criar1(CHAVE, t), "") << t;
    EXPECT_TRUE(Linhas().empty());
    // A malformed ticket is refused without a line.
    EsperarRecusa(Usar("abc"));
    EsperarRecusa(Usar(""));
    EXPECT_TRUE(Linhas().empty());
    // A well-formed unknown one gets the refusal line.
    EsperarRecusa(Usar(Segredo('q')));
    EXPECT_THAT(Linhas(), ElementsAre(RECUSA_DESCONHECIDA));
}

TEST_F(Transferencias, ValidadeDeDoisMinutos) {
    struct {
        std::uint64_t depois;
        bool ok;
    } casos[] = {{0, true}, {119000, true}, {119999, true}, {120000, false}, {500000, false}};
    for (const auto& c : casos) {
        SCOPED_TRACE(c.depois);
        const std::string ticket = Criar1();
        AvancarRelogioTeste(c.depois);
        const TUso u = Usar(ticket);
        if (c.ok) {
            EXPECT_TRUE(u.ok);
            EXPECT_EQ(u.token, TOKEN);
        } else {
            EsperarRecusa(u);
            EXPECT_EQ(Linhas().back(), RECUSA_DESCONHECIDA);
        }
    }
}

// The state's own clock, when set, decides expiry instead of AgoraMs().
TEST_F(Transferencias, RelogioProprioDecideAValidade) {
    std::atomic<std::uint64_t> relogio{1000};
    estado->DefinirRelogio([&relogio] { return relogio.load(); });
    const std::string ticket = Criar1();
    AvancarRelogioTeste(10 * 60 * 1000);  // the process clock moves; the state's does not
    EXPECT_TRUE(Usar(ticket).ok);
    const std::string outro = Criar1();
    relogio += VALIDADE_TRANSFERENCIA_MS;
    EsperarRecusa(Usar(outro));
    estado->DefinirRelogio({});
}

TEST_F(Transferencias, OutroEnderecoERecusadoEOTicketContinuaValendo) {
    const std::string ticket = Criar1();
    EsperarRecusa(Usar(ticket, "192.168.0.66"));
    EXPECT_EQ(Linhas().back(), "Transferencia recusada: pedida de outro IP (192.168.0.66)");
    AvancarRelogioTeste(VALIDADE_TRANSFERENCIA_MS - 1);
    const TUso u = Usar(ticket);
    EXPECT_TRUE(u.ok);
    EXPECT_EQ(u.token, TOKEN);
}

TEST_F(Transferencias, AparelhoRemovidoNoMeioTempo) {
    const std::string ticket = Criar1();
    ASSERT_TRUE(estado->RemoverDispositivo("0000000a"));
    EsperarRecusa(Usar(ticket));
    EXPECT_EQ(Linhas().back(), "Transferencia recusada: aparelho removido do PC (" + IP + ")");
    EsperarRecusa(Usar(ticket));  // the ticket was spent by the attempt
    EXPECT_EQ(Linhas().back(), RECUSA_DESCONHECIDA);
}

TEST_F(Transferencias, DecimoSetimoTicketDerrubaOMaisAntigo) {
    std::vector<std::string> tickets;
    for (std::size_t i = 0; i <= MAXIMO_TRANSFERENCIAS; ++i) {
        tickets.push_back(Criar1());
        AvancarRelogioTeste(1000);
    }
    EsperarRecusa(Usar(tickets[0]));
    for (std::size_t i = 1; i < tickets.size(); ++i) EXPECT_TRUE(Usar(tickets[i]).ok) << i;
}

// Expired tickets are cleared before the cap is applied, so they never push out a valid one.
TEST_F(Transferencias, VencidosSaemAntesDoLimite) {
    std::vector<std::string> velhos;
    for (std::size_t i = 0; i < MAXIMO_TRANSFERENCIAS - 1; ++i) velhos.push_back(Criar1());
    AvancarRelogioTeste(60000);
    const std::string valido = Criar1();  // 16 pending now
    AvancarRelogioTeste(60000);           // the first fifteen have expired
    std::vector<std::string> novos;
    for (std::size_t i = 0; i < MAXIMO_TRANSFERENCIAS - 1; ++i) novos.push_back(Criar1());
    EXPECT_TRUE(Usar(valido).ok);
    for (const std::string& t : novos) EXPECT_TRUE(Usar(t).ok);
    for (const std::string& t : velhos) EsperarRecusa(Usar(t));
}

TEST_F(Transferencias, CorridaPeloMesmoTicketTemUmVencedor) {
    for (int rodada = 0; rodada < 20; ++rodada) {
        SCOPED_TRACE(rodada);
        const std::string ticket = Criar1();
        std::atomic<int> sucessos{0};
        std::atomic<bool> largada{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] {
                while (!largada.load()) std::this_thread::yield();
                TDispositivo d;
                std::string token, chave;
                if (estado->UsarTransferencia(ticket, IP, d, token, chave)) ++sucessos;
            });
        largada = true;
        for (auto& th : threads) th.join();
        EXPECT_EQ(sucessos.load(), 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Consolidation

TEST_F(Transferencias, ConsolidarApagaSoOOutroCadastroProvado) {
    // The receiving context's own older record (Pixel, proved by its token) goes; the record it
    // received (Moto) stays.
    const std::string tokenPixel = Segredo('p');
    EXPECT_FALSE(estado->ConsolidarRepetido(Segredo('z'), "0000000a"));          // unknown token
    EXPECT_FALSE(estado->ConsolidarRepetido(TOKEN, "0000000a"));                 // its own record
    EXPECT_FALSE(estado->ConsolidarRepetido(tokenPixel, "ffffffff"));            // no such record
    EXPECT_FALSE(estado->ConsolidarRepetido(tokenPixel.substr(1), "0000000a"));  // malformed
    EXPECT_TRUE(Linhas().empty());
    EXPECT_TRUE(Eventos().empty());
    EXPECT_FALSE(estado->ConfigFoiAlterada());
    EXPECT_THAT(Ids(estado->Dispositivos()), ElementsAre("0000000a", "0000000b"));

    EXPECT_TRUE(estado->ConsolidarRepetido(tokenPixel, "0000000a"));
    EXPECT_THAT(Ids(estado->Dispositivos()), ElementsAre("0000000a"));
    EXPECT_TRUE(estado->ConfigFoiAlterada());
    EXPECT_THAT(Linhas(),
                ElementsAre("Transferencia consolidou cadastro repetido: Pixel (0000000b)"));
    ASSERT_EQ(Eventos().size(), 1u);
    EXPECT_EQ(Eventos()[0].Tipo, teDispositivosMudaram);
    EXPECT_EQ(Eventos()[0].Texto, "Pixel");
    TDispositivo d;
    EXPECT_TRUE(estado->AutenticarToken(TOKEN, IP, d));
    EXPECT_FALSE(estado->AutenticarToken(tokenPixel, IP, d));
}

// Two records that share a token hash (possible only in an edited file): one is deleted per
// call, the last one first, and never the preserved record.
TEST_F(Transferencias, ConsolidarApagaUmPorVezDoFimParaOInicio) {
    const std::string repetido = Segredo('r');
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("00000001", "Um", repetido),
                        Dispositivo("00000002", "Dois", TOKEN),
                        Dispositivo("00000003", "Tres", repetido)};
    TEstado& e = Criar(cfg);
    EXPECT_TRUE(e.ConsolidarRepetido(repetido, "00000001"));
    EXPECT_THAT(Ids(e.Dispositivos()), ElementsAre("00000001", "00000002"));
    EXPECT_FALSE(e.ConsolidarRepetido(repetido, "00000001"));
}

}  // namespace
}  // namespace velorin
