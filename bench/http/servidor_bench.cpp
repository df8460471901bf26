// A minimal program around the real TServidorHttp for load measurements: every request gets
// the same small JSON answer. Runs until SIGINT or SIGTERM.
//   servidor_bench <porta> [--sem-limites]
// --sem-limites lifts the connection caps (32 total, 8 per address), since a load generator on
// loopback comes from one address and would otherwise measure the cap rather than the server.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/servidor_http.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "uso: %s <porta> [--sem-limites]\n", argv[0]);
        return 2;
    }
    const auto porta = static_cast<std::uint16_t>(std::atoi(argv[1]));
    velorin::TLimitesServidorHttp limites;
    if (argc > 2 && std::strcmp(argv[2], "--sem-limites") == 0) {
        limites.MaxConexoes = 1 << 20;
        limites.MaxPorEndereco = 1 << 20;
    }

    // Blocked before any thread starts, so every thread inherits the mask and sigwait below is
    // the only receiver.
    sigset_t sinais;
    sigemptyset(&sinais);
    sigaddset(&sinais, SIGINT);
    sigaddset(&sinais, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sinais, nullptr);

    const std::string corpo =
        "{\"nome\":\"PC-BANCADA\",\"versao\":\"1.0.7\",\"pausado\":false,\"volume\":40,\"mudo\":false}";
    velorin::TServidorHttp servidor(
        "127.0.0.1",
        [](bool ok, const std::string& texto) {
            if (!ok) {
                std::fprintf(stderr, "servidor falhou: %s\n", texto.c_str());
                std::exit(1);
            }
            std::fprintf(stderr, "escutando\n");
        },
        [](int status, velorin::TRespostaHttp& resp) {
            resp.Definir(status, "application/json; charset=utf-8", "{\"erro\":\"transporte\"}");
        },
        [&corpo](const velorin::TRequisicaoHttp&, velorin::TRespostaHttp& resp) {
            resp.Definir(200, "application/json; charset=utf-8", corpo);
            resp.DefinirCabecalho("Cache-Control", "no-store");
        },
        porta, limites);
    servidor.Iniciar();
    int sinal = 0;
    sigwait(&sinais, &sinal);
    const int restantes = servidor.Parar();
    std::fprintf(stderr, "parado (%d conexoes restantes)\n", restantes);
    return restantes == 0 ? 0 : 1;
}
