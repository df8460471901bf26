// Paired devices and the pairing session: device names, codes and their attempt rounds, pairing
// with re-pairing and duplicate removal, token checks and removal of devices.
#include <cmath>

#include "core/log.h"
#include "core/relogio.h"
#include "core/seguranca.h"
#include "core/texto.h"
#include "state/estado.h"

namespace velorin {

namespace {

constexpr std::size_t TAMANHO_CODIGO = 6;
constexpr std::size_t TAMANHO_TOKEN = 43;
// Routine traffic refreshes a device's last use (and so causes a save) about once a minute.
constexpr double INTERVALO_ULTIMO_ACESSO_S = 60;
constexpr double SEGUNDOS_POR_DIA = 86400;

bool Descartavel(char16_t c) {
    return c <= 31 || (c >= 127 && c <= 159) || c == 0x2028 || c == 0x2029;
}

bool SurrogadoAlto(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

// First `n` code points of a UTF-16 text (a surrogate pair is one).
std::u16string PrimeirosCodepoints(const std::u16string& texto, std::size_t n) {
    std::size_t i = 0, contados = 0;
    while (i < texto.size() && contados < n) {
        const bool par = SurrogadoAlto(texto[i]) && i + 1 < texto.size() &&
                         texto[i + 1] >= 0xDC00 && texto[i + 1] <= 0xDFFF;
        i += par ? 2 : 1;
        ++contados;
    }
    return texto.substr(0, i);
}

// The hash of a secret the phone sent, when it has the only form we accept; anything else
// counts as absent.
std::string HashSeValido(const std::string& segredo) {
    return TokenValido(segredo) ? Sha256Hex(segredo) : std::string();
}

// Ids are 8 random hex digits; a clash with a stored one is unlikely but would make two records
// indistinguishable for removal, so it is drawn again.
std::string IdNovo(const TDispositivos& lista) {
    for (;;) {
        std::string id = IdAleatorio();
        bool usado = false;
        for (const TDispositivo& d : lista) usado = usado || d.Id == id;
        if (!usado) return id;
    }
}

bool MesmoHash(const std::string& guardado, const std::string& procurado) {
    return !procurado.empty() && IguaisTempoConstante(guardado, procurado);
}

}  // namespace

std::string NomeDispositivo(std::string_view nome) {
    // Control characters go without leaving a blank, so "iPhone\nX" becomes "iPhoneX".
    std::u16string limpo;
    for (char16_t c : Utf8ParaUtf16(nome))
        if (!Descartavel(c)) limpo.push_back(c);
    std::string resultado = Aparar(Utf16ParaUtf8(limpo));
    if (ContarCodepoints(resultado) > NOME_MAXIMO)
        resultado =
            Aparar(Utf16ParaUtf8(PrimeirosCodepoints(Utf8ParaUtf16(resultado), NOME_MAXIMO)));
    if (resultado.empty()) resultado = NOME_PADRAO_DISPOSITIVO;
    return resultado;
}

// ---------------------------------------------------------------------------------------------
// Session

void TEstado::NovoCodigo() {
    pareamento_.Codigo = CodigoSeisDigitos();
    pareamento_.ExpiraEm = AgoraMs() + VIDA_CODIGO_MS;
    pareamento_.TentativasRestantes = TENTATIVAS_POR_CODIGO;
}

void TEstado::AbrirPareamento() {
    {
        TTrava g(trava_);
        pareamento_.Ativo = true;
        pareamento_.Rodadas = 0;
        pareamento_.EncerradoPorExcesso = false;
        NovoCodigo();
    }
    Log("Pareamento aberto");
}

void TEstado::FecharPareamento() {
    TTrava g(trava_);
    pareamento_.Ativo = false;
    pareamento_.Codigo.clear();
}

void TEstado::RenovarCodigo() {
    TTrava g(trava_);
    if (pareamento_.Ativo) NovoCodigo();
}

TPareamento TEstado::ObterPareamento() const {
    TTrava g(trava_);
    return pareamento_;
}

TResultadoPareamento TEstado::Parear(const std::string& codigo, const std::string& nome,
                                     const std::string& ip, bool substituirMesmoNome,
                                     const std::string& tokenAnterior, const std::string& chave,
                                     TDispositivo& dispositivo, std::string& token) {
    dispositivo = TDispositivo{};
    token.clear();

    // The cleaned name and the hashes of what the phone sent depend on nothing in the state;
    // they are only used once the code proved right.
    const std::string limpo = NomeDispositivo(nome);
    const std::string chaveHash = HashSeValido(chave);
    const std::string anteriorHash = HashSeValido(tokenAnterior);
    const double agoraData = AgoraData();

    bool pareado = false, encerrado = false;
    {
        TTrava g(trava_);
        TPareamento& p = pareamento_;
        if (!p.Ativo) return rpSemSessao;
        // An expired code is replaced without counting an attempt: the phone has to read the
        // new one.
        if (AgoraMs() >= p.ExpiraEm) {
            NovoCodigo();
            return rpCodigoInvalido;
        }
        const bool certo = codigo.size() == TAMANHO_CODIGO && p.Codigo.size() == TAMANHO_CODIGO &&
                           IguaisTempoConstante(codigo, p.Codigo);
        if (certo) {
            TDispositivos& lista = config_.Dispositivos;
            // The record to reuse: proved by identity key or previous token first; by name only
            // when the user asked for it.
            std::size_t escolhido = lista.size();
            for (std::size_t i = 0; i < lista.size(); ++i) {
                if (MesmoHash(lista[i].ChaveHash, chaveHash) ||
                    MesmoHash(lista[i].TokenHash, anteriorHash)) {
                    escolhido = i;
                    break;
                }
            }
            if (escolhido == lista.size() && substituirMesmoNome) {
                for (std::size_t i = 0; i < lista.size(); ++i) {
                    if (lista[i].Nome == limpo) {
                        escolhido = i;
                        break;
                    }
                }
            }

            // Random values first: if the generator fails, nothing has been changed yet.
            token = NovoToken();
            TDispositivo registro;
            if (escolhido < lista.size()) {
                registro = lista[escolhido];  // keeps Id, CriadoEm and a known key hash
            } else {
                registro.Id = IdNovo(lista);
                registro.CriadoEm = agoraData;
            }
            // The reused record's previous token is revoked by the new hash.
            registro.Nome = limpo;
            registro.TokenHash = Sha256Hex(token);
            if (!chaveHash.empty()) registro.ChaveHash = chaveHash;
            registro.UltimoAcesso = agoraData;
            registro.UltimoIp = ip;
            if (escolhido == lista.size()) lista.emplace_back();

            // Every other record proved to be the same phone goes, keeping the chosen slot's
            // index right while deleting in front of it.
            for (std::size_t i = lista.size(); i-- > 0;) {
                if (i == escolhido) continue;
                const TDispositivo& d = lista[i];
                if (MesmoHash(d.ChaveHash, chaveHash) || MesmoHash(d.TokenHash, anteriorHash) ||
                    (substituirMesmoNome && d.Nome == limpo)) {
                    lista.erase(lista.begin() + static_cast<std::ptrdiff_t>(i));
                    if (i < escolhido) --escolhido;
                }
            }
            lista[escolhido] = registro;
            configAlterada_ = true;
            p.Ativo = false;
            p.Codigo.clear();
            dispositivo = registro;
            pareado = true;
        } else {
            if (--p.TentativasRestantes <= 0) {
                ++p.Rodadas;
                if (p.Rodadas >= RODADAS_MAXIMAS) {
                    p.Ativo = false;
                    p.EncerradoPorExcesso = true;
                    p.Codigo.clear();
                    encerrado = true;
                } else {
                    NovoCodigo();
                }
            }
        }
    }

    if (!pareado) {
        LogFmt("Codigo de pareamento incorreto de %s", TextoParaLog(ip, 64).c_str());
        if (encerrado) {
            Log("Pareamento encerrado por excesso de tentativas");
            Emitir(teParearEncerrado);
        }
        return rpCodigoInvalido;
    }
    LogFmt("Pareado: %s (%s) de %s", TextoParaLog(dispositivo.Nome, 120).c_str(),
           dispositivo.Id.c_str(), TextoParaLog(ip, 64).c_str());
    Emitir(teParearOk, dispositivo.Nome);
    return rpPareado;
}

// ---------------------------------------------------------------------------------------------
// Devices

TDispositivos TEstado::Dispositivos() const {
    TTrava g(trava_);
    return config_.Dispositivos;
}

bool TEstado::AutenticarToken(const std::string& token, const std::string& ip,
                              TDispositivo& dispositivo) {
    dispositivo = TDispositivo{};
    // A wrong length is refused before any hashing or locking: cheap under a flood.
    if (token.size() != TAMANHO_TOKEN) return false;
    const std::string hash = Sha256Hex(token);
    const double agora = AgoraData();
    TTrava g(trava_);
    for (TDispositivo& d : config_.Dispositivos) {
        if (!IguaisTempoConstante(d.TokenHash, hash)) continue;
        // A wall clock set back leaves a last use in the future; that is refreshed too, so the
        // record never shows a time that has not come yet.
        const double passados = (agora - d.UltimoAcesso) * SEGUNDOS_POR_DIA;
        if (std::fabs(passados) > INTERVALO_ULTIMO_ACESSO_S || d.UltimoIp != ip) {
            d.UltimoAcesso = agora;
            d.UltimoIp = ip;
            configAlterada_ = true;
        }
        dispositivo = d;
        return true;
    }
    return false;
}

bool TEstado::RemoverDispositivo(const std::string& id) {
    std::string nome;
    bool removido = false;
    {
        TTrava g(trava_);
        TDispositivos& lista = config_.Dispositivos;
        for (auto it = lista.begin(); it != lista.end(); ++it) {
            if (it->Id == id) {
                nome = it->Nome;
                lista.erase(it);
                configAlterada_ = true;
                removido = true;
                break;
            }
        }
    }
    if (!removido) return false;
    LogFmt("Dispositivo removido: %s (%s)", TextoParaLog(nome, 120).c_str(),
           TextoParaLog(id, 64).c_str());
    Emitir(teDispositivosMudaram, nome);
    return true;
}

}  // namespace velorin
