// The shared state: the one locked object that every thread goes through for the live
// configuration and paired devices, the pairing session, install transfers, the scheduled power
// action, the update flag and the record of internet mouse and keyboard use. It also turns
// noteworthy changes into events for the main thread.
//
// Every public method takes the object's single lock for its whole body and hands out copies.
// Nothing leaves the object while the lock is held: log lines and events are produced after
// unlocking, so an event sink (or anything it calls) may use the state freely. The only call made
// under the lock is the optional transfer clock (DefinirRelogio), which must not call back in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/acao_energia.h"
#include "core/config.h"

namespace velorin {

// ---------------------------------------------------------------------------------------------
// Events

// Kinds of events, in this order (the main thread's reaction depends on the kind).
enum TTipoEvento : std::int32_t {
    teServidorOk,
    teServidorErro,
    teParearOk,
    teParearEncerrado,
    teAgendado,
    teCancelado,
    teDispositivosMudaram,
    teNuvemMudou,
    teNuvemAtivada,
    teNuvemRemovida,
    teNuvemEvento,
    teEntradaInternet,
};

// ---------------------------------------------------------------------------------------------
// Schedule of a power action

// The longest delay a schedule may have (24 hours).
inline constexpr std::int64_t ATRASO_MAXIMO_SEGUNDOS = 86400;

struct TAgendamento {
    std::int32_t Acao = ACAO_NENHUMA;  // 0 = nothing scheduled
    std::uint64_t VenceEm = 0;         // AgoraMs() at which the action is due
    bool Forcar = false;               // close applications by force (never for suspend)
    std::string PedidoPor;             // who asked
    double Horario = 0;                // local date-time it is due, for display only
};

// Whole seconds left, rounded up; 0 when nothing is scheduled or the time has come.
[[nodiscard]] std::int32_t SegundosRestantes(const TAgendamento& agendamento);
[[nodiscard]] std::int32_t SegundosRestantes(const TAgendamento& agendamento, std::uint64_t agora);

// One notification. The producer creates it, the sink takes it over; it travels as a
// std::unique_ptr so it is freed exactly once, wherever it ends.
struct TEvento {
    TTipoEvento Tipo = teServidorOk;
    std::string Texto;         // device name, message, token...
    std::string Texto2;        // cloud events only
    std::string Texto3;        // cloud events only
    TAgendamento Agendamento;  // schedule events only
};

// Runs on the producing thread, never under the state lock.
using TAoEvento = std::function<void(std::unique_ptr<TEvento>)>;
// Clock for transfer expiry (milliseconds, same scale as AgoraMs()).
using TRelogio = std::function<std::uint64_t()>;

// ---------------------------------------------------------------------------------------------
// Pairing

inline constexpr std::uint64_t VIDA_CODIGO_MS = 300000;
inline constexpr std::int32_t TENTATIVAS_POR_CODIGO = 5;
// The session closes when this many codes were used up by wrong attempts.
inline constexpr std::int32_t RODADAS_MAXIMAS = 3;
inline constexpr std::size_t NOME_MAXIMO = 40;  // code points
inline constexpr const char* NOME_PADRAO_DISPOSITIVO = "Celular";

struct TPareamento {
    bool Ativo = false;
    std::string Codigo;  // six digits while a session is open
    std::uint64_t ExpiraEm = 0;
    std::int32_t TentativasRestantes = 0;
    std::int32_t Rodadas = 0;
    bool EncerradoPorExcesso = false;
};

enum TResultadoPareamento : std::int32_t {
    rpPareado = 0,
    rpSemSessao = 1,
    rpCodigoInvalido = 2,  // wrong or expired code
};

// A phone's name as stored: control characters (C0, DEL and C1) and the Unicode line and
// paragraph separators dropped, blanks trimmed, at most 40 code points, "Celular" when nothing
// is left.
std::string NomeDispositivo(std::string_view nome);

// ---------------------------------------------------------------------------------------------
// Install transfers

inline constexpr std::uint64_t VALIDADE_TRANSFERENCIA_MS = 120000;
inline constexpr std::size_t MAXIMO_TRANSFERENCIAS = 16;

struct TTransferencia {
    std::string TicketHash;  // Sha256Hex of the ticket; the ticket itself is never kept
    std::string Token;       // the device's bearer token, handed to whoever redeems the ticket
    std::string Chave;       // the device's identity key when it was proved, else empty
    std::string Ip;          // the only address that may redeem
    std::uint64_t ExpiraEm = 0;
};

// ---------------------------------------------------------------------------------------------

class TEstado {
  public:
    // Copies the configuration; no schedule, no session, no transfers, flags false, no sink.
    explicit TEstado(const TConfig& config);
    ~TEstado();
    TEstado(const TEstado&) = delete;
    TEstado& operator=(const TEstado&) = delete;

    // Events. The sink may be replaced or removed (empty function) at any time; without one,
    // events are dropped.
    void DefinirAoEvento(TAoEvento sink);
    void Emitir(TTipoEvento tipo, const std::string& texto = {});
    void EmitirTextos(TTipoEvento tipo, const std::string& texto, const std::string& texto2,
                      const std::string& texto3);
    void EmitirAgendamento(TTipoEvento tipo, const TAgendamento& agendamento);

    // Transfer clock; an empty function restores AgoraMs(). Called under the lock.
    void DefinirRelogio(TRelogio relogio);

    // Configuration as a whole.
    [[nodiscard]] TConfig ObterConfig() const;
    [[nodiscard]] bool ConfigFoiAlterada() const;
    // Only after a successful save.
    void LimparConfigAlterada();

    // Simple settings.
    [[nodiscard]] std::int32_t Porta() const;
    [[nodiscard]] std::string Endereco() const;
    // The configured display name, or the computer's name when none is set.
    [[nodiscard]] std::string NomeExibicao() const;
    void DefinirIdioma(const std::string& codigo);
    [[nodiscard]] bool Pausado() const;
    void DefinirPausado(bool valor);
    [[nodiscard]] bool MouseTecladoInternet() const;
    void DefinirMouseTecladoInternet(bool valor);
    // A mouse or keyboard command arrived through the cloud. The first one after a quiet minute
    // is logged and announced (teEntradaInternet).
    void RegistrarEntradaInternet(const std::string& nome);
    // Who used mouse and keyboard over the internet within the last minute; empty otherwise.
    [[nodiscard]] std::string UsuarioEntradaInternet() const;

    // Cloud credentials.
    [[nodiscard]] std::string UrlNuvem() const;
    [[nodiscard]] std::string TokenNuvem() const;
    // An empty token also switches internet mouse and keyboard off.
    void DefinirNuvem(const std::string& url, const std::string& token, const std::string& conta,
                      const std::string& aparelho);

    // Devices and pairing.
    [[nodiscard]] TDispositivos Dispositivos() const;
    [[nodiscard]] bool RemoverDispositivo(const std::string& id);
    // The check behind every authenticated request; refreshes the device's last use at most
    // about once a minute (or when its address changed).
    [[nodiscard]] bool AutenticarToken(const std::string& token, const std::string& ip,
                                       TDispositivo& dispositivo);
    void AbrirPareamento();
    void FecharPareamento();
    // A new code, only while a session is open.
    void RenovarCodigo();
    [[nodiscard]] TPareamento ObterPareamento() const;
    // On success `dispositivo` is the stored record and `token` the new bearer token (the only
    // moment it exists in clear on the PC). Both are empty otherwise.
    [[nodiscard]] TResultadoPareamento Parear(const std::string& codigo, const std::string& nome,
                                              const std::string& ip, bool substituirMesmoNome,
                                              const std::string& tokenAnterior,
                                              const std::string& chave, TDispositivo& dispositivo,
                                              std::string& token);

    // Install transfers. `ticket` is empty when no device owns `token`.
    void CriarTransferencia(const std::string& token, const std::string& ip,
                            const std::string& chave, std::string& ticket);
    [[nodiscard]] bool UsarTransferencia(const std::string& ticket, const std::string& ip,
                                         TDispositivo& dispositivo, std::string& token,
                                         std::string& chave);
    // Removes the other record that owns `tokenRepetido`, keeping `idPreservado`.
    [[nodiscard]] bool ConsolidarRepetido(const std::string& tokenRepetido,
                                          const std::string& idPreservado);

    // Schedule. A refused request (an update is being applied, or an unknown action) comes back
    // with Acao 0 and leaves the slot as it was.
    void Agendar(std::int32_t acao, std::int64_t segundos, const std::string& pedidoPor,
                 bool forcar, TAgendamento& agendamento);
    // `avisar` only for a cancellation requested by a phone (emits teCancelado).
    bool Cancelar(bool avisar);
    // Negative seconds count as 0.
    bool Adiar(std::int32_t segundos);
    [[nodiscard]] TAgendamento ObterAgendamento() const;
    // Takes the schedule out of the slot once `agora` has reached it; whoever takes the lock
    // first (this or Cancelar) wins.
    [[nodiscard]] bool RetirarVencido(std::uint64_t agora, TAgendamento& agendamento);

    // Update flag: starting succeeds only when no update runs and nothing is scheduled.
    [[nodiscard]] bool IniciarAtualizacao();
    void TerminarAtualizacao();
    [[nodiscard]] bool EstaAtualizando() const;

  private:
    using TTrava = std::lock_guard<std::mutex>;

    // Both under the lock.
    void NovoCodigo();
    // Hands an event to the sink, outside the lock; dropped when there is none.
    void Entregar(std::unique_ptr<TEvento> evento);
    std::uint64_t AgoraTransferencias() const;

    mutable std::mutex trava_;
    TConfig config_;
    TAgendamento agendamento_;
    TPareamento pareamento_;
    std::vector<TTransferencia> transferencias_;  // oldest first
    bool configAlterada_ = false;
    bool atualizando_ = false;
    std::uint64_t ultimaEntradaInternet_ = 0;  // 0 = none
    std::string usuarioEntradaInternet_;
    TAoEvento aoEvento_;
    TRelogio relogio_;
};

}  // namespace velorin
