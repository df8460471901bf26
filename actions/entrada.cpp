#include "actions/entrada.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>

#include "core/log.h"
#include "core/parametros.h"

namespace velorin {

namespace {

struct TLinhaTecla {
    std::string_view Nome;
    std::uint16_t Modificador;
    std::uint16_t Tecla;
};

constexpr std::uint16_t VK_ALT = 18;
constexpr std::uint16_t VK_CONTROLE = 17;
constexpr std::uint16_t VK_WINDOWS_ESQUERDA = 91;

constexpr TLinhaTecla TABELA_TECLAS[] = {
    {"enter", 0, VK_TECLA_ENTER},
    {"tab", 0, VK_TECLA_TAB},
    {"backspace", 0, 8},
    {"delete", 0, 46},
    {"escape", 0, 27},
    {"esquerda", 0, 37},
    {"direita", 0, 39},
    {"cima", 0, 38},
    {"baixo", 0, 40},
    {"home", 0, 36},
    {"end", 0, 35},
    {"pageUp", 0, 33},
    {"pageDown", 0, 34},
    {"espaco", 0, 32},
    {"f5", 0, 116},
    {"alternarJanela", VK_ALT, VK_TECLA_TAB},
    {"mostrarDesktop", VK_WINDOWS_ESQUERDA, 68},
    {"copiar", VK_CONTROLE, 67},
    {"colar", VK_CONTROLE, 86},
    {"recortar", VK_CONTROLE, 88},
    {"selecionarTudo", VK_CONTROLE, 65},
    {"desfazer", VK_CONTROLE, 90},
    {"refazer", VK_CONTROLE, 89},
};

// Keys that sit in the extended block of a PC keyboard; without the flag the system would take
// them for their numeric-keypad twins.
bool TeclaEstendida(std::uint16_t vk) {
    return (vk >= 33 && vk <= 40) || vk == 46 || vk == VK_WINDOWS_ESQUERDA;
}

TRegistroEntrada Mouse(std::uint32_t flags) {
    TRegistroEntrada r;
    r.Tipo = TIPO_ENTRADA_MOUSE;
    r.Flags = flags;
    return r;
}

bool AltoSubstituto(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool BaixoSubstituto(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The input lock: one command's records reach the system before the next command's.
std::mutex trava_entrada;

std::mutex trava_backend;
TInjetorEntradas injetor_teste;
TVerificadorEntrada disponivel_teste;

TInjetorEntradas Injetor() {
    std::lock_guard<std::mutex> g(trava_backend);
    if (injetor_teste) return injetor_teste;
    return InjetarEntradasSistema;
}

TVerificadorEntrada Verificador() {
    std::lock_guard<std::mutex> g(trava_backend);
    if (disponivel_teste) return disponivel_teste;
    return EntradaDisponivelSistema;
}

}  // namespace

void DefinirBackendEntradaTeste(TInjetorEntradas injetor, TVerificadorEntrada disponivel) {
    std::lock_guard<std::mutex> g(trava_backend);
    injetor_teste = std::move(injetor);
    disponivel_teste = std::move(disponivel);
}

bool RegistrosMouse(std::string_view acao, std::int32_t x, std::int32_t y, std::int32_t passos,
                    TEntradas& registros) {
    registros.clear();
    if (acao == "mover") {
        TRegistroEntrada r = Mouse(MOUSE_MOVER);
        r.Dx = x;
        r.Dy = y;
        registros.push_back(r);
    } else if (acao == "rolar") {
        TRegistroEntrada r = Mouse(MOUSE_RODA);
        // The API bounds the steps; saturate anyway so no input can overflow the product.
        const std::int64_t delta = static_cast<std::int64_t>(passos) * UNIDADES_POR_PASSO_RODA;
        r.DadosMouse = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(delta, std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max()));
        registros.push_back(r);
    } else if (acao == "clique") {
        registros = {Mouse(MOUSE_ESQUERDO_DESCE), Mouse(MOUSE_ESQUERDO_SOBE)};
    } else if (acao == "direito") {
        registros = {Mouse(MOUSE_DIREITO_DESCE), Mouse(MOUSE_DIREITO_SOBE)};
    } else if (acao == "duplo") {
        registros = {Mouse(MOUSE_ESQUERDO_DESCE), Mouse(MOUSE_ESQUERDO_SOBE),
                     Mouse(MOUSE_ESQUERDO_DESCE), Mouse(MOUSE_ESQUERDO_SOBE)};
    } else {
        return false;
    }
    return true;
}

TTeclaNomeada ProcurarTecla(std::string_view nome) {
    for (const auto& l : TABELA_TECLAS) {
        if (l.Nome == nome) return {l.Modificador, l.Tecla};
    }
    return {};
}

TRegistroEntrada RegistroTecla(std::uint16_t vk, bool soltar) {
    TRegistroEntrada r;
    r.Tipo = TIPO_ENTRADA_TECLADO;
    r.Vk = vk;
    if (soltar) r.Flags |= TECLA_SOBE;
    if (TeclaEstendida(vk)) r.Flags |= TECLA_ESTENDIDA;
    return r;
}

bool RegistrosTecla(std::string_view nome, TEntradas& registros) {
    registros.clear();
    const TTeclaNomeada t = ProcurarTecla(nome);
    if (t.Tecla == 0) return false;
    if (t.Modificador != 0) registros.push_back(RegistroTecla(t.Modificador, false));
    registros.push_back(RegistroTecla(t.Tecla, false));
    registros.push_back(RegistroTecla(t.Tecla, true));
    if (t.Modificador != 0) registros.push_back(RegistroTecla(t.Modificador, true));
    return true;
}

bool TextoValido(std::u16string_view texto) {
    if (texto.empty() || texto.size() > MAXIMO_UNIDADES_TEXTO) return false;
    for (std::size_t i = 0; i < texto.size(); ++i) {
        const char16_t u = texto[i];
        if (u < 32 && u != 9 && u != 10 && u != 13) return false;
        if (u == 127) return false;
        if (AltoSubstituto(u)) {
            if (i + 1 >= texto.size() || !BaixoSubstituto(texto[i + 1])) return false;
            ++i;  // the pair is complete; its low half is checked here
        } else if (BaixoSubstituto(u)) {
            return false;  // a low half not preceded by a high one
        }
    }
    return true;
}

bool RegistrosTexto(std::u16string_view texto, TEntradas& registros) {
    registros.clear();
    if (!TextoValido(texto)) return false;
    registros.reserve(texto.size() * 2);
    for (std::size_t i = 0; i < texto.size(); ++i) {
        const char16_t u = texto[i];
        if (u == 10 && i > 0 && texto[i - 1] == 13) continue;  // CR LF types one Enter
        if (u == 9 || u == 10 || u == 13) {
            const std::uint16_t vk = u == 9 ? VK_TECLA_TAB : VK_TECLA_ENTER;
            registros.push_back(RegistroTecla(vk, false));
            registros.push_back(RegistroTecla(vk, true));
            continue;
        }
        TRegistroEntrada r;
        r.Tipo = TIPO_ENTRADA_TECLADO;
        r.Scan = static_cast<std::uint16_t>(u);
        r.Flags = TECLA_UNICODE;
        registros.push_back(r);
        r.Flags = TECLA_UNICODE | TECLA_SOBE;
        registros.push_back(r);
    }
    registros.shrink_to_fit();
    return true;
}

TEntradas RegistrosSoltura(const TEntradas& registros) {
    TEntradas r;
    for (const auto& e : registros) {
        if (e.Tipo == TIPO_ENTRADA_TECLADO) {
            TRegistroEntrada s = e;
            s.Flags |= TECLA_SOBE;
            r.push_back(s);
        } else if (e.Flags & MOUSE_ESQUERDO_DESCE) {
            r.push_back(Mouse(MOUSE_ESQUERDO_SOBE));
        } else if (e.Flags & MOUSE_DIREITO_DESCE) {
            r.push_back(Mouse(MOUSE_DIREITO_SOBE));
        }
    }
    return r;
}

bool EntradaDisponivel() {
    return Verificador()();
}

bool EnviarEntradas(const TEntradas& registros) {
    std::lock_guard<std::mutex> g(trava_entrada);
    if (Parametros.Simular) return true;
    if (registros.empty() || !EntradaDisponivel()) return false;
    const auto injetar = Injetor();
    if (injetar(registros) == registros.size()) return true;
    // A partial send may have left keys or buttons down; release each one on its own so one
    // failing release does not keep the others from going out.
    for (const auto& s : RegistrosSoltura(registros)) (void)injetar(TEntradas{s});
    return false;
}

bool AcaoMouse(std::string_view acao, std::int32_t x, std::int32_t y, std::int32_t passos) {
    TEntradas registros;
    if (!RegistrosMouse(acao, x, y, passos, registros)) return false;
    if (Parametros.Simular) {
        const std::string nome(acao);
        LogFmt("SIMULADO: mouse %s x=%d y=%d passos=%d", nome.c_str(), x, y, passos);
    }
    return EnviarEntradas(registros);
}

bool TeclaValida(std::string_view nome) {
    return ProcurarTecla(nome).Tecla != 0;
}

bool PressionarTecla(std::string_view nome) {
    TEntradas registros;
    if (!RegistrosTecla(nome, registros)) return false;
    if (Parametros.Simular) {
        const std::string n(nome);
        LogFmt("SIMULADO: tecla %s", n.c_str());
    }
    return EnviarEntradas(registros);
}

bool DigitarTexto(std::u16string_view texto) {
    TEntradas registros;
    if (!RegistrosTexto(texto, registros)) return false;
    if (Parametros.Simular) {
        LogFmt("SIMULADO: texto (%d unidades UTF-16)", static_cast<int>(texto.size()));
    }
    return EnviarEntradas(registros);
}

// Below LIMIAR the move passes unchanged: a finger creeping over the pad wants pixels, not
// leaps. Above it the gain rises linearly with the speed up to FATOR_MAXIMO, close to the
// feel of a desktop's default pointer settings.
void AcelerarMovimento(std::int32_t dx, std::int32_t dy, TRestoAceleracao& resto,
                       std::int32_t& saida_x, std::int32_t& saida_y) {
    constexpr double LIMIAR = 3.0;
    constexpr double INCLINACAO = 0.08;
    constexpr double FATOR_MAXIMO = 2.5;
    constexpr double LIMITE_SAIDA = 32767.0;  // X coordinates are 16-bit
    const double vx = dx, vy = dy;
    const double velocidade = std::sqrt(vx * vx + vy * vy);
    const double fator = velocidade <= LIMIAR
                             ? 1.0
                             : std::min(FATOR_MAXIMO, 1.0 + (velocidade - LIMIAR) * INCLINACAO);
    const double x = std::clamp(vx * fator + resto.X, -LIMITE_SAIDA, LIMITE_SAIDA);
    const double y = std::clamp(vy * fator + resto.Y, -LIMITE_SAIDA, LIMITE_SAIDA);
    const double ix = std::trunc(x), iy = std::trunc(y);
    resto.X = x - ix;
    resto.Y = y - iy;
    saida_x = static_cast<std::int32_t>(ix);
    saida_y = static_cast<std::int32_t>(iy);
}

}  // namespace velorin
