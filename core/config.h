// The configuration record, the paired devices, and their file config.ini in the data folder.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace velorin {

// A paired phone. Only hashes of its secrets are kept.
struct TDispositivo {
    std::string Id;           // 8 lower-case hex characters
    std::string Nome;         // name as cleaned at pairing
    std::string TokenHash;    // SHA-256 hex of the bearer token
    std::string ChaveHash;    // SHA-256 hex of the identity key, or empty
    double CriadoEm = 0;      // local date-time in days since 1899-12-30; 0 = not known
    double UltimoAcesso = 0;  // same representation; 0 = never
    std::string UltimoIp;
};

using TDispositivos = std::vector<TDispositivo>;

struct TConfig {
    std::int32_t Porta = 8765;
    std::string Endereco = "0.0.0.0";
    std::string NomeExibicao;
    std::string Idioma = "auto";
    std::int32_t SegundosCarencia = 10;
    bool Pausado = false;
    bool MouseTecladoInternet = false;
    TDispositivos Dispositivos;
    std::string Url;
    std::string Token;  // plain only in memory; the file holds it protected
    std::string Conta;
    std::string Aparelho;
};

inline constexpr std::int32_t PORTA_PADRAO = 8765;
inline constexpr std::int32_t CARENCIA_MINIMA = 10;
inline constexpr std::int32_t CARENCIA_MAXIMA = 120;
// A real config.ini is a few KiB (about 400 bytes per phone). A larger file is not ours: it is
// ignored as a whole (defaults, with a warning) instead of being read into memory.
inline constexpr std::int64_t LIMITE_CONFIG = 4 * 1024 * 1024;

// The folder config.ini lives in (the data folder). Set once at start, before anything else
// here is used; a missing final "/" is added.
void DefinirPastaConfig(const std::string& pasta);

TConfig ConfigPadrao();
// Data folder + "config.ini".
std::string CaminhoConfig();
// Whether config.ini exists as a file (a first run has none).
bool ConfigExiste();
// Defaults, then the file's values when it exists. Never fails.
void CarregarConfig(TConfig& cfg);
// Writes the whole file through a temporary file and an atomic replace; false (and a log line)
// on failure, in which case the previous config.ini is untouched.
[[nodiscard]] bool SalvarConfig(const TConfig& cfg);

// The same conversions without files: the loader's rules applied to INI text, and the INI text
// the save writes (with the cloud token protected).
void LerConfigDeTexto(std::string_view texto, TConfig& cfg);
std::string TextoDeConfig(const TConfig& cfg);

// Date-times are local wall-clock values as days since 1899-12-30 (fraction = time of day).
// "yyyy-mm-ddThh:nn:ss" for a value above 0, empty text otherwise (or beyond year 9999).
std::string TextoIso(double data);
// Inverse of TextoIso; 0 when the text is not a usable date.
double LerDataIso(std::string_view texto);
// The date-time for a calendar date and time of day; 0 for an invalid date.
double CodificarData(int ano, int mes, int dia, int hora, int minuto, int segundo,
                     int milissegundo = 0);
// Local wall-clock now, and conversions between an instant and its local date-time. Around a
// daylight-saving change a local time can be missing or repeated; TempoUnixDeData lets the
// C library choose (a missing time moves forward, a repeated one takes either instant).
double AgoraData();
double DataDeTempoUnix(std::time_t instante);
std::time_t TempoUnixDeData(double data);

}  // namespace velorin
