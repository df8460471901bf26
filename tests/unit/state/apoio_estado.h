// What the state tests share: a temporary log, the test clock, a sink that records events, and
// device records with known secrets.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/config.h"
#include "core/log.h"
#include "core/relogio.h"
#include "core/seguranca.h"
#include "state/estado.h"

namespace velorin::teste {

// A well-formed token or key made of one repeated character; distinct characters give distinct
// secrets whose hashes the tests can compute.
inline std::string Segredo(char c) {
    return std::string(43, c);
}

inline TDispositivo Dispositivo(const std::string& id, const std::string& nome,
                                const std::string& token, const std::string& chave = {}) {
    TDispositivo d;
    d.Id = id;
    d.Nome = nome;
    d.TokenHash = Sha256Hex(token);
    if (!chave.empty()) d.ChaveHash = Sha256Hex(chave);
    d.CriadoEm = 45000.5;  // some day in 2023
    d.UltimoAcesso = 45000.5;
    d.UltimoIp = "192.168.0.9";
    return d;
}

inline std::vector<std::string> Ids(const TDispositivos& lista) {
    std::vector<std::string> ids;
    for (const TDispositivo& d : lista) ids.push_back(d.Id);
    return ids;
}

class TBaseEstado : public ::testing::Test {
  protected:
    static constexpr std::uint64_t INICIO = 5'000'000'000ULL;

    void SetUp() override {
        AbrirLog(pasta.Caminho());
        DefinirRelogioTeste(INICIO);
    }
    void TearDown() override {
        if (estado) estado->DefinirAoEvento({});
        FecharLog();
        LiberarRelogioTeste();
    }

    // Creates the state under test with a recording sink.
    TEstado& Criar(const TConfig& cfg = {}) {
        estado = std::make_unique<TEstado>(cfg);
        estado->DefinirAoEvento([this](std::unique_ptr<TEvento> e) {
            std::lock_guard<std::mutex> g(travaEventos);
            eventos.push_back(*e);
        });
        return *estado;
    }

    std::vector<TEvento> Eventos() {
        std::lock_guard<std::mutex> g(travaEventos);
        return eventos;
    }
    std::vector<TTipoEvento> Tipos() {
        std::vector<TTipoEvento> t;
        for (const TEvento& e : Eventos()) t.push_back(e.Tipo);
        return t;
    }

    std::string TextoLog() const { return LerArquivo(pasta / "log.txt"); }
    // The log's messages without their time stamps.
    std::vector<std::string> Linhas() const {
        std::vector<std::string> linhas;
        const std::string texto = TextoLog();
        std::size_t i = 0;
        while (i < texto.size()) {
            std::size_t fim = texto.find("\r\n", i);
            if (fim == std::string::npos) fim = texto.size();
            const std::string linha = texto.substr(i, fim - i);
            const std::size_t sep = linha.find("  ");
            linhas.push_back(sep == std::string::npos ? linha : linha.substr(sep + 2));
            i = fim + 2;
        }
        return linhas;
    }

    TPastaTemporaria pasta;
    std::unique_ptr<TEstado> estado;
    std::mutex travaEventos;
    std::vector<TEvento> eventos;
};

}  // namespace velorin::teste
