// HTTP/1.1 messages as the local server understands them: one request per connection, no
// chunked bodies, small heads and bodies, and every answer closes the connection. Also the IPv4
// helpers shared by the listener and the request gate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velorin {

// Head limits. Anything a phone panel sends fits far inside them; a larger head or body is
// either a mistake or an attack on the connection threads' memory.
inline constexpr std::size_t LIMITE_CABECA = 8192;
inline constexpr std::size_t LIMITE_LINHAS_CABECALHO = 50;
inline constexpr std::size_t LIMITE_METODO = 10;
inline constexpr std::size_t LIMITE_ALVO = 1024;
inline constexpr std::size_t LIMITE_DIGITOS_TAMANHO = 7;
inline constexpr std::size_t LIMITE_CORPO = 8192;

struct TCabecalhoHttp {
    std::string Nome;
    std::string Valor;
};

class TRequisicaoHttp {
public:
    std::string Metodo;   // upper-case ASCII letters, 1-10 of them
    std::string Alvo;     // target as received
    std::string Caminho;  // Alvo before the first "?"
    std::string Consulta; // Alvo after the first "?", empty when there is none
    std::string Versao;   // "HTTP/1.1" or "HTTP/1.0"
    std::vector<TCabecalhoHttp> Cabecalhos;  // received order; names lower-case, values trimmed
    std::string Corpo;    // exactly Content-Length bytes
    std::string IpCliente;  // peer address, dotted; set by the connection

    void Limpar();
    // Value of the first header named exactly `nome` (pass it lower-case); empty when absent.
    [[nodiscard]] std::string Cabecalho(std::string_view nome) const;
    [[nodiscard]] int ContarCabecalho(std::string_view nome) const;
    [[nodiscard]] bool TemCabecalho(std::string_view nome) const;
};

class TRespostaHttp {
public:
    std::int32_t Status = 200;
    std::string TipoConteudo;  // no Content-Type line when empty
    std::string Corpo;
    std::vector<TCabecalhoHttp> Cabecalhos;  // extra lines, in insertion order

    void Limpar();
    void Definir(std::int32_t status, std::string tipoConteudo, std::string corpo);
    // Drops CR and LF from the value; replaces the value of a header with the same name (ASCII
    // case ignored) in place, else appends.
    void DefinirCabecalho(std::string_view nome, std::string_view valor);
};

// Outcomes of AnalisarCabeca.
inline constexpr int CABECA_INCOMPLETA = 0;
inline constexpr int CABECA_PRONTA = 1;
inline constexpr int CABECA_RECUSADA = 2;

// Parses the request head at the start of `buffer` (everything received so far). Keeps no
// state between calls: the connection calls it again on the whole buffer after each receive.
//   0: no blank line yet, read more;
//   1: `req` holds the head, `tamanhoCabeca` counts its bytes through the blank line, status 0;
//   2: refuse the request with `status` (400, 413, 414, 431, 501 or 505).
[[nodiscard]] int AnalisarCabeca(std::string_view buffer, TRequisicaoHttp& req,
                                 std::size_t& tamanhoCabeca, int& status);

// The complete bytes of the response; always "Connection: close", and a 204 carries no type,
// no length and no body.
[[nodiscard]] std::string EscreverResposta(const TRespostaHttp& resp);

// Reason phrase of a status code; "Unknown" for codes we never send.
[[nodiscard]] std::string FraseStatus(int codigo);

// IPv4 addresses are 32-bit numbers with the first dotted part in the most significant byte.
[[nodiscard]] std::string TextoIpv4(std::uint32_t endereco);
// Exactly four dot-separated parts of 1-3 digits each, each at most 255 ("010" is 10).
[[nodiscard]] bool LerIpv4(std::string_view texto, std::uint32_t& endereco);
// Loopback, private, and link-local ranges; the carrier-grade NAT range 100.64.0.0/10 only in
// the internet edition, whose relay can reach the PC through such a network.
[[nodiscard]] bool EnderecoLocal(std::uint32_t endereco);

}  // namespace velorin
