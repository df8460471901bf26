#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/log.h"
#include "core/recursos.h"

namespace velorin {

namespace {

std::mutex trava_log;
// Read and written only under trava_log; copied out before any file work.
std::string caminho_log;

std::string LinhaComHora(std::string_view mensagem) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char hora[96];
    std::snprintf(hora, sizeof hora, "%04d-%02d-%02d %02d:%02d:%02d.%03d  ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ts.tv_nsec / 1000000));
    std::string linha(hora);
    linha.append(mensagem);
    linha += "\r\n";
    return linha;
}

// Opens log.txt for appending with an exclusive lock, so a second copy of the program (the
// update helper, say) never writes into the middle of our line. A busy file loses the line.
TDescritor AbrirExclusivo(const std::string& caminho, int extra) {
    TDescritor fd(::open(caminho.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | extra, 0600));
    if (fd && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) fd.Fechar();
    return fd;
}

std::string NomeAntigo(const std::string& caminho) {
    const std::string ext = ".txt";
    if (caminho.size() >= ext.size() && caminho.compare(caminho.size() - ext.size(), ext.size(), ext) == 0)
        return caminho.substr(0, caminho.size() - ext.size()) + ".old.txt";
    return caminho + ".old.txt";
}

}  // namespace

void AbrirLog(const std::string& pasta) {
    std::string c = pasta;
    if (c.empty() || c.back() != '/') c += '/';
    c += "log.txt";
    std::lock_guard<std::mutex> g(trava_log);
    caminho_log = std::move(c);
}

void FecharLog() {
    std::lock_guard<std::mutex> g(trava_log);
    caminho_log.clear();
}

std::string CaminhoLog() {
    std::lock_guard<std::mutex> g(trava_log);
    return caminho_log;
}

void Log(std::string_view mensagem) {
    try {
        {
            std::lock_guard<std::mutex> g(trava_log);
            if (caminho_log.empty()) return;
        }
        const std::string linha = LinhaComHora(mensagem);
        std::lock_guard<std::mutex> g(trava_log);
        if (caminho_log.empty()) return;
        TDescritor fd = AbrirExclusivo(caminho_log, 0);
        if (!fd) return;
        struct stat st{};
        if (::fstat(fd.Get(), &st) != 0) return;
        if (st.st_size > LIMITE_LOG) {
            fd.Fechar();
            const std::string antigo = NomeAntigo(caminho_log);
            ::unlink(antigo.c_str());
            // When the rename fails the truncating open below still starts a fresh file.
            ::rename(caminho_log.c_str(), antigo.c_str());
            fd = AbrirExclusivo(caminho_log, O_TRUNC);
            if (!fd) return;
        }
        (void)EscreverTudo(fd.Get(), linha.data(), linha.size());
    } catch (...) {
        // Logging must never disturb the caller (out of memory while formatting, say).
    }
}

void LogFmt(const char* formato, ...) {
    std::string linha;
    try {
        va_list args;
        va_start(args, formato);
        linha = FormatarV(formato, args);
        va_end(args);
    } catch (...) {
        return;  // out of memory: the line is lost, the caller is not disturbed
    }
    Log(linha);
}

}  // namespace velorin
