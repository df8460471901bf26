// Synthetic mouse, keyboard and text input from the phone.
//
// Every command becomes one array of input records, built here by portable code and handed
// whole to the platform backend under one lock, so the events of two commands never
// interleave. The records follow the layout of the Windows input records (type, mouse or
// keyboard fields, the same flag values); the Linux backend replays them through XTest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velorin {

// Record types.
inline constexpr std::uint32_t TIPO_ENTRADA_MOUSE = 0;
inline constexpr std::uint32_t TIPO_ENTRADA_TECLADO = 1;

// Mouse flags.
inline constexpr std::uint32_t MOUSE_MOVER = 0x1;
inline constexpr std::uint32_t MOUSE_ESQUERDO_DESCE = 0x2;
inline constexpr std::uint32_t MOUSE_ESQUERDO_SOBE = 0x4;
inline constexpr std::uint32_t MOUSE_DIREITO_DESCE = 0x8;
inline constexpr std::uint32_t MOUSE_DIREITO_SOBE = 0x10;
inline constexpr std::uint32_t MOUSE_RODA = 0x800;
// Wheel units per notch.
inline constexpr std::int32_t UNIDADES_POR_PASSO_RODA = 120;

// Keyboard flags.
inline constexpr std::uint32_t TECLA_ESTENDIDA = 0x1;
inline constexpr std::uint32_t TECLA_SOBE = 0x2;
inline constexpr std::uint32_t TECLA_UNICODE = 0x4;

// Virtual keys we build records for.
inline constexpr std::uint16_t VK_TECLA_TAB = 9;
inline constexpr std::uint16_t VK_TECLA_ENTER = 13;

// Texts typed at once: 1 to this many UTF-16 units.
inline constexpr std::size_t MAXIMO_UNIDADES_TEXTO = 512;

// One input record. Mouse records use Dx, Dy, DadosMouse and Flags; keyboard records use Vk,
// Scan and Flags. Time and extra information are always zero, so they are not kept.
struct TRegistroEntrada {
    std::uint32_t Tipo = TIPO_ENTRADA_MOUSE;
    std::int32_t Dx = 0;
    std::int32_t Dy = 0;
    std::int32_t DadosMouse = 0;  // wheel delta, signed
    std::uint16_t Vk = 0;
    std::uint16_t Scan = 0;  // with TECLA_UNICODE: one UTF-16 unit
    std::uint32_t Flags = 0;

    bool operator==(const TRegistroEntrada&) const = default;
};

using TEntradas = std::vector<TRegistroEntrada>;

// ---- record builders (pure) ----

// The records of a mouse action; false for an unknown action (nothing built).
[[nodiscard]] bool RegistrosMouse(std::string_view acao, std::int32_t x, std::int32_t y,
                                  std::int32_t passos, TEntradas& registros);
// Modifier and key of a named key; key 0 when the name is not in the table.
struct TTeclaNomeada {
    std::uint16_t Modificador = 0;
    std::uint16_t Tecla = 0;
};
TTeclaNomeada ProcurarTecla(std::string_view nome);
// A keyboard record for a virtual key, with the extended flag where the key needs it.
TRegistroEntrada RegistroTecla(std::uint16_t vk, bool soltar);
// The records of a named key; false for an unknown name.
[[nodiscard]] bool RegistrosTecla(std::string_view nome, TEntradas& registros);
// The records that type a text; false when TextoValido refuses it.
[[nodiscard]] bool RegistrosTexto(std::u16string_view texto, TEntradas& registros);
// The single records that undo whatever `registros` could have left pressed.
TEntradas RegistrosSoltura(const TEntradas& registros);

// ---- actions ----

[[nodiscard]] bool EntradaDisponivel();
[[nodiscard]] bool EnviarEntradas(const TEntradas& registros);
[[nodiscard]] bool AcaoMouse(std::string_view acao, std::int32_t x, std::int32_t y,
                             std::int32_t passos);
[[nodiscard]] bool TeclaValida(std::string_view nome);
[[nodiscard]] bool PressionarTecla(std::string_view nome);
[[nodiscard]] bool TextoValido(std::u16string_view texto);
[[nodiscard]] bool DigitarTexto(std::u16string_view texto);

// ---- pointer acceleration (used by backends that inject raw relative motion) ----

// Remainders carried between moves so slow movements add up exactly.
struct TRestoAceleracao {
    double X = 0;
    double Y = 0;
};
// Scales one relative move by the speed it implies: small moves (fine finger work) pass 1:1,
// larger ones grow up to a cap so a swipe crosses the screen. Fractions are carried in `resto`.
void AcelerarMovimento(std::int32_t dx, std::int32_t dy, TRestoAceleracao& resto,
                       std::int32_t& saida_x, std::int32_t& saida_y);

// ---- backend seam ----

// Injects records in order and returns how many were injected (stops at the first failure).
using TInjetorEntradas = std::function<std::size_t(const TEntradas&)>;
using TVerificadorEntrada = std::function<bool()>;
// Replaces the platform backend (tests); empty functions restore the real ones.
void DefinirBackendEntradaTeste(TInjetorEntradas injetor, TVerificadorEntrada disponivel);

// The platform's own backend, one per OS (entrada_<os>.cpp).
std::size_t InjetarEntradasSistema(const TEntradas& registros);
bool EntradaDisponivelSistema();

// Linux backend test seam: called after the X server has processed a text whose symbols
// needed a borrowed keycode and before the keyboard mapping is put back. By default the
// backend waits a short moment so the receiving window can look the symbols up; a test
// replaces the wait with "until my window has seen the keys". Empty restores the default.
void DefinirEsperaAntesRestaurarTeclado(std::function<void()> esperar);

}  // namespace velorin
