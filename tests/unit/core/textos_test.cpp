#include "core/textos.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/texto.h"

namespace velorin {
namespace {

// Every test leaves the module as a fresh process has it, whatever it switched to.
class Textos : public ::testing::Test {
  protected:
    void TearDown() override { SelecionarIdioma("auto"); }
};

#if !defined(_WIN32)
// Sets the locale variables for one test and puts the previous values back.
class AmbienteLocale {
  public:
    AmbienteLocale(const char* lcAll, const char* lcMessages, const char* lang) {
        Definir("LC_ALL", lcAll);
        Definir("LC_MESSAGES", lcMessages);
        Definir("LANG", lang);
    }
    ~AmbienteLocale() {
        for (const auto& [nome, valor] : antigos_) {
            if (valor) {
                setenv(nome.c_str(), valor->c_str(), 1);
            } else {
                unsetenv(nome.c_str());
            }
        }
    }
    AmbienteLocale(const AmbienteLocale&) = delete;
    AmbienteLocale& operator=(const AmbienteLocale&) = delete;

  private:
    void Definir(const char* nome, const char* valor) {
        const char* antigo = std::getenv(nome);
        antigos_[nome] = antigo ? std::optional<std::string>(antigo) : std::nullopt;
        if (valor) {
            setenv(nome, valor, 1);
        } else {
            unsetenv(nome);
        }
    }
    std::map<std::string, std::optional<std::string>> antigos_;
};
#endif

// The printf conversions of a text in order ("%s", "%d", ...); "%%" is a literal percent sign.
std::vector<std::string> Conversoes(std::string_view texto) {
    std::vector<std::string> achadas;
    for (std::size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] != '%') continue;
        std::size_t fim = i + 1;
        while (fim < texto.size() && std::strchr("-+ #0123456789.lhz", texto[fim]) != nullptr) {
            ++fim;
        }
        if (fim < texto.size() && texto[fim] == '%') {
            i = fim;
            continue;
        }
        achadas.emplace_back(texto.substr(i, fim + 1 - i));
        i = fim;
    }
    return achadas;
}

std::size_t ContarQuebras(std::string_view texto) {
    std::size_t n = 0;
    for (std::size_t p = texto.find("\r\n"); p != std::string_view::npos;
         p = texto.find("\r\n", p + 2)) {
        ++n;
    }
    return n;
}

// A CR or LF that is not part of a CR LF pair.
bool TemQuebraSolta(std::string_view texto) {
    for (std::size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] == '\r' && (i + 1 == texto.size() || texto[i + 1] != '\n')) return true;
        if (texto[i] == '\n' && (i == 0 || texto[i - 1] != '\r')) return true;
    }
    return false;
}

bool Utf8Valido(std::string_view texto) {
    return Utf16ParaUtf8(Utf8ParaUtf16(texto)) == texto;
}

TEST_F(Textos, TraduzNasTresLinguas) {
    struct Caso {
        const char* pt;
        const char* en;
        const char* es;
    };
    const Caso casos[] = {
        {spareartitulo, "Pair phone", "Vincular teléfono"},
        {smenuparear, "Pair phone…", "Vincular teléfono…"},
        {smodorede, "On home network", "En la red de casa"},
        {scontrolepausado, "Paused", "En pausa"},
        {sacaosuspender, "Sleep", "Suspender"},
        {sbtncancelar, "Cancel", "Cancelar"},
        {sidiomaautomatico, "Automatic (Windows)", "Automático (Windows)"},
        {sparearsucesso, "Paired with %s!", "¡Vinculado con %s!"},
        {sbalaoagendadotexto, "%s at %s (requested by %s).", "%s a las %s (solicitado por %s)."},
        {sbalaoerroservidortexto, "Port %d is in use by another program.",
         "Otro programa está usando el puerto %d."},
        {sbalaopareamentofechadotexto,
         "Too many incorrect codes. If that was you, open \"Pair phone\" again.",
         "Demasiados códigos incorrectos. Si fuiste tú, abre \"Vincular teléfono\" de nuevo."},
        {sconfirmarremover,
         "Remove \"%s\"?\r\n\r\nThis phone will lose access to the PC and will need to pair "
         "again.",
         "¿Eliminar \"%s\"?\r\n\r\nEste teléfono dejará de controlar el PC y tendrá que "
         "vincularse de nuevo."},
        {serroabrirpastadados, "Could not open the data folder:\r\n%s",
         "No se pudo abrir la carpeta de datos:\r\n%s"},
        {satalhosfiltro, "Programs and shortcuts|*.exe;*.lnk", "Programas y atajos|*.exe;*.lnk"},
        // The second of two rows with the same Portuguese text.
        {sbalaosuspensaotitulo, "Schedule cancelled", "Programación cancelada"},
    };
    for (const char* idioma : {"pt", "en", "es"}) {
        SelecionarIdioma(idioma);
        for (const Caso& c : casos) {
            const std::string_view lingua = idioma;
            const char* esperado = lingua == "pt" ? c.pt : lingua == "en" ? c.en : c.es;
            EXPECT_STREQ(Traduzir(c.pt), esperado) << idioma << ": " << c.pt;
            // A text held in a std::string (a copy, not the constant) is found the same way.
            EXPECT_EQ(Traduzir(std::string(c.pt)), esperado) << idioma << ": " << c.pt;
        }
    }
}

TEST_F(Textos, CadaLinhaTemAsMesmasConversoesEQuebrasNasTresLinguas) {
    const auto tabela = TabelaTextos();
    ASSERT_FALSE(tabela.empty());
    std::set<std::string_view> chaves;
    std::map<std::string_view, const TLinhaTexto*> porTexto;
    for (const TLinhaTexto& l : tabela) {
        SCOPED_TRACE(l.chave);
        EXPECT_TRUE(chaves.insert(l.chave).second) << "duplicate key";
        const auto conversoes = Conversoes(l.pt);
        EXPECT_EQ(Conversoes(l.en), conversoes);
        EXPECT_EQ(Conversoes(l.es), conversoes);
        EXPECT_EQ(ContarQuebras(l.en), ContarQuebras(l.pt));
        EXPECT_EQ(ContarQuebras(l.es), ContarQuebras(l.pt));
        for (const char* t : {l.pt, l.en, l.es}) {
            EXPECT_GT(std::strlen(t), 0u);
            EXPECT_FALSE(TemQuebraSolta(t)) << t;
            EXPECT_TRUE(Utf8Valido(t)) << t;
        }
        // The first match wins, so a repeated Portuguese text must carry the same translations
        // or the later row could never be shown.
        const auto [anterior, nova] = porTexto.emplace(l.pt, &l);
        if (!nova) {
            EXPECT_STREQ(l.en, anterior->second->en) << "same text as " << anterior->second->chave;
            EXPECT_STREQ(l.es, anterior->second->es) << "same text as " << anterior->second->chave;
        }
    }
}

TEST_F(Textos, ConversoesReconhecidas) {
    // The checker itself, so the table loop above cannot pass by finding nothing.
    EXPECT_EQ(Conversoes("%s às %s: %d%% (%-5d)"),
              (std::vector<std::string>{"%s", "%s", "%d", "%-5d"}));
    EXPECT_TRUE(TemQuebraSolta("a\nb"));
    EXPECT_TRUE(TemQuebraSolta("a\rb"));
    EXPECT_FALSE(TemQuebraSolta("a\r\nb"));
}

TEST_F(Textos, TextoSemLinhaVoltaIgual) {
    const char* const desconhecidos[] = {
        "Texto que não existe", "", "parear celular", "Parear celular ", "Joao %s",
        // API messages never translate, even the one with an interface row's words in it.
        serrohostinvalido, serropareamentofechado, serronaoencontrado, serrometodo,
        serroentradainternetdesligada, serropainelausente};
    for (const char* idioma : {"pt", "en", "es"}) {
        SelecionarIdioma(idioma);
        for (const char* t : desconhecidos) {
            EXPECT_EQ(Traduzir(t), t) << idioma << ": " << t;  // the very same pointer
            EXPECT_EQ(Traduzir(std::string(t)), t) << idioma;
        }
        EXPECT_EQ(Traduzir(static_cast<const char*>(nullptr)), nullptr);
    }
}

TEST_F(Textos, DadosFormatadosDepoisDaTraducaoNaoSaoTraduzidos) {
    SelecionarIdioma("en");
    char saida[128];
    std::snprintf(saida, sizeof saida, Traduzir(sparearsucesso), "Joao %s");
    EXPECT_STREQ(saida, "Paired with Joao %s!");
}

TEST_F(Textos, CodigosENomesDosIdiomas) {
    const char* const codigos[] = {"auto", "pt", "en", "es"};
    for (int i = 0; i < QUANTIDADE_IDIOMAS; ++i) {
        EXPECT_EQ(CodigoIdioma(i), codigos[i]);
        EXPECT_EQ(IndiceIdioma(codigos[i]), i);
    }
    EXPECT_EQ(CodigoIdioma(-1), "");
    EXPECT_EQ(CodigoIdioma(4), "");
    EXPECT_EQ(IndiceIdioma("fr"), 0);
    EXPECT_EQ(IndiceIdioma("PT"), 0);

    struct Caso {
        const char* idioma;
        const char* automatico;
    };
    for (const Caso& c : {Caso{"pt", "Automático (Windows)"}, Caso{"en", "Automatic (Windows)"},
                          Caso{"es", "Automático (Windows)"}}) {
        SelecionarIdioma(c.idioma);
        EXPECT_STREQ(NomeIdioma(0), c.automatico) << c.idioma;
        // Each language keeps its own name in every interface language.
        EXPECT_STREQ(NomeIdioma(1), "Português");
        EXPECT_STREQ(NomeIdioma(2), "English");
        EXPECT_STREQ(NomeIdioma(3), "Español");
        EXPECT_STREQ(NomeIdioma(4), "");
        EXPECT_STREQ(NomeIdioma(-1), "");
    }
}

TEST(ResolverIdioma, PreferenciaExplicitaOuLinguaDoWindows) {
    struct Caso {
        const char* preferencia;
        std::uint16_t windows;
        const char* esperado;
    };
    const Caso casos[] = {
        {"auto", 1046, "pt"},   // Portuguese (Brazil)
        {"auto", 2070, "pt"},   // Portuguese (Portugal)
        {"auto", 1033, "en"},   // English (United States)
        {"auto", 1036, "en"},   // French: neither Portuguese nor Spanish
        {"auto", 3082, "es"},   // Spanish (Spain, modern sort)
        {"auto", 11274, "es"},  // Spanish (Argentina)
        {"auto", 0x16, "pt"},   // a bare primary number, as the Linux lookup gives
        {"auto", 0x0A, "es"},     {"auto", IDIOMA_WINDOWS_NEUTRO, "en"},
        {"auto", 0x0216, "en"},  // primary language 0x216, not Portuguese: all 10 bits count
        {"es", 1046, "es"},       {"pt", 1033, "pt"},
        {"en", 3082, "en"},       {"", 1046, "pt"},
        {"PT", 1033, "en"},  // codes are exact: anything else is "auto"
        {"invalido", 3082, "es"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(ResolverIdioma(c.preferencia, c.windows), c.esperado)
            << c.preferencia << " " << c.windows;
    }
}

TEST_F(Textos, SelecionarIdiomaGuardaPreferenciaEDefineEfetivo) {
    const std::string_view sessao = ResolverIdioma("auto", IdiomaInterfaceUsuario());
    struct Caso {
        const char* pedido;
        const char* preferido;
        std::string_view efetivo;
    };
    const Caso casos[] = {
        {"pt", "pt", "pt"},       {"en", "en", "en"},           {"es", "es", "es"},
        {"auto", "auto", sessao}, {"invalido", "auto", sessao}, {"", "auto", sessao},
        {"Es", "auto", sessao},
    };
    for (const Caso& c : casos) {
        SelecionarIdioma(c.pedido);
        EXPECT_EQ(IdiomaPreferido(), c.preferido) << c.pedido;
        EXPECT_EQ(IdiomaEfetivo(), c.efetivo) << c.pedido;
    }
}

TEST_F(Textos, TextosDosDialogosSeguemOIdioma) {
    SelecionarIdioma("pt");
    EXPECT_STREQ(TextosDialogoAtuais().sim, "&Sim");
    EXPECT_STREQ(TextosDialogoAtuais().nao, "&Não");
    EXPECT_STREQ(TextosDialogoAtuais().cancelar, "Cancelar");
    EXPECT_STREQ(TextosDialogoAtuais().confirmacao, "Confirmação");

    SelecionarIdioma("es");
    EXPECT_STREQ(TextosDialogoAtuais().sim, "&Sí");
    EXPECT_STREQ(TextosDialogoAtuais().erro, "Error");
    EXPECT_STREQ(TextosDialogoAtuais().informacao, "Información");

    SelecionarIdioma("en");
    const TTextosDialogo& en = TextosDialogoAtuais();
    const TTextosDialogo esperado = {"&Yes",  "&No",         "Cancel",      "Warning",
                                     "Error", "Information", "Confirmation"};
    for (auto campo : {&TTextosDialogo::sim, &TTextosDialogo::nao, &TTextosDialogo::cancelar,
                       &TTextosDialogo::aviso, &TTextosDialogo::erro, &TTextosDialogo::informacao,
                       &TTextosDialogo::confirmacao}) {
        EXPECT_STREQ(en.*campo, esperado.*campo);
    }
    EXPECT_EQ(&TextosDialogo("fr"), &TextosDialogo("en"));
}

TEST_F(Textos, LeituraDeOutrasThreadsDuranteTrocaDeIdioma) {
    // The API reads its Portuguese messages from connection threads while the interface thread
    // may switch languages; every read must see one consistent language.
    std::atomic<bool> parar{false};
    std::atomic<int> ruins{0};
    std::vector<std::thread> leitores;
    for (int t = 0; t < 2; ++t) {
        leitores.emplace_back([&] {
            while (!parar.load()) {
                if (Traduzir(serrolimite) != serrolimite) ++ruins;
                const std::string_view s = Traduzir(smodorede);
                if (s != "Na rede de casa" && s != "On home network" && s != "En la red de casa") {
                    ++ruins;
                }
                const std::string_view efetivo = IdiomaEfetivo();
                if (efetivo != "pt" && efetivo != "en" && efetivo != "es") ++ruins;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) SelecionarIdioma(CodigoIdioma(i % QUANTIDADE_IDIOMAS));
    parar = true;
    for (auto& t : leitores) t.join();
    EXPECT_EQ(ruins.load(), 0);
}

#if !defined(_WIN32)
TEST(IdiomaWindowsDoLocale, NomesDeLocale) {
    struct Caso {
        const char* locale;
        std::uint16_t esperado;
    };
    const Caso casos[] = {
        {"pt_BR.UTF-8", IDIOMA_WINDOWS_PORTUGUES},
        {"pt_PT", IDIOMA_WINDOWS_PORTUGUES},
        {"pt", IDIOMA_WINDOWS_PORTUGUES},
        {"PT_br.utf8", IDIOMA_WINDOWS_PORTUGUES},
        {"pt-BR", IDIOMA_WINDOWS_PORTUGUES},
        {" pt_BR.UTF-8\n", IDIOMA_WINDOWS_PORTUGUES},
        {"es_ES@euro", IDIOMA_WINDOWS_ESPANHOL},
        {"es_419.UTF-8", IDIOMA_WINDOWS_ESPANHOL},
        {"es_MX", IDIOMA_WINDOWS_ESPANHOL},
        {"en_US", IDIOMA_WINDOWS_INGLES},
        {"en_GB.UTF-8", IDIOMA_WINDOWS_INGLES},
        {"fr_FR.UTF-8", 0x0C},
        {"de_DE", 0x07},
        {"sr_RS@latin", 0x1A},
        {"C", IDIOMA_WINDOWS_INGLES},
        {"C.UTF-8", IDIOMA_WINDOWS_INGLES},
        {"POSIX", IDIOMA_WINDOWS_INGLES},
        {"", IDIOMA_WINDOWS_INGLES},
        {"ptx_BR", IDIOMA_WINDOWS_NEUTRO},  // a prefix of a known code is not that language
        {"p", IDIOMA_WINDOWS_NEUTRO},
        {"xx_YY", IDIOMA_WINDOWS_NEUTRO},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(IdiomaWindowsDoLocale(c.locale), c.esperado) << "'" << c.locale << "'";
    }
}

TEST_F(Textos, LinguaDaSessaoVemDoPrimeiroLocaleDefinido) {
    struct Caso {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* efetivo;
    };
    const Caso casos[] = {
        {"pt_BR.UTF-8", "en_US", "es_ES", "pt"},
        {"", "es_ES.UTF-8", "pt_BR", "es"},  // empty counts as unset
        {nullptr, nullptr, "pt_PT.UTF-8", "pt"},
        {"C", nullptr, "pt_BR", "en"},  // LC_ALL=C really is the session's language
        {nullptr, nullptr, nullptr, "en"},
        {nullptr, "fr_FR", "es_ES", "en"},
    };
    for (const Caso& c : casos) {
        AmbienteLocale ambiente(c.lcAll, c.lcMessages, c.lang);
        SelecionarIdioma("auto");
        EXPECT_EQ(IdiomaEfetivo(), c.efetivo)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
            << (c.lang ? c.lang : "-");
        // An explicit choice ignores the session.
        SelecionarIdioma("en");
        EXPECT_EQ(IdiomaEfetivo(), "en");
    }
}

TEST_F(Textos, AutomaticoLeASessaoACadaSelecao) {
    {
        AmbienteLocale ambiente("es_ES.UTF-8", nullptr, nullptr);
        SelecionarIdioma("auto");
        EXPECT_STREQ(Traduzir(smodorede), "En la red de casa");
    }
    {
        AmbienteLocale ambiente("pt_BR.UTF-8", nullptr, nullptr);
        // Nothing changes until the language is selected again.
        EXPECT_STREQ(Traduzir(smodorede), "En la red de casa");
        SelecionarIdioma("auto");
        EXPECT_STREQ(Traduzir(smodorede), "Na rede de casa");
        EXPECT_EQ(IdiomaPreferido(), "auto");
    }
}
#endif

}  // namespace
}  // namespace velorin
