#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/recursos.h"
#include "core/substituir.h"
#include "core/texto.h"

namespace velorin {

namespace {

// Pauses after attempts 1..5: 775 ms in all, so a held file costs under a second.
constexpr std::int32_t ESPERAS_MS[MAXIMO_TENTATIVAS_SUBSTITUIR - 1] = {25, 50, 100, 200, 400};

std::mutex trava_ganchos;
TMoverArquivo mover_teste;
TEsperarMs esperar_teste;

// The errors that mean "someone else has the file right now" and may clear up by themselves.
// EPERM is not among them: rename gives it for an immutable or append-only target and for a
// sticky folder owned by someone else, and none of those passes in a second.
bool EmUso(int erro) {
    return erro == EBUSY || erro == EACCES || erro == ETXTBSY;
}

void FsyncPasta(const std::string& caminho) {
    const std::size_t barra = caminho.rfind('/');
    const std::string pasta = barra == std::string::npos ? "." : caminho.substr(0, barra + 1);
    TDescritor fd(::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The rename has happened either way; a folder that cannot be synced only loses durability
    // against a power cut, which no retry would win back.
    if (fd) (void)::fsync(fd.Get());
}

// rename() replaces atomically; fsync before it keeps the new name from pointing at data that
// never reached the disk, and fsync of the folder after it makes the new name itself durable.
int MoverReal(const char* origem, const char* destino) {
    {
        // A source we cannot open is left to rename(), which reports the real reason (ENOENT
        // for a missing one).
        TDescritor fd(::open(origem, O_RDONLY | O_CLOEXEC));
        if (fd && ::fsync(fd.Get()) != 0) return errno;
    }
    if (::rename(origem, destino) != 0) return errno;
    FsyncPasta(destino);
    return 0;
}

std::string NomeArquivo(const std::string& caminho) {
    const std::size_t barra = caminho.rfind('/');
    return barra == std::string::npos ? caminho : caminho.substr(barra + 1);
}

}  // namespace

void DefinirMoverParaTeste(TMoverArquivo mover) {
    std::lock_guard<std::mutex> g(trava_ganchos);
    mover_teste = std::move(mover);
}

void DefinirEsperaParaTeste(TEsperarMs esperar) {
    std::lock_guard<std::mutex> g(trava_ganchos);
    esperar_teste = std::move(esperar);
}

bool SubstituirArquivoDetalhado(const std::string& origem, const std::string& destino,
                                std::int32_t& tentativas, std::int32_t& erro) {
    TMoverArquivo mover;
    TEsperarMs esperar;
    {
        std::lock_guard<std::mutex> g(trava_ganchos);
        mover = mover_teste;
        esperar = esperar_teste;
    }
    if (!mover) mover = MoverReal;
    if (!esperar)
        esperar = [](std::int32_t ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        };

    tentativas = 0;
    erro = 0;
    int primeiro_erro = 0;
    for (;;) {
        ++tentativas;
        erro = mover(origem.c_str(), destino.c_str());
        if (erro != 0 && primeiro_erro == 0) primeiro_erro = erro;
        if (erro == 0 || !EmUso(erro) || tentativas >= MAXIMO_TENTATIVAS_SUBSTITUIR) break;
        esperar(ESPERAS_MS[tentativas - 1]);
    }
    if (erro == 0 && tentativas > 1) {
        LogFmt("%s em uso (erro %d), gravado na tentativa %d",
               TextoParaLog(NomeArquivo(destino), 260).c_str(), primeiro_erro, tentativas);
    }
    errno = erro;
    return erro == 0;
}

bool SubstituirArquivo(const std::string& origem, const std::string& destino) {
    std::int32_t tentativas = 0;
    std::int32_t erro = 0;
    const bool ok = SubstituirArquivoDetalhado(origem, destino, tentativas, erro);
    errno = erro;
    return ok;
}

}  // namespace velorin
