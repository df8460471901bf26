#include "apoio_api.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "actions/atalhos.h"
#include "actions/audio.h"
#include "actions/tela.h"
#include "core/config.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/recursos.h"
#include "core/relogio.h"
#include "core/texto.h"
#include "http/painel.h"
#include "state/estado.h"

namespace velorin::teste {

namespace {

// A one-file panel, so panel paths have something to serve.
constexpr unsigned char INDICE[] = "<!doctype html><title>painel</title>";
const TRecursoEmbutido RECURSOS_TESTE[] = {{"WEB_INDEX", INDICE, sizeof INDICE - 1}};

// The listener reports its start on its own thread.
struct TSinalInicio {
    std::mutex trava;
    std::condition_variable mudou;
    bool chegou = false;
    bool ok = false;
};

}  // namespace

TesteApi::TesteApi() = default;
TesteApi::~TesteApi() = default;

void TesteApi::SetUp() {
    simularAnterior_ = Parametros.Simular;
    Parametros.Simular = true;
    DefinirRelogioTeste(INICIO_RELOGIO_MS);
    AbrirLog(pasta_.Caminho());
    DefinirRecursosPainel(RECURSOS_TESTE, std::size(RECURSOS_TESTE));
    CarregarPainel("");
    Iniciar(false);
}

void TesteApi::TearDown() {
    Parar();
    DefinirRecursosPainel(nullptr, 0);
    CarregarPainel("");
    ReiniciarSimulacaoAudioTeste();
    ReiniciarTelaTeste();
    FecharLog();
    LiberarRelogioTeste();
    Parametros.Simular = simularAnterior_;
}

void TesteApi::Reiniciar(bool comAtalhos) {
    Parar();
    Iniciar(comAtalhos);
}

void TesteApi::Iniciar(bool comAtalhos) {
    ReiniciarSimulacaoAudioTeste();
    ReiniciarTelaTeste();
    estado_ = std::make_unique<TEstado>(ConfigPadrao());
    if (comAtalhos) atalhos_ = std::make_unique<TGestorAtalhos>(pasta_.Caminho());
    IniciarApi(*estado_, atalhos_.get());

    auto sinal = std::make_shared<TSinalInicio>();
    servidor_ = std::make_unique<TServidorHttp>(
        "127.0.0.1",
        [sinal](bool ok, const std::string&) {
            {
                std::lock_guard<std::mutex> g(sinal->trava);
                if (sinal->chegou) return;
                sinal->chegou = true;
                sinal->ok = ok;
            }
            sinal->mudou.notify_all();
        },
        TratarErroHttp, TratarRequisicao, 0, limites_);
    servidor_->Iniciar();
    std::unique_lock<std::mutex> g(sinal->trava);
    ASSERT_TRUE(sinal->mudou.wait_for(g, std::chrono::seconds(10), [&] { return sinal->chegou; }));
    ASSERT_TRUE(sinal->ok);
    porta_ = servidor_->PortaLocal();
    ASSERT_NE(porta_, 0);
}

void TesteApi::Parar() {
    if (servidor_) {
        EXPECT_EQ(servidor_->Parar(), 0);
        servidor_.reset();
    }
    EncerrarApi();
    atalhos_.reset();
    estado_.reset();
}

TRespostaBruta TesteApi::Pedir(const TPedido& pedido) {
    return EnviarBytes(porta_, MontarRequisicao(pedido, porta_), pedido.De);
}

TRespostaBruta TesteApi::Get(const std::string& caminho, const std::string& token,
                             const std::string& de) {
    TPedido p;
    p.Caminho = caminho;
    p.Token = token;
    p.De = de;
    return Pedir(p);
}

TRespostaBruta TesteApi::Post(const std::string& caminho, const std::string& corpo,
                              const std::string& token, const std::string& de) {
    TPedido p;
    p.Metodo = "POST";
    p.Caminho = caminho;
    p.Corpo = corpo;
    p.Token = token;
    p.De = de;
    return Pedir(p);
}

std::string TesteApi::Parear(const std::string& nome, std::string* id, const std::string& de) {
    estado_->AbrirPareamento();
    TJson corpo = TJson::object();
    corpo["codigo"] = estado_->ObterPareamento().Codigo;
    corpo["nomeDispositivo"] = nome;
    const TRespostaBruta r = Post("/api/parear", corpo.dump(), {}, de);
    const TJson j = r.Json();
    if (r.Status != 200 || !j.is_object()) return {};
    if (id) *id = j.value("dispositivoId", "");
    return j.value("token", "");
}

std::string TesteApi::Log() const {
    return LerArquivo(pasta_ / "log.txt");
}

}  // namespace velorin::teste
