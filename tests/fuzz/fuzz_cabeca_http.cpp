// libFuzzer target for the request head parser: arbitrary bytes must never crash it, and every
// answer must keep the promises the connection code relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http/mensagem_http.h"

using namespace velorin;

namespace {

void Exigir(bool condicao) {
    if (!condicao) std::abort();
}

bool EhToken(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    const std::string_view buffer(reinterpret_cast<const char*>(dados), tamanho);
    TRequisicaoHttp req;
    std::size_t tamanhoCabeca = 0;
    int status = -1;
    const int r = AnalisarCabeca(buffer, req, tamanhoCabeca, status);
    Exigir(r == 0 || r == 1 || r == 2);
    if (r == 0) {
        // Still reading: the buffer can only be this large while no blank line has arrived.
        Exigir(status == 0 && tamanho <= LIMITE_CABECA);
        Exigir(buffer.find("\r\n\r\n") == std::string_view::npos);
        return 0;
    }
    if (r == 2) {
        Exigir(status == 400 || status == 413 || status == 414 || status == 431 || status == 501 ||
               status == 505);
        return 0;
    }
    Exigir(status == 0);
    Exigir(tamanhoCabeca >= 4 && tamanhoCabeca <= tamanho && tamanhoCabeca <= LIMITE_CABECA);
    Exigir(buffer.substr(tamanhoCabeca - 4, 4) == "\r\n\r\n");
    Exigir(buffer.substr(0, tamanhoCabeca - 4).find("\r\n\r\n") == std::string_view::npos);
    Exigir(!req.Metodo.empty() && req.Metodo.size() <= LIMITE_METODO);
    for (char c : req.Metodo) Exigir(c >= 'A' && c <= 'Z');
    Exigir(req.Versao == "HTTP/1.1" || req.Versao == "HTTP/1.0");
    Exigir(!req.Alvo.empty() && req.Alvo[0] == '/' && req.Alvo.size() <= LIMITE_ALVO);
    for (char c : req.Alvo) Exigir(c >= 33 && c <= 126);
    Exigir(req.Alvo == (req.Consulta.empty() && req.Alvo.find('?') == std::string::npos
                            ? req.Caminho
                            : req.Caminho + "?" + req.Consulta));
    Exigir(req.Caminho.find('?') == std::string::npos);
    Exigir(req.Cabecalhos.size() <= LIMITE_LINHAS_CABECALHO);
    for (const TCabecalhoHttp& c : req.Cabecalhos) {
        Exigir(!c.Nome.empty());
        for (char ch : c.Nome) Exigir(EhToken(ch));
        for (char ch : c.Valor) Exigir(static_cast<unsigned char>(ch) >= 32 || ch == '\t');
        Exigir(c.Valor.empty() || (c.Valor.front() != ' ' && c.Valor.front() != '\t' &&
                                   c.Valor.back() != ' ' && c.Valor.back() != '\t'));
    }
    Exigir(req.ContarCabecalho("host") <= 1);
    Exigir(req.Versao == "HTTP/1.0" || req.ContarCabecalho("host") == 1);
    Exigir(!req.TemCabecalho("transfer-encoding"));
    const std::string tamanhoCorpo = req.Cabecalho("content-length");
    if (req.TemCabecalho("content-length")) {
        Exigir(!tamanhoCorpo.empty() && tamanhoCorpo.size() <= LIMITE_DIGITOS_TAMANHO);
        for (const TCabecalhoHttp& c : req.Cabecalhos)
            if (c.Nome == "content-length") Exigir(c.Valor == tamanhoCorpo);
        Exigir(std::strtoul(tamanhoCorpo.c_str(), nullptr, 10) <= LIMITE_CORPO);
    }

    // Stateless: the head alone, without what follows it, gives the same answer.
    TRequisicaoHttp outra;
    std::size_t outroTamanho = 0;
    int outroStatus = -1;
    Exigir(AnalisarCabeca(buffer.substr(0, tamanhoCabeca), outra, outroTamanho, outroStatus) == 1);
    Exigir(outroTamanho == tamanhoCabeca && outra.Alvo == req.Alvo &&
           outra.Cabecalhos.size() == req.Cabecalhos.size());

    // Whatever was parsed can be echoed into a response without breaking its framing.
    TRespostaHttp resp;
    resp.Definir(200, req.Cabecalho("content-type"), req.Alvo);
    for (const TCabecalhoHttp& c : req.Cabecalhos) resp.DefinirCabecalho(c.Nome, c.Valor);
    const std::string bytes = EscreverResposta(resp);
    Exigir(bytes.find("\r\n\r\n") == bytes.size() - req.Alvo.size() - 4);
    return 0;
}
