// Install transfers: short-lived single-use tickets that hand a device's pairing to another
// browser context on the same phone, and the merge of the duplicate record that context proves.
#include <iterator>

#include "core/log.h"
#include "core/seguranca.h"
#include "core/texto.h"
#include "state/estado.h"

namespace velorin {

namespace {

// Tickets hold a live bearer token (and maybe an identity key) in memory; they are wiped as
// they go.
std::vector<TTransferencia>::iterator ApagarTransferencia(
    std::vector<TTransferencia>& lista, std::vector<TTransferencia>::iterator it) {
    ApagarSegredo(it->Token);
    ApagarSegredo(it->Chave);
    return lista.erase(it);
}

std::string Ip(const std::string& ip) {
    return TextoParaLog(ip, 64);
}

}  // namespace

void TEstado::CriarTransferencia(const std::string& token, const std::string& ip,
                                 const std::string& chave, std::string& ticket) {
    ticket.clear();
    if (!TokenValido(token)) return;
    const std::string tokenHash = Sha256Hex(token);
    const std::string chaveHash = TokenValido(chave) ? Sha256Hex(chave) : std::string();
    // Drawn before the lock so a failing generator leaves the list untouched.
    std::string novo = NovoToken();
    const std::string novoHash = Sha256Hex(novo);

    std::string nome, id;
    bool comChave = false;
    {
        TTrava g(trava_);
        const TDispositivo* dono = nullptr;
        for (const TDispositivo& d : config_.Dispositivos) {
            if (IguaisTempoConstante(d.TokenHash, tokenHash)) {
                dono = &d;
                break;
            }
        }
        if (!dono) {
            ApagarSegredo(novo);
            return;
        }
        const std::uint64_t agora = AgoraTransferencias();
        for (auto it = transferencias_.begin(); it != transferencias_.end();) {
            it = it->ExpiraEm <= agora ? ApagarTransferencia(transferencias_, it) : std::next(it);
        }
        if (transferencias_.size() >= MAXIMO_TRANSFERENCIAS)
            ApagarTransferencia(transferencias_, transferencias_.begin());

        // The key goes with the ticket only when it is provably this device's own.
        comChave = !chaveHash.empty() && !dono->ChaveHash.empty() &&
                   IguaisTempoConstante(chaveHash, dono->ChaveHash);
        TTransferencia t;
        t.TicketHash = novoHash;
        t.Token = token;
        if (comChave) t.Chave = chave;
        t.Ip = ip;
        t.ExpiraEm = agora + VALIDADE_TRANSFERENCIA_MS;
        transferencias_.push_back(std::move(t));
        nome = dono->Nome;
        id = dono->Id;
    }
    ticket = std::move(novo);
    LogFmt("Transferencia criada: %s (%s) de %s, identidade %s", TextoParaLog(nome, 120).c_str(),
           id.c_str(), Ip(ip).c_str(), comChave ? "incluida" : "ausente");
}

bool TEstado::UsarTransferencia(const std::string& ticket, const std::string& ip,
                                TDispositivo& dispositivo, std::string& token, std::string& chave) {
    dispositivo = TDispositivo{};
    token.clear();
    chave.clear();
    if (!TokenValido(ticket)) return false;
    const std::string hash = Sha256Hex(ticket);

    enum { desconhecido, outroIp, removido, usado } resultado = desconhecido;
    std::string tokenTicket, chaveTicket;
    {
        TTrava g(trava_);
        const std::uint64_t agora = AgoraTransferencias();
        // Newest first: the ticket just issued is the likely one.
        for (std::size_t i = transferencias_.size(); i-- > 0;) {
            auto it = transferencias_.begin() + static_cast<std::ptrdiff_t>(i);
            if (it->ExpiraEm <= agora) {
                ApagarTransferencia(transferencias_, it);
                continue;
            }
            if (!IguaisTempoConstante(it->TicketHash, hash)) continue;
            // From another address the ticket stays pending for its rightful holder.
            if (it->Ip != ip) {
                resultado = outroIp;
                break;
            }
            tokenTicket = it->Token;
            chaveTicket = it->Chave;
            ApagarTransferencia(transferencias_, it);
            const std::string tokenHash = Sha256Hex(tokenTicket);
            resultado = removido;
            for (const TDispositivo& d : config_.Dispositivos) {
                if (IguaisTempoConstante(d.TokenHash, tokenHash)) {
                    dispositivo = d;
                    resultado = usado;
                    break;
                }
            }
            break;
        }
    }

    switch (resultado) {
        case usado:
            token = std::move(tokenTicket);
            chave = std::move(chaveTicket);
            LogFmt("Transferencia usada: %s (%s) de %s",
                   TextoParaLog(dispositivo.Nome, 120).c_str(), dispositivo.Id.c_str(),
                   Ip(ip).c_str());
            return true;
        case outroIp:
            LogFmt("Transferencia recusada: pedida de outro IP (%s)", Ip(ip).c_str());
            break;
        case removido:
            LogFmt("Transferencia recusada: aparelho removido do PC (%s)", Ip(ip).c_str());
            break;
        case desconhecido:
            LogFmt("Transferencia recusada: expirada, ja usada ou desconhecida (%s)",
                   Ip(ip).c_str());
            break;
    }
    ApagarSegredo(tokenTicket);
    ApagarSegredo(chaveTicket);
    return false;
}

bool TEstado::ConsolidarRepetido(const std::string& tokenRepetido,
                                 const std::string& idPreservado) {
    if (!TokenValido(tokenRepetido)) return false;
    const std::string hash = Sha256Hex(tokenRepetido);
    std::string nome, id;
    bool apagado = false;
    {
        TTrava g(trava_);
        TDispositivos& lista = config_.Dispositivos;
        bool preservadoExiste = false;
        for (const TDispositivo& d : lista)
            preservadoExiste = preservadoExiste || d.Id == idPreservado;
        if (!preservadoExiste) return false;
        for (std::size_t i = lista.size(); i-- > 0;) {
            const TDispositivo& d = lista[i];
            if (d.Id == idPreservado || !IguaisTempoConstante(d.TokenHash, hash)) continue;
            nome = d.Nome;
            id = d.Id;
            lista.erase(lista.begin() + static_cast<std::ptrdiff_t>(i));
            configAlterada_ = true;
            apagado = true;
            break;
        }
    }
    if (!apagado) return false;
    LogFmt("Transferencia consolidou cadastro repetido: %s (%s)", TextoParaLog(nome, 120).c_str(),
           id.c_str());
    Emitir(teDispositivosMudaram, nome);
    return true;
}

}  // namespace velorin
