#include "core/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>

#include "core/ini.h"
#include "core/log.h"
#include "core/recursos.h"
#include "core/seguranca.h"
#include "core/substituir.h"
#include "core/texto.h"

namespace velorin {

namespace {

constexpr std::string_view SECAO_GERAL = "Geral";
constexpr std::string_view SECAO_NUVEM = "Nuvem";
constexpr std::string_view PREFIXO_DISPOSITIVO = "Dispositivo.";
constexpr std::size_t TAMANHO_HASH = 64;

std::mutex trava_pasta;
std::string pasta_config;

// ---- dates ----------------------------------------------------------------------------------

constexpr long long MS_POR_DIA = 86400000;
// Day number of 1899-12-30 counted from 1970-01-01.
constexpr long long DIA_ZERO = -25569;
// 10000-01-01 as a day count: TextoIso has four digits for the year.
constexpr long long DIA_LIMITE = 2958466;

// Days from 1970-01-01 to a proleptic Gregorian date (valid for any year we accept).
long long DiasDeCivil(long long ano, long long mes, long long dia) {
    ano -= mes <= 2 ? 1 : 0;
    const long long era = (ano >= 0 ? ano : ano - 399) / 400;
    const long long ano_era = ano - era * 400;
    const long long dia_ano = (153 * (mes + (mes > 2 ? -3 : 9)) + 2) / 5 + dia - 1;
    const long long dia_era = ano_era * 365 + ano_era / 4 - ano_era / 100 + dia_ano;
    return era * 146097 + dia_era - 719468;
}

void CivilDeDias(long long z, int& ano, int& mes, int& dia) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dia_era = z - era * 146097;
    const long long ano_era = (dia_era - dia_era / 1460 + dia_era / 36524 - dia_era / 146096) / 365;
    const long long dia_ano = dia_era - (365 * ano_era + ano_era / 4 - ano_era / 100);
    const long long mp = (5 * dia_ano + 2) / 153;
    dia = static_cast<int>(dia_ano - (153 * mp + 2) / 5 + 1);
    mes = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    ano = static_cast<int>(ano_era + era * 400 + (mes <= 2 ? 1 : 0));
}

bool Bissexto(long long ano) {
    return (ano % 4 == 0 && ano % 100 != 0) || ano % 400 == 0;
}

bool DataValida(long long ano, long long mes, long long dia) {
    static constexpr int dias_mes[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (ano < 1 || ano > 9999 || mes < 1 || mes > 12 || dia < 1) return false;
    const long long maximo = dias_mes[mes - 1] + (mes == 2 && Bissexto(ano) ? 1 : 0);
    return dia <= maximo;
}

struct TPartesData {
    int Ano = 0, Mes = 0, Dia = 0, Hora = 0, Minuto = 0, Segundo = 0, Milissegundo = 0;
};

// Splits a positive date-time into its fields, rounded to the millisecond (so a value that is
// a hair below a whole second, as most encoded times are, shows that second).
bool Decodificar(double data, TPartesData& p) {
    if (!(data > 0) || !(data < static_cast<double>(DIA_LIMITE))) return false;
    const long long ms = std::llround(data * static_cast<double>(MS_POR_DIA));
    const long long dias = ms / MS_POR_DIA;
    if (dias >= DIA_LIMITE) return false;
    long long resto = ms % MS_POR_DIA;
    CivilDeDias(dias + DIA_ZERO, p.Ano, p.Mes, p.Dia);
    p.Hora = static_cast<int>(resto / 3600000);
    resto %= 3600000;
    p.Minuto = static_cast<int>(resto / 60000);
    resto %= 60000;
    p.Segundo = static_cast<int>(resto / 1000);
    p.Milissegundo = static_cast<int>(resto % 1000);
    return true;
}

// ---- reading --------------------------------------------------------------------------------

// Decimal 32-bit integer, or `padrao` for anything else (including values beyond 32 bits).
std::int32_t LerInt32(const TIni& ini, std::string_view secao, std::string_view chave,
                      std::int32_t padrao) {
    long long v = 0;
    if (!LerInteiro(Aparar(ini.Texto(secao, chave)), v)) return padrao;
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        return padrao;
    return static_cast<std::int32_t>(v);
}

bool LerBool(const TIni& ini, std::string_view secao, std::string_view chave, bool padrao) {
    const std::string v = ini.Texto(secao, chave);
    if (v.empty()) return padrao;
    return v.front() == '1';
}

std::string LerAparado(const TIni& ini, std::string_view secao, std::string_view chave,
                       std::string_view padrao = {}) {
    return Aparar(ini.Texto(secao, chave, padrao));
}

// Hashes are compared as lower-case hex; anything but 64 characters cannot be one.
std::string LerHash(const TIni::TSecao& s, std::string_view chave) {
    std::string v;
    if (!TIni::Valor(s, chave, v)) return {};
    v = MinusculasAscii(Aparar(v));
    return ContarUnidadesUtf16(v) == TAMANHO_HASH ? v : std::string();
}

void LerDispositivos(const TIni& ini, TDispositivos& lista) {
    for (const TIni::TSecao& s : ini.Secoes()) {
        if (!s.Nome.starts_with(PREFIXO_DISPOSITIVO)) continue;
        TDispositivo d;
        d.Id = s.Nome.substr(PREFIXO_DISPOSITIVO.size());
        d.TokenHash = LerHash(s, "TokenHash");
        if (d.Id.empty() || d.TokenHash.empty()) continue;
        d.ChaveHash = LerHash(s, "ChaveHash");
        std::string v;
        if (TIni::Valor(s, "Nome", v)) d.Nome = v;
        if (TIni::Valor(s, "CriadoEm", v)) d.CriadoEm = LerDataIso(v);
        if (TIni::Valor(s, "UltimoAcesso", v)) d.UltimoAcesso = LerDataIso(v);
        if (TIni::Valor(s, "UltimoIp", v)) d.UltimoIp = v;
        lista.push_back(std::move(d));
    }
}

std::string MensagemErro(const char* etapa, int erro) {
    return std::string(etapa) + ": " + std::generic_category().message(erro) + " (errno " +
           std::to_string(erro) + ")";
}

// Writes the whole text to a new file and flushes it to disk. The file is created exclusively
// with owner-only access: it will hold token hashes and the protected cloud token.
bool GravarTemporario(const std::string& caminho, const std::string& texto, std::string& erro) {
    if (::unlink(caminho.c_str()) != 0 && errno != ENOENT) {
        erro = MensagemErro("apagar config.ini.tmp", errno);
        return false;
    }
    TDescritor fd(::open(caminho.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        erro = MensagemErro("criar config.ini.tmp", errno);
        return false;
    }
    TAoSair apagar([&caminho] { ::unlink(caminho.c_str()); });
    if (!EscreverTudo(fd.Get(), texto.data(), texto.size())) {
        erro = MensagemErro("gravar config.ini.tmp", errno);
        return false;
    }
    if (::fsync(fd.Get()) != 0) {
        erro = MensagemErro("fsync config.ini.tmp", errno);
        return false;
    }
    // A failed close can report a lost write on some file systems.
    if (::close(fd.Soltar()) != 0) {
        erro = MensagemErro("fechar config.ini.tmp", errno);
        return false;
    }
    apagar.Cancelar();
    return true;
}

}  // namespace

// ---- dates ----------------------------------------------------------------------------------

double CodificarData(int ano, int mes, int dia, int hora, int minuto, int segundo,
                     int milissegundo) {
    if (!DataValida(ano, mes, dia)) return 0;
    if (segundo == 60) segundo = 59;  // a leap second as the C library reports it
    if (hora < 0 || hora > 23 || minuto < 0 || minuto > 59 || segundo < 0 || segundo > 59 ||
        milissegundo < 0 || milissegundo > 999)
        return 0;
    const long long dias = DiasDeCivil(ano, mes, dia) - DIA_ZERO;
    const long long ms = ((hora * 60LL + minuto) * 60 + segundo) * 1000 + milissegundo;
    return static_cast<double>(dias) + static_cast<double>(ms) / static_cast<double>(MS_POR_DIA);
}

std::string TextoIso(double data) {
    TPartesData p;
    if (!Decodificar(data, p)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.Ano, p.Mes, p.Dia, p.Hora,
                  p.Minuto, p.Segundo);
    return buf;
}

double LerDataIso(std::string_view texto) {
    if (texto.size() < 19) return 0;
    // Fixed positions; separators are not checked, and a field that is no number counts as 0.
    const auto campo = [texto](std::size_t pos, std::size_t n) {
        long long v = 0;
        return LerInteiro(texto.substr(pos, n), v) ? v : 0LL;
    };
    const long long ano = campo(0, 4), mes = campo(5, 2), dia = campo(8, 2);
    const long long hora = campo(11, 2), minuto = campo(14, 2), segundo = campo(17, 2);
    if (!DataValida(ano, mes, dia)) return 0;
    if (hora < 0 || minuto < 0 || segundo < 0) return 0;
    const long long dias = DiasDeCivil(ano, mes, dia) - DIA_ZERO;
    const long long s = (hora % 24) * 3600 + (minuto % 60) * 60 + segundo % 60;
    return static_cast<double>(dias) + static_cast<double>(s) / 86400.0;
}

double DataDeTempoUnix(std::time_t instante) {
    tm local{};
    if (localtime_r(&instante, &local) == nullptr) return 0;
    return CodificarData(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec);
}

double AgoraData() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    if (localtime_r(&ts.tv_sec, &local) == nullptr) return 0;
    return CodificarData(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
}

std::time_t TempoUnixDeData(double data) {
    TPartesData p;
    if (!Decodificar(data, p)) return 0;
    tm local{};
    local.tm_year = p.Ano - 1900;
    local.tm_mon = p.Mes - 1;
    local.tm_mday = p.Dia;
    local.tm_hour = p.Hora;
    local.tm_min = p.Minuto;
    local.tm_sec = p.Segundo;
    local.tm_isdst = -1;  // let the zone rules say whether daylight saving applies then
    const std::time_t t = mktime(&local);
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

// ---- configuration --------------------------------------------------------------------------

void DefinirPastaConfig(const std::string& pasta) {
    std::lock_guard<std::mutex> g(trava_pasta);
    pasta_config = pasta;
    if (!pasta_config.empty() && pasta_config.back() != '/') pasta_config += '/';
}

std::string CaminhoConfig() {
    std::lock_guard<std::mutex> g(trava_pasta);
    return pasta_config + "config.ini";
}

TConfig ConfigPadrao() {
    return TConfig{};
}

bool ConfigExiste() {
    struct stat st {};
    return ::stat(CaminhoConfig().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void LerConfigDeTexto(std::string_view texto, TConfig& cfg) {
    cfg = ConfigPadrao();
    const TIni ini = TIni::Ler(texto);

    const std::int32_t porta = LerInt32(ini, SECAO_GERAL, "Porta", PORTA_PADRAO);
    cfg.Porta = (porta >= 1 && porta <= 65535) ? porta : PORTA_PADRAO;
    cfg.Endereco = LerAparado(ini, SECAO_GERAL, "Endereco", cfg.Endereco);
    cfg.NomeExibicao = LerAparado(ini, SECAO_GERAL, "NomeExibicao");
    const std::string idioma = MinusculasAscii(LerAparado(ini, SECAO_GERAL, "Idioma", cfg.Idioma));
    cfg.Idioma = (idioma == "pt" || idioma == "en" || idioma == "es") ? idioma : "auto";
    const std::int32_t carencia = LerInt32(ini, SECAO_GERAL, "SegundosCarencia", CARENCIA_MINIMA);
    cfg.SegundosCarencia = std::clamp(carencia, CARENCIA_MINIMA, CARENCIA_MAXIMA);
    cfg.Pausado = LerBool(ini, SECAO_GERAL, "Pausado", false);
    cfg.MouseTecladoInternet = LerBool(ini, SECAO_GERAL, "MouseTecladoInternet", false);

    cfg.Url = LerAparado(ini, SECAO_NUVEM, "Url");
    const std::string protegido = ini.Texto(SECAO_NUVEM, "Token");
    if (!protegido.empty()) {
        std::string token;
        if (DesprotegerTexto(protegido, token)) {
            cfg.Token = std::move(token);
        } else {
            Log("AVISO: token da nuvem nao pode ser aberto (DPAPI); acesso pela internet "
                "desativado");
        }
    }
    cfg.Conta = LerAparado(ini, SECAO_NUVEM, "Conta");
    cfg.Aparelho = LerAparado(ini, SECAO_NUVEM, "Aparelho");

    LerDispositivos(ini, cfg.Dispositivos);
}

std::string TextoDeConfig(const TConfig& cfg) {
    TIni ini;
    ini.Escrever(SECAO_GERAL, "Porta", std::to_string(cfg.Porta));
    ini.Escrever(SECAO_GERAL, "Endereco", cfg.Endereco);
    ini.Escrever(SECAO_GERAL, "NomeExibicao", cfg.NomeExibicao);
    ini.Escrever(SECAO_GERAL, "Idioma", cfg.Idioma);
    ini.Escrever(SECAO_GERAL, "SegundosCarencia", std::to_string(cfg.SegundosCarencia));
    ini.Escrever(SECAO_GERAL, "Pausado", cfg.Pausado ? "1" : "0");
    ini.Escrever(SECAO_GERAL, "MouseTecladoInternet", cfg.MouseTecladoInternet ? "1" : "0");

    ini.Escrever(SECAO_NUVEM, "Url", cfg.Url);
    std::string protegido;
    if (!cfg.Token.empty()) {
        protegido = ProtegerTexto(cfg.Token);
        // The token is never written in clear; without protection it is not written at all,
        // and the next start has to activate the cloud access again.
        if (protegido.empty()) Log("AVISO: token da nuvem nao pode ser protegido; gravado vazio");
    }
    ini.Escrever(SECAO_NUVEM, "Token", protegido);
    ini.Escrever(SECAO_NUVEM, "Conta", cfg.Conta);
    ini.Escrever(SECAO_NUVEM, "Aparelho", cfg.Aparelho);

    for (const TDispositivo& d : cfg.Dispositivos) {
        const std::string secao = std::string(PREFIXO_DISPOSITIVO) + d.Id;
        ini.Escrever(secao, "Nome", d.Nome);
        ini.Escrever(secao, "TokenHash", d.TokenHash);
        ini.Escrever(secao, "ChaveHash", d.ChaveHash);
        ini.Escrever(secao, "CriadoEm", TextoIso(d.CriadoEm));
        ini.Escrever(secao, "UltimoAcesso", TextoIso(d.UltimoAcesso));
        ini.Escrever(secao, "UltimoIp", d.UltimoIp);
    }
    return ini.Texto();
}

void CarregarConfig(TConfig& cfg) {
    cfg = ConfigPadrao();
    // O_NONBLOCK: a FIFO put in place of the file must not hang the start; regular files
    // ignore the flag.
    TDescritor fd(::open(CaminhoConfig().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        const int e = errno;
        if (e != ENOENT && e != ENOTDIR) {
            LogFmt("AVISO: config.ini nao pode ser lido (erro %d); usando valores padrao", e);
        }
        return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Log("AVISO: config.ini nao e um arquivo comum; usando valores padrao");
        return;
    }
    if (st.st_size > LIMITE_CONFIG) {
        LogFmt("AVISO: config.ini maior que %lld bytes; usando valores padrao",
               static_cast<long long>(LIMITE_CONFIG));
        return;
    }
    std::string texto;
    char bloco[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), bloco, sizeof bloco);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            LogFmt("AVISO: config.ini nao pode ser lido (erro %d); usando valores padrao", errno);
            return;
        }
        texto.append(bloco, static_cast<std::size_t>(n));
        // The file may grow while we read it.
        if (static_cast<std::int64_t>(texto.size()) > LIMITE_CONFIG) {
            LogFmt("AVISO: config.ini maior que %lld bytes; usando valores padrao",
                   static_cast<long long>(LIMITE_CONFIG));
            return;
        }
    }
    LerConfigDeTexto(texto, cfg);
}

bool SalvarConfig(const TConfig& cfg) {
    try {
        const std::string destino = CaminhoConfig();
        const std::string temporario = destino + ".tmp";
        const std::string texto = TextoDeConfig(cfg);
        std::string erro;
        if (!GravarTemporario(temporario, texto, erro)) {
            LogFmt("ERRO ao salvar config: %s", erro.c_str());
            return false;
        }
        std::int32_t tentativas = 0;
        std::int32_t codigo = 0;
        if (!SubstituirArquivoDetalhado(temporario, destino, tentativas, codigo)) {
            LogFmt("ERRO ao salvar config (MoveFileEx %d)", codigo);
            // Nothing else will use it, and it holds the protected token.
            ::unlink(temporario.c_str());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        LogFmt("ERRO ao salvar config: %s", e.what());
        return false;
    }
}

}  // namespace velorin
