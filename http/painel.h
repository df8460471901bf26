// The phone panel's files: compiled into the executable, or read fresh from a folder while
// developing ("--web").
#pragma once

#include <cstddef>
#include <string>

#include "http/mensagem_http.h"

namespace velorin {

struct TArquivoWeb {
    const char* Caminho;
    const char* Recurso;
    const char* NomeArquivo;
    const char* TipoConteudo;
    bool SemCache;
};

// One file compiled into the executable, found by its resource name ("WEB_INDEX", ...).
struct TRecursoEmbutido {
    const char* Nome;
    const unsigned char* Dados;
    std::size_t Tamanho;
};

// The executable hands its compiled-in files over before CarregarPainel; tests pass their own.
void DefinirRecursosPainel(const TRecursoEmbutido* recursos, std::size_t quantidade);

// Empty folder: the compiled-in files; otherwise that folder, read on every request.
void CarregarPainel(const std::string& pasta);
[[nodiscard]] bool ProcurarArquivoWeb(const std::string& caminho, std::string& bytes, TArquivoWeb& arquivo);
[[nodiscard]] bool PainelPresente();
// The gate's handler for every path outside "/api/".
void ServirArquivo(const TRequisicaoHttp& req, TRespostaHttp& resp);

}  // namespace velorin
