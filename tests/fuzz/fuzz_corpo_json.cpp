// libFuzzer target for the API's JSON body reader and member readers: arbitrary bodies must
// never crash them, a refusal is always the fixed 400 answer, and whatever is accepted is an
// object no deeper than the reader allows, whose members read back consistently.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "api/api.h"
#include "http/mensagem_http.h"

using namespace velorin;

namespace {

constexpr int PROFUNDIDADE_MAXIMA = 4;

void Exigir(bool condicao) {
    if (!condicao) std::abort();
}

// Depth of containers, counting stops just past the maximum (so the recursion stays shallow).
int Profundidade(const TJson& j, int limite) {
    if (!j.is_structured()) return 0;
    if (limite <= 0) return 1;
    int maior = 0;
    for (const auto& filho : j) {
        const int p = Profundidade(filho, limite - 1);
        if (p > maior) maior = p;
    }
    return 1 + maior;
}

void ConferirMembros(const TJson& objeto) {
    for (const auto& [nome, valor] : objeto.items()) {
        std::string texto;
        bool presente = false;
        const bool okTexto = LerTexto(objeto, nome.c_str(), texto, presente);
        Exigir(presente == !valor.is_null());
        Exigir(okTexto == (valor.is_null() || valor.is_string()));
        if (okTexto && presente) Exigir(texto == valor.get<std::string>());

        bool logico = true;
        const bool okLogico = LerLogico(objeto, nome.c_str(), logico, presente);
        Exigir(okLogico == (valor.is_null() || valor.is_boolean()));
        if (okLogico && presente) Exigir(logico == valor.get<bool>());
        if (!presente) Exigir(!logico);

        const std::int64_t faixas[][2] = {{0, 100}, {-2000, 2000}, {INT64_MIN, INT64_MAX}, {1, 0}};
        for (const auto& f : faixas) {
            std::int64_t n = -1;
            const bool okInteiro = LerInteiro(objeto, nome.c_str(), f[0], f[1], n, presente);
            if (!valor.is_null() && !valor.is_number()) Exigir(!okInteiro);
            if (okInteiro && presente) {
                Exigir(valor.is_number());
                Exigir(n >= f[0] && n <= f[1]);
                Exigir(static_cast<double>(n) == valor.get<double>());
            }
            if (okInteiro && !presente) Exigir(n == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    // The parser never hands the API a larger body.
    if (tamanho > LIMITE_CORPO) return 0;
    TRequisicaoHttp req;
    req.Corpo.assign(reinterpret_cast<const char*>(dados), tamanho);
    TRespostaHttp resp;
    TJson objeto;
    const bool aceito = LerCorpoJson(req, resp, objeto);

    if (!aceito) {
        Exigir(resp.Status == 400);
        Exigir(resp.Corpo == R"({"erro":"requisicao_invalida","mensagem":"Requisição inválida."})");
        // Anything the JSON parser takes as an object within the depth must have been accepted,
        // except a body with a NUL byte, where the parser stops reading and the reader refuses.
        const TJson lido = TJson::parse(req.Corpo, nullptr, false);
        if (lido.is_object() && req.Corpo.find('\0') == std::string::npos)
            Exigir(Profundidade(lido, PROFUNDIDADE_MAXIMA + 1) > PROFUNDIDADE_MAXIMA);
        return 0;
    }
    Exigir(objeto.is_object());
    Exigir(req.Corpo.find('\0') == std::string::npos);
    Exigir(Profundidade(objeto, PROFUNDIDADE_MAXIMA + 1) <= PROFUNDIDADE_MAXIMA);
    ConferirMembros(objeto);

    // Whatever was accepted can be answered back, and reads the same again.
    TRespostaHttp eco;
    ResponderJson(eco, 200, objeto);
    Exigir(eco.Status == 200);
    Exigir(TJson::parse(eco.Corpo, nullptr, false) == objeto);
    return 0;
}
