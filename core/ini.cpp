#include "core/ini.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/texto.h"

namespace velorin {

namespace {

bool Espaco(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

bool EntreAspas(std::string_view v) {
    return v.size() >= 2 && v.front() == '"' && v.back() == '"';
}

// A value the reader would otherwise change: edges it would trim, or quotes it would remove.
bool PrecisaAspas(std::string_view v) {
    if (v.empty()) return false;
    return Espaco(v.front()) || Espaco(v.back()) || EntreAspas(v);
}

// One line of output: CR and LF would end the line early and let the rest pose as a section
// or key of its own.
void AcrescentarLinha(std::string& saida, std::string_view texto) {
    for (char c : texto) saida += (c == '\r' || c == '\n') ? ' ' : c;
}

}  // namespace

TIni TIni::Ler(std::string_view texto) {
    TIni ini;
    if (texto.starts_with("\xEF\xBB\xBF")) texto.remove_prefix(3);

    std::unordered_map<std::string, std::size_t> indice;         // section name -> position
    std::vector<std::unordered_set<std::string>> chaves_vistas;  // per section, for "first wins"
    std::size_t atual = SIZE_MAX;                                // no section yet

    while (!texto.empty()) {
        const std::size_t fim = texto.find('\n');
        std::string_view linha = texto.substr(0, fim);
        texto.remove_prefix(fim == std::string_view::npos ? texto.size() : fim + 1);

        const std::string aparada = Aparar(linha);
        if (aparada.empty() || aparada.front() == ';' || aparada.front() == '#') continue;

        if (aparada.front() == '[') {
            const std::size_t fecha = aparada.rfind(']');
            if (fecha == std::string::npos || fecha == 0) continue;  // junk, section unchanged
            std::string nome = Aparar(std::string_view(aparada).substr(1, fecha - 1));
            auto [it, nova] = indice.try_emplace(nome, ini.secoes_.size());
            if (nova) {
                ini.secoes_.push_back(TSecao{std::move(nome), {}});
                chaves_vistas.emplace_back();
            }
            atual = it->second;
            continue;
        }

        if (atual == SIZE_MAX) continue;
        const std::size_t igual = linha.find('=');
        if (igual == std::string_view::npos) continue;
        std::string chave = Aparar(linha.substr(0, igual));
        if (chave.empty()) continue;
        if (!chaves_vistas[atual].insert(chave).second) continue;

        std::string valor = Aparar(linha.substr(igual + 1));
        if (EntreAspas(valor)) valor = valor.substr(1, valor.size() - 2);
        ini.secoes_[atual].Chaves.emplace_back(std::move(chave), std::move(valor));
    }
    return ini;
}

std::string TIni::Texto() const {
    std::string saida;
    bool primeira = true;
    for (const TSecao& s : secoes_) {
        if (!primeira) saida += '\n';
        primeira = false;
        saida += '[';
        AcrescentarLinha(saida, s.Nome);
        saida += "]\n";
        for (const auto& [chave, valor] : s.Chaves) {
            AcrescentarLinha(saida, chave);
            saida += '=';
            // Quote after turning line breaks into blanks, so an edge that became a blank is
            // still protected.
            std::string limpo;
            AcrescentarLinha(limpo, valor);
            if (PrecisaAspas(limpo)) {
                saida += '"';
                saida += limpo;
                saida += '"';
            } else {
                saida += limpo;
            }
            saida += '\n';
        }
    }
    return saida;
}

const TIni::TSecao* TIni::Achar(std::string_view secao) const {
    for (const TSecao& s : secoes_)
        if (s.Nome == secao) return &s;
    return nullptr;
}

TIni::TSecao* TIni::Achar(std::string_view secao) {
    for (TSecao& s : secoes_)
        if (s.Nome == secao) return &s;
    return nullptr;
}

bool TIni::Valor(const TSecao& secao, std::string_view chave, std::string& valor) {
    for (const auto& [k, v] : secao.Chaves) {
        if (k == chave) {
            valor = v;
            return true;
        }
    }
    return false;
}

bool TIni::Valor(std::string_view secao, std::string_view chave, std::string& valor) const {
    const TSecao* s = Achar(secao);
    return s != nullptr && Valor(*s, chave, valor);
}

std::string TIni::Texto(std::string_view secao, std::string_view chave,
                        std::string_view padrao) const {
    std::string valor;
    if (!Valor(secao, chave, valor)) return std::string(padrao);
    return valor;
}

void TIni::Escrever(std::string_view secao, std::string_view chave, std::string_view valor) {
    TSecao* s = Achar(secao);
    if (s == nullptr) {
        secoes_.push_back(TSecao{std::string(secao), {}});
        s = &secoes_.back();
    }
    for (auto& [k, v] : s->Chaves) {
        if (k == chave) {
            v = valor;
            return;
        }
    }
    s->Chaves.emplace_back(std::string(chave), std::string(valor));
}

}  // namespace velorin
