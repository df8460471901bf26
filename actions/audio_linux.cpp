// Audio through libpulse (PulseAudio, or PipeWire's pulse server), media keys through MPRIS
// with XTest as the fallback.
//
// Each call opens its own connection with a threaded main loop and closes it at the end, like
// the Windows backend creates its components per call. The whole call runs against one
// deadline kept by a timer on the main loop: a missing server fails at once, a hung one wakes
// the waiting thread when the deadline passes, so a connection thread never hangs here.

#include <X11/XF86keysym.h>
#include <X11/extensions/XTest.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "actions/audio.h"
#include "actions/barramento_linux.h"
#include "core/log.h"

namespace velorin {

namespace {

// Bound for one read or one volume change, connection included.
constexpr std::uint32_t PRAZO_PULSE_MS = 1000;
// A switch makes more round trips (outputs, default, streams, check).
constexpr std::uint32_t PRAZO_TROCA_MS = 2000;

constexpr std::uint32_t PRAZO_BARRAMENTO_MS = 1000;
constexpr std::uint32_t PRAZO_STATUS_PLAYER_MS = 500;
constexpr std::uint32_t PRAZO_X_MS = 2000;

struct TSinkPulse {
    std::uint32_t indice = 0;
    std::string nome;
    std::string descricao;
    pa_cvolume volume{};
    bool mudo = false;
    bool desconectado = false;  // its active port is known to be unplugged
};

struct TFluxoPulse {
    std::uint32_t indice = 0;
    std::uint32_t sink = 0;
};

// One connection to the sound server for the length of one public call.
class TPulse {
  public:
    explicit TPulse(std::uint32_t prazo_ms) {
        laco_ = pa_threaded_mainloop_new();
        if (laco_ == nullptr) return;
        ctx_ = pa_context_new(pa_threaded_mainloop_get_api(laco_), "Velorin");
        if (ctx_ == nullptr) return;
        pa_context_set_state_callback(ctx_, &TPulse::AoMudarEstado, this);
        prazo_ = pa_context_rttime_new(ctx_, pa_rtclock_now() + pa_usec_t{prazo_ms} * 1000,
                                       &TPulse::AoVencer, this);
        if (pa_threaded_mainloop_start(laco_) < 0) return;
        rodando_ = true;
        TTrava t(laco_);
        // NOAUTOSPAWN: a missing server is "not available", never a sound server we start.
        if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        for (;;) {
            const pa_context_state_t e = pa_context_get_state(ctx_);
            if (e == PA_CONTEXT_READY) {
                conectado_ = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(e) || vencido_) return;
            pa_threaded_mainloop_wait(laco_);
        }
    }

    ~TPulse() {
        if (laco_ == nullptr) return;
        if (rodando_) pa_threaded_mainloop_lock(laco_);
        if (prazo_ != nullptr) pa_threaded_mainloop_get_api(laco_)->time_free(prazo_);
        if (ctx_ != nullptr) {
            pa_context_set_state_callback(ctx_, nullptr, nullptr);
            pa_context_disconnect(ctx_);
        }
        if (rodando_) {
            pa_threaded_mainloop_unlock(laco_);
            pa_threaded_mainloop_stop(laco_);
        }
        if (ctx_ != nullptr) pa_context_unref(ctx_);
        pa_threaded_mainloop_free(laco_);
    }

    TPulse(const TPulse&) = delete;
    TPulse& operator=(const TPulse&) = delete;

    [[nodiscard]] bool Conectado() const { return conectado_; }

    [[nodiscard]] bool PadraoServidor(std::string& nome) {
        struct TDados {
            TPulse* p;
            std::string nome;
        } d{this, {}};
        TTrava t(laco_);
        if (!Usavel()) return false;
        auto cb = [](pa_context*, const pa_server_info* i, void* u) {
            auto* dd = static_cast<TDados*>(u);
            if (i != nullptr && i->default_sink_name != nullptr) dd->nome = i->default_sink_name;
            dd->p->Sinalizar();
        };
        if (!Esperar(pa_context_get_server_info(ctx_, cb, &d))) return false;
        nome = d.nome;
        return true;
    }

    [[nodiscard]] bool ListarSinks(std::vector<TSinkPulse>& sinks) {
        struct TDados {
            TPulse* p;
            std::vector<TSinkPulse> sinks;
        } d{this, {}};
        TTrava t(laco_);
        if (!Usavel()) return false;
        if (!Esperar(pa_context_get_sink_info_list(ctx_, &TPulse::AoSink<TDados>, &d)))
            return false;
        sinks = std::move(d.sinks);
        return true;
    }

    [[nodiscard]] bool LerSink(const std::string& nome, TSinkPulse& sink) {
        struct TDados {
            TPulse* p;
            std::vector<TSinkPulse> sinks;
        } d{this, {}};
        TTrava t(laco_);
        if (!Usavel()) return false;
        if (!Esperar(pa_context_get_sink_info_by_name(ctx_, nome.c_str(), &TPulse::AoSink<TDados>,
                                                      &d)) ||
            d.sinks.empty()) {
            return false;
        }
        sink = d.sinks.front();
        return true;
    }

    [[nodiscard]] bool DefinirVolume(const std::string& nome, const pa_cvolume& volume) {
        return Sucesso([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_sink_volume_by_name(ctx_, nome.c_str(), &volume, cb, u);
        });
    }

    [[nodiscard]] bool DefinirMudo(const std::string& nome, bool mudo) {
        return Sucesso([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_sink_mute_by_name(ctx_, nome.c_str(), mudo ? 1 : 0, cb, u);
        });
    }

    [[nodiscard]] bool DefinirPadrao(const std::string& nome) {
        return Sucesso([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_set_default_sink(ctx_, nome.c_str(), cb, u);
        });
    }

    [[nodiscard]] bool MoverFluxo(std::uint32_t fluxo, const std::string& sink) {
        return Sucesso([&](pa_context_success_cb_t cb, void* u) {
            return pa_context_move_sink_input_by_name(ctx_, fluxo, sink.c_str(), cb, u);
        });
    }

    [[nodiscard]] bool ListarFluxos(std::vector<TFluxoPulse>& fluxos) {
        struct TDados {
            TPulse* p;
            std::vector<TFluxoPulse> fluxos;
        } d{this, {}};
        TTrava t(laco_);
        if (!Usavel()) return false;
        auto cb = [](pa_context*, const pa_sink_input_info* i, int fim, void* u) {
            auto* dd = static_cast<TDados*>(u);
            if (fim == 0 && i != nullptr) dd->fluxos.push_back({i->index, i->sink});
            if (fim != 0) dd->p->Sinalizar();
        };
        if (!Esperar(pa_context_get_sink_input_info_list(ctx_, cb, &d))) return false;
        fluxos = std::move(d.fluxos);
        return true;
    }

  private:
    class TTrava {
      public:
        explicit TTrava(pa_threaded_mainloop* l) : l_(l) { pa_threaded_mainloop_lock(l_); }
        ~TTrava() { pa_threaded_mainloop_unlock(l_); }
        TTrava(const TTrava&) = delete;
        TTrava& operator=(const TTrava&) = delete;

      private:
        pa_threaded_mainloop* l_;
    };

    static void AoMudarEstado(pa_context*, void* u) { static_cast<TPulse*>(u)->Sinalizar(); }

    static void AoVencer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* u) {
        auto* p = static_cast<TPulse*>(u);
        p->vencido_ = true;
        p->Sinalizar();
    }

    template <typename TDados>
    static void AoSink(pa_context*, const pa_sink_info* i, int fim, void* u) {
        auto* d = static_cast<TDados*>(u);
        if (fim == 0 && i != nullptr) {
            TSinkPulse s;
            s.indice = i->index;
            s.nome = i->name != nullptr ? i->name : "";
            s.descricao = i->description != nullptr ? i->description : "";
            s.volume = i->volume;
            s.mudo = i->mute != 0;
            s.desconectado =
                i->active_port != nullptr && i->active_port->available == PA_PORT_AVAILABLE_NO;
            d->sinks.push_back(std::move(s));
        }
        if (fim != 0) d->p->Sinalizar();
    }

    void Sinalizar() { pa_threaded_mainloop_signal(laco_, 0); }

    // Under the loop's lock.
    bool Usavel() const {
        return conectado_ && !vencido_ && pa_context_get_state(ctx_) == PA_CONTEXT_READY;
    }

    // Under the loop's lock: waits for the operation, giving up at the deadline or when the
    // connection breaks.
    bool Esperar(pa_operation* op) {
        if (op == nullptr) return false;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
            if (!Usavel()) {
                pa_operation_cancel(op);
                break;
            }
            pa_threaded_mainloop_wait(laco_);
        }
        const bool feito = pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
        return feito;
    }

    template <typename F>
    bool Sucesso(F iniciar) {
        struct TDados {
            TPulse* p;
            bool ok;
        } d{this, false};
        TTrava t(laco_);
        if (!Usavel()) return false;
        auto cb = [](pa_context*, int sucesso, void* u) {
            auto* dd = static_cast<TDados*>(u);
            dd->ok = sucesso != 0;
            dd->p->Sinalizar();
        };
        return Esperar(iniciar(cb, &d)) && d.ok;
    }

    pa_threaded_mainloop* laco_ = nullptr;
    pa_context* ctx_ = nullptr;
    pa_time_event* prazo_ = nullptr;
    bool rodando_ = false;
    bool conectado_ = false;
    bool vencido_ = false;  // written by the loop thread under the loop's lock
};

void LerSaidasCom(TPulse& pulse, TEstadoAudio& estado) {
    estado = TEstadoAudio();
    std::vector<TSinkPulse> sinks;
    std::string padrao;
    if (!pulse.Conectado() || !pulse.PadraoServidor(padrao) || !pulse.ListarSinks(sinks)) return;
    estado.podeTrocar = true;
    for (const auto& s : sinks) {
        // An output whose jack is unplugged cannot play; the system does not offer it either.
        if (s.nome.empty() || s.desconectado) continue;
        estado.saidas.push_back(
            {s.nome, s.descricao.empty() ? s.nome : s.descricao, s.nome == padrao});
    }
}

// ---- media keys ----

constexpr const char* PREFIXO_MPRIS = "org.mpris.MediaPlayer2.";
constexpr const char* CAMINHO_MPRIS = "/org/mpris/MediaPlayer2";
constexpr const char* INTERFACE_PLAYER = "org.mpris.MediaPlayer2.Player";

// The player that was last seen playing: when nothing plays now, it is the one the user most
// likely means ("play" after a pause).
std::mutex trava_player;
std::string ultimo_tocando;

bool EnviarMpris(int tipo) {
    const TBarramento bus = AbrirBarramentoSessao(PRAZO_BARRAMENTO_MS);
    if (!bus) return false;
    std::vector<std::string> nomes;
    if (!ListarNomes(bus, PRAZO_BARRAMENTO_MS, nomes)) return false;
    std::string tocando, pausado, qualquer, lembrado;
    {
        std::lock_guard<std::mutex> g(trava_player);
        lembrado = ultimo_tocando;
    }
    bool lembrado_presente = false;
    for (const auto& nome : nomes) {
        if (nome.rfind(PREFIXO_MPRIS, 0) != 0) continue;
        if (nome == lembrado) lembrado_presente = true;
        if (qualquer.empty()) qualquer = nome;
        std::string status;
        if (LerPropriedadeTexto(bus, nome.c_str(), CAMINHO_MPRIS, INTERFACE_PLAYER,
                                "PlaybackStatus", PRAZO_STATUS_PLAYER_MS, status) < 0) {
            continue;
        }
        if (status == "Playing" && tocando.empty()) tocando = nome;
        if (status == "Paused" && pausado.empty()) pausado = nome;
    }
    std::string alvo = tocando;
    if (alvo.empty() && lembrado_presente) alvo = lembrado;
    if (alvo.empty()) alvo = pausado;
    if (alvo.empty()) alvo = qualquer;
    if (alvo.empty()) return false;
    if (!tocando.empty()) {
        std::lock_guard<std::mutex> g(trava_player);
        ultimo_tocando = tocando;
    }
    const char* metodo = tipo == MIDIA_PROXIMA    ? "Next"
                         : tipo == MIDIA_ANTERIOR ? "Previous"
                                                  : "PlayPause";
    return ChamarMetodo(bus, alvo.c_str(), CAMINHO_MPRIS, INTERFACE_PLAYER, metodo,
                        PRAZO_BARRAMENTO_MS, {}, nullptr) >= 0;
}

// The desktop's media-key daemon grabs these keys and forwards them to its player.
bool EnviarTeclaX(int tipo) {
    TDisplayX x;
    if (!x.Abrir()) return false;
    const KeySym simbolo = tipo == MIDIA_PROXIMA    ? XF86XK_AudioNext
                           : tipo == MIDIA_ANTERIOR ? XF86XK_AudioPrev
                                                    : XF86XK_AudioPlay;
    TVigiaX vigia(x, PRAZO_X_MS);
    int ev = 0, err = 0, maior = 0, menor = 0;
    if (!XTestQueryExtension(x.Get(), &ev, &err, &maior, &menor) || x.Falhou()) return false;
    const KeyCode tecla = XKeysymToKeycode(x.Get(), simbolo);
    if (tecla == 0) return false;
    XTestFakeKeyEvent(x.Get(), tecla, True, CurrentTime);
    XTestFakeKeyEvent(x.Get(), tecla, False, CurrentTime);
    XSync(x.Get(), False);
    return !x.Falhou();
}

}  // namespace

void LerSaidasAudioSistema(TEstadoAudio& estado) {
    TPulse pulse(PRAZO_PULSE_MS);
    LerSaidasCom(pulse, estado);
}

void AjustarVolumeSistema(bool mudar_nivel, std::int32_t nivel, bool mudar_mudo, bool mudo,
                          TVolume& volume) {
    volume = TVolume();
    TPulse pulse(PRAZO_PULSE_MS);
    std::string padrao;
    TSinkPulse sink;
    if (!pulse.Conectado() || !pulse.PadraoServidor(padrao) || padrao.empty() ||
        !pulse.LerSink(padrao, sink)) {
        return;
    }
    // Failures to set are not reported by themselves: the read-back shows what happened.
    if (mudar_nivel) {
        pa_cvolume novo = sink.volume;
        // Scaling keeps the ratio between channels (the balance the user set).
        if (pa_cvolume_valid(&novo) &&
            pa_cvolume_scale(&novo, PercentParaVolumePulse(nivel)) != nullptr) {
            (void)pulse.DefinirVolume(padrao, novo);
        }
    }
    if (mudar_mudo) (void)pulse.DefinirMudo(padrao, mudo);
    if (!pulse.LerSink(padrao, sink)) return;
    volume.disponivel = true;
    volume.nivel = VolumePulseParaPercent(pa_cvolume_max(&sink.volume));
    volume.mudo = sink.mudo;
}

int TrocarSaidaAudioSistema(const std::string& id) {
    TPulse pulse(PRAZO_TROCA_MS);
    // Streams this switch moved, so an undo can put them back.
    std::vector<std::uint32_t> movidos;
    TPassosTroca passos;
    passos.LerSaidas = [&](TEstadoAudio& e) { LerSaidasCom(pulse, e); };
    passos.PodeTrocar = [&] { return pulse.Conectado(); };
    passos.SaidaAtiva = [&](const std::string& s) {
        TSinkPulse sink;
        return pulse.LerSink(s, sink) && !sink.desconectado;
    };
    passos.PrimeiroPasso = [&](const std::string& s) { return pulse.DefinirPadrao(s); };
    passos.SegundoPasso = [&](const std::string& s, const std::string& anterior) {
        // Streams that follow the default moved with it already; streams placed on the old
        // default by hand stay unless moved, which would leave them playing on the output the
        // user just left.
        if (anterior.empty() || anterior == s) return true;
        TSinkPulse velho;
        std::vector<TFluxoPulse> fluxos;
        if (!pulse.LerSink(anterior, velho))
            return true;  // the old output is gone: nothing to move
        if (!pulse.ListarFluxos(fluxos)) return false;
        for (const auto& f : fluxos) {
            if (f.sink != velho.indice) continue;
            if (!pulse.MoverFluxo(f.indice, s)) return false;
            movidos.push_back(f.indice);
        }
        return true;
    };
    passos.Desfazer = [&](const std::string& anterior, const std::string&) {
        (void)pulse.DefinirPadrao(anterior);
        for (auto f : movidos) (void)pulse.MoverFluxo(f, anterior);
    };
    passos.PadraoAtual = [&] {
        std::string nome;
        return pulse.PadraoServidor(nome) ? nome : std::string();
    };
    return ExecutarTroca(passos, id);
}

void TeclaMidiaSistema(int tipo) {
    if (EnviarMpris(tipo)) return;
    if (EnviarTeclaX(tipo)) return;
    LogFmt("AVISO: tecla de midia sem destino (%d)", tipo);
}

}  // namespace velorin
