// Ping, pairing, unpairing, the status object and install transfers, end to end through the
// real server; and a concurrent mix of them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "actions/atalhos.h"
#include "actions/audio.h"
#include "actions/tela.h"
#include "api/api.h"
#include "apoio_api.h"
#include "core/parametros.h"
#include "core/relogio.h"
#include "core/seguranca.h"
#include "state/estado.h"

namespace velorin {
namespace {

using teste::TPedido;
using teste::TRespostaBruta;

class Endpoints : public teste::TesteApi {
  protected:
    // The pairing code currently shown on the PC.
    std::string Codigo() { return Estado().ObterPareamento().Codigo; }
    // A six-digit code that is certainly not the current one.
    std::string CodigoErrado() {
        std::string c = Codigo();
        c[0] = c[0] == '9' ? '0' : static_cast<char>(c[0] + 1);
        return c;
    }
    TRespostaBruta PostarParear(const TJson& corpo, const std::string& de = "127.0.0.1") {
        return Post("/api/parear", corpo.dump(), {}, de);
    }
    TRespostaBruta Deletar(const std::string& caminho, const std::string& token,
                           const std::string& de = "127.0.0.1") {
        TPedido p;
        p.Metodo = "DELETE";
        p.Caminho = caminho;
        p.Token = token;
        p.De = de;
        return Pedir(p);
    }
};

std::vector<std::string> Chaves(const TJson& objeto) {
    std::vector<std::string> chaves;
    for (const auto& [chave, valor] : objeto.items()) chaves.push_back(chave);
    return chaves;
}

TEST_F(Endpoints, Ping) {
    const TRespostaBruta r = Get("/api/ping");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Corpo, R"({"app":"Velorin","versao":"1.0.7"})");
}

// ---------------------------------------------------------------------------------------------
// Pairing

TEST_F(Endpoints, ParearComEspacosNoCodigo) {
    for (const std::string& modelo :
         std::vector<std::string>{"%", " %  ", "\t% \r\n", "sep", "sepfora"}) {
        Estado().AbrirPareamento();
        const std::string c = Codigo();
        std::string enviado;
        if (modelo == "sep")
            enviado = c.substr(0, 3) + " " + c.substr(3);
        else if (modelo == "sepfora")
            enviado =
                "  " + std::string(1, c[0]) + " " + c.substr(1, 2) + "   " + c.substr(3) + " ";
        else
            enviado = std::string(modelo).replace(modelo.find('%'), 1, c);
        const TRespostaBruta r = PostarParear({{"codigo", enviado}, {"nomeDispositivo", "Ana"}});
        ASSERT_EQ(r.Status, 200) << "[" << enviado << "]";
        const TJson j = r.Json();
        EXPECT_EQ(Chaves(j), (std::vector<std::string>{"token", "dispositivoId", "nomePc"}));
        EXPECT_TRUE(TokenValido(j["token"].get<std::string>()));
        EXPECT_EQ(j["nomePc"], Estado().NomeExibicao());
        const TJson status = Get("/api/status", j["token"]).Json();
        EXPECT_EQ(status["dispositivo"]["id"], j["dispositivoId"]);
        EXPECT_EQ(status["dispositivo"]["nome"], "Ana");
        // The new token is not written to the log.
        EXPECT_EQ(Log().find(j["token"].get<std::string>()), std::string::npos);
    }
    // A space inside is removed, but other blanks inside are not.
    Estado().AbrirPareamento();
    const std::string c = Codigo();
    EXPECT_EQ(PostarParear({{"codigo", c.substr(0, 3) + "\t" + c.substr(3)}}).Status, 403);
}

TEST_F(Endpoints, ParearValidaOCorpoSemContarFalha) {
    Estado().AbrirPareamento();
    const std::string certo = Codigo();
    const std::string curto(42, 'a');
    const std::vector<std::string> corpos = {
        "{}",
        R"({"codigo":123456})",
        R"({"codigo":null})",
        R"({"codigo":["1"]})",
        R"({"codigo":"X","substituirMesmoNome":null})",
        R"({"codigo":"X","substituirMesmoNome":"true"})",
        R"({"codigo":"X","substituirMesmoNome":1})",
        R"({"codigo":"X","nomeDispositivo":5})",
        R"({"codigo":"X","chaveDispositivo":")" + curto + R"("})",
        R"({"codigo":"X","tokenAnterior":")" + curto + R"("})",
        R"({"codigo":"X","tokenAnterior":")" + std::string(43, '*') + R"("})",
        R"({"codigo":"X","chaveDispositivo":true})",
        "[]",
        "",
        "{",
        R"({"codigo":"X","a":{"b":{"c":{"d":{}}}}})",
    };
    for (const auto& corpo : corpos) {
        const TRespostaBruta r = Post("/api/parear", corpo);
        EXPECT_EQ(r.Status, 400) << corpo;
        EXPECT_EQ(r.Erro(), "requisicao_invalida") << corpo;
    }
    // Sixteen refusals counted nothing: neither the limiter nor the code's attempts.
    const TPareamento p = Estado().ObterPareamento();
    EXPECT_TRUE(p.Ativo);
    EXPECT_EQ(p.Codigo, certo);
    EXPECT_EQ(p.TentativasRestantes, TENTATIVAS_POR_CODIGO);
    // Empty secrets and nulls count as absent.
    const TRespostaBruta r =
        Post("/api/parear", R"({"codigo":")" + certo +
                                R"(","nomeDispositivo":null,"chaveDispositivo":"",)"
                                R"("tokenAnterior":"","substituirMesmoNome":false})");
    EXPECT_EQ(r.Status, 200);
    ASSERT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_EQ(Estado().Dispositivos()[0].Nome, NOME_PADRAO_DISPOSITIVO);
}

TEST_F(Endpoints, SubstituirMesmoNome) {
    ASSERT_FALSE(Parear("Ana").empty());
    // Left out means false: a second record with the same name.
    Estado().AbrirPareamento();
    ASSERT_EQ(PostarParear({{"codigo", Codigo()}, {"nomeDispositivo", "Ana"}}).Status, 200);
    EXPECT_EQ(Estado().Dispositivos().size(), 2u);
    // True replaces both earlier "Ana" records by one.
    Estado().AbrirPareamento();
    const TRespostaBruta r = PostarParear(
        {{"codigo", Codigo()}, {"nomeDispositivo", "Ana"}, {"substituirMesmoNome", true}});
    ASSERT_EQ(r.Status, 200);
    ASSERT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_EQ(Estado().Dispositivos()[0].Id, r.Json()["dispositivoId"]);
}

TEST_F(Endpoints, ParearSemSessaoENaoContaFalha) {
    for (int i = 0; i < 12; ++i) {
        const TRespostaBruta r = PostarParear({{"codigo", "123456"}}, "127.0.0.6");
        ASSERT_EQ(r.Status, 410) << i;
        EXPECT_EQ(r.Erro(), "pareamento_fechado");
    }
    EXPECT_FALSE(Parear("Ana", nullptr, "127.0.0.6").empty());
}

TEST_F(Endpoints, LimitadorDePareamento) {
    Estado().AbrirPareamento();
    for (int i = 0; i < 10; ++i) {
        const TRespostaBruta r = PostarParear({{"codigo", CodigoErrado()}}, "127.0.0.6");
        ASSERT_EQ(r.Status, 403) << i;
        EXPECT_EQ(r.Erro(), "codigo_invalido");
    }
    ASSERT_TRUE(Estado().ObterPareamento().Ativo);
    // Blocked even with the right code, and before the code is looked at.
    const TRespostaBruta bloqueado = PostarParear({{"codigo", Codigo()}}, "127.0.0.6");
    EXPECT_EQ(bloqueado.Status, 429);
    EXPECT_EQ(bloqueado.Erro(), "limite");
    EXPECT_EQ(bloqueado.Cabecalho("retry-after"), "600");
    EXPECT_EQ(Post("/api/parear", "[]", {}, "127.0.0.6").Status, 429);
    EXPECT_TRUE(Estado().ObterPareamento().Ativo);
    // Another address is unaffected.
    EXPECT_EQ(PostarParear({{"codigo", Codigo()}}, "127.0.0.7").Status, 200);

    AvancarRelogioTeste(300'000);
    EXPECT_EQ(PostarParear({{"codigo", "1"}}, "127.0.0.6").Cabecalho("retry-after"), "300");
    AvancarRelogioTeste(300'000);
    EXPECT_FALSE(Parear("Bia", nullptr, "127.0.0.6").empty());
}

TEST_F(Endpoints, PausadoRecusaParearAntesDeTudo) {
    const std::string token = Parear("Ana");
    Estado().AbrirPareamento();
    Estado().DefinirPausado(true);
    const TRespostaBruta post = Post("/api/parear", "[]");
    EXPECT_EQ(post.Status, 503);
    EXPECT_EQ(post.Erro(), "pausado");
    EXPECT_EQ(PostarParear({{"codigo", Codigo()}}).Status, 503);
    EXPECT_EQ(Deletar("/api/parear", token).Status, 503);
    // Refused before authentication: these do not feed the token limiter.
    for (int i = 0; i < 25; ++i) ASSERT_EQ(Deletar("/api/parear", "", "127.0.0.8").Status, 503);
    // Reading the status still works while paused, and says so.
    const TRespostaBruta status = Get("/api/status", token, "127.0.0.8");
    EXPECT_EQ(status.Status, 200);
    EXPECT_EQ(status.Json()["pausado"], true);
    EXPECT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_TRUE(Estado().ObterPareamento().Ativo);

    Estado().DefinirPausado(false);
    EXPECT_EQ(PostarParear({{"codigo", Codigo()}}).Status, 200);
}

TEST_F(Endpoints, DespareaRevogaOToken) {
    std::string idAna;
    const std::string ana = Parear("Ana", &idAna);
    const std::string bia = Parear("Bia");
    const TRespostaBruta r = Deletar("/api/parear", bia);
    EXPECT_EQ(r.Status, 204);
    EXPECT_TRUE(r.Corpo.empty());
    EXPECT_EQ(r.ContarCabecalho("content-type"), 0);
    EXPECT_EQ(r.Cabecalho("cache-control"), "no-store");
    EXPECT_EQ(Get("/api/status", bia).Status, 401);
    EXPECT_EQ(Deletar("/api/parear", bia).Status, 401);
    ASSERT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_EQ(Estado().Dispositivos()[0].Id, idAna);
    EXPECT_EQ(Get("/api/status", ana).Status, 200);
}

// ---------------------------------------------------------------------------------------------
// Status

TEST_F(Endpoints, ObjetoDeStatusEmSimulacao) {
    const std::string token = Parear("Ana");
    const TJson j = Get("/api/status", token).Json();
    EXPECT_EQ(Chaves(j),
              (std::vector<std::string>{"nomePc", "versao", "pausado", "simulacao", "recursos",
                                        "audio", "tela", "volume", "agendamento", "dispositivo"}));
    EXPECT_EQ(j["nomePc"], NomeComputador());
    EXPECT_EQ(j["versao"], "1.0.7");
    EXPECT_EQ(j["pausado"], false);
    EXPECT_EQ(j["simulacao"], true);
    EXPECT_EQ(Chaves(j["recursos"]),
              (std::vector<std::string>{"suspender", "entrada", "entradaInternet", "tela",
                                        "saidaAudio", "atalhos"}));
    EXPECT_EQ(j["recursos"]["suspender"], SuspensaoDisponivel());
    EXPECT_EQ(j["recursos"]["entrada"], true);
    EXPECT_EQ(j["recursos"]["entradaInternet"], false);
    EXPECT_EQ(j["recursos"]["tela"], true);
    EXPECT_EQ(j["recursos"]["saidaAudio"], true);
    EXPECT_EQ(j["recursos"]["atalhos"], false);
    EXPECT_EQ(j["audio"].dump(),
              R"j({"podeTrocar":true,"saidas":[)j"
              R"j({"id":"sim-caixa","nome":"Alto-falantes (simulado)","padrao":true},)j"
              R"j({"id":"sim-fone","nome":"Fone Bluetooth (simulado)","padrao":false},)j"
              R"j({"id":"sim-hdmi","nome":"TV HDMI (simulado)","padrao":false}]})j");
    EXPECT_EQ(j["tela"].dump(), R"({"ligada":null})");
    EXPECT_EQ(j["volume"].dump(), R"({"disponivel":true,"nivel":50,"mudo":false})");
    EXPECT_TRUE(j["agendamento"].is_null());
    EXPECT_EQ(Chaves(j["dispositivo"]), (std::vector<std::string>{"id", "nome"}));
    EXPECT_EQ(j["dispositivo"]["nome"], "Ana");
}

TEST_F(Endpoints, StatusSegueOEstado) {
    const std::string token = Parear("Ana");
    RegistrarTela(0);
    EXPECT_EQ(Get("/api/status", token).Json()["tela"].dump(), R"({"ligada":true})");
    ASSERT_TRUE(DefinirTela(false));
    EXPECT_EQ(Get("/api/status", token).Json()["tela"].dump(), R"({"ligada":false})");

    TVolume v;
    AjustarVolume(true, 30, true, true, v);
    ASSERT_EQ(TrocarSaidaAudio("sim-hdmi"), TROCA_FEITA);
    Estado().DefinirMouseTecladoInternet(true);
    TAgendamento ag;
    Estado().Agendar(ACAO_REINICIAR, 90, "Ana \"iPhone\"", false, ag);
    ASSERT_EQ(ag.Acao, ACAO_REINICIAR);
    AvancarRelogioTeste(30'500);  // 59.5 s left: rounded up

    const TJson j = Get("/api/status", token).Json();
    EXPECT_EQ(j["volume"].dump(), R"({"disponivel":true,"nivel":30,"mudo":true})");
    EXPECT_EQ(j["audio"]["saidas"][2]["padrao"], true);
    EXPECT_EQ(j["audio"]["saidas"][0]["padrao"], false);
    EXPECT_EQ(j["recursos"]["entradaInternet"], EdicaoInternet());
    EXPECT_EQ(
        j["agendamento"].dump(),
        R"({"acao":"reiniciar","segundosRestantes":60,"pedidoPor":"Ana \"iPhone\"","forcar":false})");
    EXPECT_TRUE(Estado().Cancelar(false));
    EXPECT_TRUE(Get("/api/status", token).Json()["agendamento"].is_null());
}

TEST_F(Endpoints, StatusComCatalogoDeAtalhos) {
    Reiniciar(true);
    ASSERT_NE(Atalhos(), nullptr);
    const TJson j = Get("/api/status", Parear("Ana")).Json();
    EXPECT_EQ(Chaves(j)[4], "atalhosRevisao");
    EXPECT_EQ(j["atalhosRevisao"], Atalhos()->Revisao());
    EXPECT_EQ(j["recursos"]["atalhos"], true);
    EXPECT_EQ(ObjetoStatus()["atalhosRevisao"], Atalhos()->Revisao());
}

TEST_F(Endpoints, StatusSemSistemaDeSom) {
    // Outside simulation, with no sound server to reach, the volume is unavailable.
    const char* anterior = std::getenv("PULSE_SERVER");
    const std::string guardado = anterior ? anterior : "";
    ::setenv("PULSE_SERVER", ("unix:" + (pasta_ / "sem-pulse")).c_str(), 1);
    Parametros.Simular = false;
    const TJson j = ObjetoStatus();
    Parametros.Simular = true;
    if (anterior)
        ::setenv("PULSE_SERVER", guardado.c_str(), 1);
    else
        ::unsetenv("PULSE_SERVER");
    EXPECT_EQ(j["volume"].dump(), R"({"disponivel":false})");
    EXPECT_EQ(j["simulacao"], false);
    EXPECT_EQ(j["audio"]["podeTrocar"], j["recursos"]["saidaAudio"]);
}

TEST(RespostaJson, TextoInvalidoNaoDerrubaAResposta) {
    // A name read from a hand-edited config.ini may hold bytes that are not UTF-8.
    TRespostaHttp resp;
    ResponderJson(resp, 200, TJson{{"nomePc", std::string("PC\xff")}});
    EXPECT_EQ(resp.Status, 200);
    EXPECT_EQ(resp.Corpo, "{\"nomePc\":\"PC\xef\xbf\xbd\"}");
}

// ---------------------------------------------------------------------------------------------
// Install transfers

TEST_F(Endpoints, TransferenciaDeSessao) {
    const std::string chave = NovoToken();
    Estado().AbrirPareamento();
    const TJson pareado =
        PostarParear(
            {{"codigo", Codigo()}, {"nomeDispositivo", "Ana"}, {"chaveDispositivo", chave}})
            .Json();
    const std::string token = pareado["token"];

    for (const bool comChave : {false, true}) {
        const TJson pedido = comChave ? TJson{{"chaveDispositivo", chave}} : TJson::object();
        const TRespostaBruta criada = Post("/api/transferencia", pedido.dump(), token);
        ASSERT_EQ(criada.Status, 200);
        EXPECT_EQ(Chaves(criada.Json()), std::vector<std::string>{"ticket"});
        const std::string ticket = criada.Json()["ticket"];
        EXPECT_TRUE(TokenValido(ticket));

        // Redeemed without a bearer token: the ticket is the credential.
        const TRespostaBruta usada =
            Post("/api/transferencia/consumir", TJson{{"ticket", ticket}}.dump());
        ASSERT_EQ(usada.Status, 200);
        const TJson j = usada.Json();
        EXPECT_EQ(Chaves(j), (std::vector<std::string>{"token", "nomePc", "nomeDispositivo",
                                                       "chaveDispositivo"}));
        EXPECT_EQ(j["token"], token);  // the same session continues
        EXPECT_EQ(j["nomePc"], Estado().NomeExibicao());
        EXPECT_EQ(j["nomeDispositivo"], "Ana");
        EXPECT_EQ(j["chaveDispositivo"], comChave ? chave : "");

        // Single use.
        const TRespostaBruta outra =
            Post("/api/transferencia/consumir", TJson{{"ticket", ticket}}.dump());
        EXPECT_EQ(outra.Status, 410);
        EXPECT_EQ(
            outra.Corpo,
            R"({"erro":"transferencia_expirada","mensagem":"Abra a instalacao novamente pelo painel do PC."})");
    }
    EXPECT_EQ(Get("/api/status", token).Status, 200);
    EXPECT_EQ(Log().find(token), std::string::npos);
    EXPECT_EQ(Log().find(chave), std::string::npos);
}

TEST_F(Endpoints, TransferenciaConsolidaCadastroRepetido) {
    std::string idNavegador;
    const std::string navegador = Parear("Ana", &idNavegador);
    // The installed panel had paired on its own: the same phone, listed twice.
    const std::string instalado = Parear("Ana (app)");
    ASSERT_EQ(Estado().Dispositivos().size(), 2u);

    const std::string ticket = Post("/api/transferencia", "{}", navegador).Json()["ticket"];
    const TRespostaBruta r = Post("/api/transferencia/consumir",
                                  TJson{{"ticket", ticket}, {"tokenAtual", instalado}}.dump());
    ASSERT_EQ(r.Status, 200);
    ASSERT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_EQ(Estado().Dispositivos()[0].Id, idNavegador);
    EXPECT_EQ(Get("/api/status", instalado).Status, 401);
    EXPECT_EQ(Get("/api/status", navegador).Status, 200);
}

TEST_F(Endpoints, TransferenciaValidaOCorpo) {
    const std::string token = Parear("Ana");
    const std::string curto(42, 'a');
    for (const std::string& corpo :
         {R"({"chaveDispositivo":")" + curto + R"("})", std::string(R"({"chaveDispositivo":7})")}) {
        EXPECT_EQ(Post("/api/transferencia", corpo, token).Status, 400) << corpo;
    }
    // Wrong shapes of the redeeming body are refused without counting as ticket failures.
    const std::vector<std::string> invalidos = {
        "{}",
        R"({"ticket":null})",
        R"({"ticket":")" + curto + R"("})",
        R"({"ticket":123})",
        R"({"ticket":")" + NovoToken() + R"(","tokenAtual":")" + curto + R"("})",
        R"({"ticket":")" + NovoToken() + R"(","tokenAtual":false})",
        "[]",
        "",
    };
    for (int rodada = 0; rodada < 2; ++rodada)
        for (const auto& corpo : invalidos)
            EXPECT_EQ(Post("/api/transferencia/consumir", corpo, {}, "127.0.0.9").Status, 400)
                << corpo;
    const std::string ticket =
        Post("/api/transferencia", "{}", token, "127.0.0.9").Json()["ticket"];
    EXPECT_EQ(Post("/api/transferencia/consumir",
                   TJson{{"ticket", ticket}, {"tokenAtual", ""}}.dump(), {}, "127.0.0.9")
                  .Status,
              200);
}

TEST_F(Endpoints, TransferenciaDeOutroEnderecoELimitador) {
    const std::string token = Parear("Ana");
    const std::string ticket = Post("/api/transferencia", "{}", token).Json()["ticket"];
    const std::string corpo = TJson{{"ticket", ticket}}.dump();
    // Another address cannot redeem it, and each try counts against that address.
    for (int i = 0; i < 9; ++i)
        ASSERT_EQ(Post("/api/transferencia/consumir", corpo, {}, "127.0.0.9").Status, 410);
    ASSERT_EQ(
        Post("/api/transferencia/consumir", TJson{{"ticket", NovoToken()}}.dump(), {}, "127.0.0.9")
            .Status,
        410);
    const TRespostaBruta bloqueado = Post("/api/transferencia/consumir", corpo, {}, "127.0.0.9");
    EXPECT_EQ(bloqueado.Status, 429);
    EXPECT_EQ(bloqueado.Cabecalho("retry-after"), "600");
    // The rightful holder is unaffected and the ticket is still good for it.
    EXPECT_EQ(Post("/api/transferencia/consumir", corpo).Status, 200);
}

TEST_F(Endpoints, TransferenciaExpiradaOuDeAparelhoRemovido) {
    std::string id;
    const std::string token = Parear("Ana", &id);
    const std::string vencido = Post("/api/transferencia", "{}", token).Json()["ticket"];
    AvancarRelogioTeste(VALIDADE_TRANSFERENCIA_MS);
    EXPECT_EQ(Post("/api/transferencia/consumir", TJson{{"ticket", vencido}}.dump()).Status, 410);

    const std::string ticket = Post("/api/transferencia", "{}", token).Json()["ticket"];
    ASSERT_TRUE(Estado().RemoverDispositivo(id));
    EXPECT_EQ(Post("/api/transferencia/consumir", TJson{{"ticket", ticket}}.dump()).Status, 410);
}

// ---------------------------------------------------------------------------------------------
// Many phones at once

TEST_F(Endpoints, MisturaConcorrente) {
    constexpr int CLIENTES = 16;
    constexpr int RODADAS = 6;
    const std::string token = Parear("Base");
    ASSERT_FALSE(token.empty());

    std::mutex trava;
    std::vector<std::string> novos;  // tokens of pairings that succeeded
    std::atomic<int> inesperados{0};
    auto anotar = [&](bool ok, const TRespostaBruta& r, const char* oque) {
        if (ok) return;
        ++inesperados;
        std::lock_guard<std::mutex> g(trava);
        ADD_FAILURE() << oque << " " << r.Status << " " << r.Falha;
    };

    std::vector<std::thread> clientes;
    for (int c = 0; c < CLIENTES; ++c) {
        clientes.emplace_back([&, c] {
            const std::string de = "127.0.0." + std::to_string(100 + c);
            for (int r = 0; r < RODADAS; ++r) {
                switch ((c + r) % 4) {
                    case 0: {
                        if (c % 2 == 0) Estado().AbrirPareamento();
                        const std::string codigo = Estado().ObterPareamento().Codigo;
                        const TRespostaBruta p =
                            Post("/api/parear",
                                 TJson{{"codigo", codigo.empty() ? "000000" : codigo},
                                       {"nomeDispositivo",
                                        "C" + std::to_string(c) + "-" + std::to_string(r)}}
                                     .dump(),
                                 {}, de);
                        anotar(p.Status == 200 || p.Status == 403 || p.Status == 410 ||
                                   p.Status == 429,
                               p, "parear");
                        if (p.Status == 200) {
                            std::lock_guard<std::mutex> g(trava);
                            novos.push_back(p.Json()["token"]);
                        }
                        break;
                    }
                    case 1: {
                        const TRespostaBruta s = Get("/api/status", token, de);
                        anotar(s.Status == 200 && s.Json()["dispositivo"]["nome"] == "Base", s,
                               "status");
                        break;
                    }
                    case 2: {
                        const TRespostaBruta t = Post("/api/transferencia", "{}", token, de);
                        anotar(t.Status == 200, t, "transferencia");
                        if (t.Status != 200) break;
                        const TRespostaBruta u =
                            Post("/api/transferencia/consumir",
                                 TJson{{"ticket", t.Json()["ticket"]}}.dump(), {}, de);
                        // Sixteen tickets at most are pending; a busy moment may push one out.
                        anotar(u.Status == 200 || u.Status == 410, u, "consumir");
                        break;
                    }
                    default: {
                        const TRespostaBruta g = Get("/api/ping", {}, de);
                        anotar(g.Status == 200, g, "ping");
                        break;
                    }
                }
            }
        });
    }
    for (auto& t : clientes) t.join();
    EXPECT_EQ(inesperados.load(), 0);
    EXPECT_EQ(Estado().Dispositivos().size(), 1 + novos.size());
    for (const auto& t : novos) EXPECT_EQ(Get("/api/status", t).Status, 200);
}

}  // namespace
}  // namespace velorin
