#include "actions/atalhos.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/relogio.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

// ---- pure rules ----

TEST(RegrasAtalhos, EnderecosDeSite) {
    const std::pair<const char*, bool> casos[] = {
        {"https://exemplo.com.br/caminho/x?a=1&b=2#video", true},
        {"HTTP://localhost:8080/teste", true},
        {"https://exemplo.com", true},
        {"https://exemplo.com?q", true},
        {"https://münchen.de/ä", true},
        {"javascript:alert(1)", false},
        {"file:///C:/x.exe", false},
        {"https://", false},
        {"https:///x", false},
        {"https://exemplo.com/\"x", false},
        {"https://exemplo.com/a\\b", false},
        {"https://exemplo.com/a b", false},
        {"https://exemplo.com\n/x", false},
        {"https://user@host/", false},
        {"https://:80/", false},
        {"https://a.com/<b>", false},
        {"ftp://a.com/", false},
        {"https://a.com/\xC2\x85", false},  // C1 control
    };
    for (const auto& [url, ok] : casos) EXPECT_EQ(UrlSiteValida(url), ok) << url;
    EXPECT_TRUE(UrlSiteValida("https://a.com/" + std::string(2048 - 14, 'x')));
    EXPECT_FALSE(UrlSiteValida("https://a.com/" + std::string(2048 - 13, 'x')));
}

TEST(RegrasAtalhos, CaminhosDeProgramaWindows) {
    struct TCaso {
        const char* caminho;
        bool lnk;
        bool ok;
    };
    const TCaso casos[] = {
        {"C:\\Arquivos de Programas\\Ação\\App Ótimo.exe", false, true},
        {"d:/jogos/JOGO.EXE", false, true},
        {"C:\\atalhos\\app.lnk", true, true},
        {"C:\\atalhos\\browser.lnk", false, false},
        {"app.exe", false, false},
        {"\\\\servidor\\app.exe", false, false},
        {"\\\\?\\C:\\app.exe", false, false},
        {"C:\\app.exe:stream.exe", false, false},
        {"C:\\script.bat", true, false},
        {"C:\\script.ps1", true, false},
        {"C:\\app.exe\"", false, false},
        {"C:\\a\nb.exe", false, false},
        {"C:\\pasta.exe\\app", false, false},
        {"C:app.exe", false, false},
    };
    for (const auto& c : casos)
        EXPECT_EQ(CaminhoProgramaValidoWindows(c.caminho, c.lnk), c.ok) << c.caminho;
}

TEST(RegrasAtalhos, CaminhosDeProgramaLinux) {
    struct TCaso {
        const char* caminho;
        bool lancador;
        bool ok;
    };
    const TCaso casos[] = {
        {"/opt/Meu App/ação ótima", false, true},
        {"/usr/bin/firefox-esr", false, true},
        {"/home/u/.local/share/applications/app.desktop", true, true},
        {"/home/u/app.DESKTOP", false, false},  // a launcher is never the browser
        {"app", false, false},
        {"./app", false, false},
        {"~/app", false, false},
        {"/usr/bin/", false, false},
        {"/usr/bin/..", false, false},
        {"/a\"b", false, false},
        {"/a\nb", false, false},
        {"/a\xff", false, false},  // not UTF-8: could not be stored
        {"/", false, false},
    };
    for (const auto& c : casos)
        EXPECT_EQ(CaminhoProgramaValidoLinux(c.caminho, c.lancador), c.ok) << c.caminho;
    EXPECT_TRUE(CaminhoProgramaValido("/usr/bin/x", false));
    EXPECT_FALSE(CaminhoProgramaValido("C:\\x.exe", false));
}

TEST(RegrasAtalhos, TextoSemControles) {
    EXPECT_TRUE(TextoSemControles("Olá, mundo €"));
    EXPECT_TRUE(TextoSemControles(""));
    for (const char* t : {"a\tb", "a\x7f", "\xC2\x80", "\xC2\x9F", "x\n"})
        EXPECT_FALSE(TextoSemControles(t)) << t;
    EXPECT_TRUE(TextoSemControles("\xC2\xA0"));
}

TAtalho Site(const std::string& nome, const std::string& url) {
    return {NovoIdAtalho(), nome, "site", url, false, true};
}

TEST(RegrasAtalhos, ValidacaoDoCatalogo) {
    using TMudar = std::function<void(TCatalogoAtalhos&)>;
    const std::pair<const char*, TMudar> recusados[] = {
        {"destino comum mudado",
         [](TCatalogoAtalhos& c) { c.itens[1].destino = "https://outro.com/"; }},
        {"nome comum mudado", [](TCatalogoAtalhos& c) { c.itens[2].nome = "Netflix!"; }},
        {"tipo comum mudado", [](TCatalogoAtalhos& c) { c.itens[0].tipo = "site"; }},
        {"id comum desconhecido", [](TCatalogoAtalhos& c) { c.itens[0].id = "spotify"; }},
        {"id duplicado", [](TCatalogoAtalhos& c) { c.itens.push_back(c.itens[4]); }},
        {"nome com quebra", [](TCatalogoAtalhos& c) { c.itens[4].nome = "nome\nruim"; }},
        {"nome de 61", [](TCatalogoAtalhos& c) { c.itens[4].nome = std::string(61, 'n'); }},
        {"nome em branco", [](TCatalogoAtalhos& c) { c.itens[4].nome = " \t "; }},
        {"nome UTF-8 invalido", [](TCatalogoAtalhos& c) { c.itens[4].nome = "a\xc3"; }},
        {"id maiusculo", [](TCatalogoAtalhos& c) { c.itens[4].id = "ABCDEF0123456789abcdef01"; }},
        {"id curto", [](TCatalogoAtalhos& c) { c.itens[4].id = "abc"; }},
        {"personalizado navegador", [](TCatalogoAtalhos& c) { c.itens[4].tipo = "navegador"; }},
        {"site com programa", [](TCatalogoAtalhos& c) { c.itens[4].destino = "/usr/bin/x"; }},
        {"programa relativo",
         [](TCatalogoAtalhos& c) {
             c.itens[4].tipo = "programa";
             c.itens[4].destino = "bin/x";
         }},
        {"navegador lancador", [](TCatalogoAtalhos& c) { c.navegador = "/a/b.desktop"; }},
        {"comum repetido",
         [](TCatalogoAtalhos& c) {
             c.itens[4] = c.itens[1];
             c.itens[4].comum = true;
         }},
        {"tres comuns", [](TCatalogoAtalhos& c) { c.itens.erase(c.itens.begin()); }},
        {"55 itens",
         [](TCatalogoAtalhos& c) {
             while (c.itens.size() < 55) c.itens.push_back(Site("x", "https://x.com/"));
         }},
        {"comum falso em id comum", [](TCatalogoAtalhos& c) { c.itens[1].comum = false; }},
    };
    TCatalogoAtalhos base = CatalogoPadrao();
    base.itens.push_back(Site("Meu site", "https://meu.site/"));
    std::string erro;
    ASSERT_TRUE(ValidarCatalogo(base, erro));
    EXPECT_EQ(erro, "");
    for (const auto& [nome, mudar] : recusados) {
        TCatalogoAtalhos c = base;
        mudar(c);
        EXPECT_FALSE(ValidarCatalogo(c, erro)) << nome;
        EXPECT_EQ(erro, "atalho_invalido") << nome;
    }
    TCatalogoAtalhos livre = base;
    livre.itens[3].visivel = false;
    std::swap(livre.itens[0], livre.itens[4]);
    livre.navegador = "/usr/bin/navegador";
    livre.itens.push_back(
        {NovoIdAtalho(), std::string(60, 'n'), "programa", "/opt/a.desktop", false, false});
    while (livre.itens.size() < 54) livre.itens.push_back(Site("x", "https://x.com/"));
    EXPECT_TRUE(ValidarCatalogo(livre, erro)) << erro;
}

TEST(RegrasAtalhos, NovoIdEhHexadecimalDe24EUnico) {
    const std::string a = NovoIdAtalho(), b = NovoIdAtalho();
    EXPECT_EQ(a.size(), 24u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
}

TEST(RegrasAtalhos, EscritaComEspacamentoExato) {
    const std::string y = VELORIN_URL_YOUTUBE, n = VELORIN_URL_NETFLIX, h = VELORIN_URL_HBOMAX;
    const std::string esperado =
        R"({ "versao" : 1, "revisao" : 1, "navegador" : "", "itens" : [)"
        R"({ "id" : "navegador", "nome" : "Navegador", "tipo" : "navegador", "destino" : "", "comum" : true, "visivel" : true }, )"
        R"({ "id" : "youtube", "nome" : "YouTube", "tipo" : "site", "destino" : ")" +
        y +
        R"(", "comum" : true, "visivel" : true }, )"
        R"({ "id" : "netflix", "nome" : "Netflix", "tipo" : "site", "destino" : ")" +
        n +
        R"(", "comum" : true, "visivel" : true }, )"
        R"({ "id" : "hbomax", "nome" : "HBO Max", "tipo" : "site", "destino" : ")" +
        h + R"(", "comum" : true, "visivel" : true }] })";
    EXPECT_EQ(EscreverCatalogoJson(CatalogoPadrao()), esperado);
    TCatalogoAtalhos c = CatalogoPadrao();
    c.itens.push_back({"0123456789abcdef01234567", "Aspas \" e \\ e ção", "site",
                       "https://a.com/?x=\"", false, false});
    TCatalogoAtalhos lido;
    // Escapes survive a round trip (even an address the validator would refuse is written
    // faithfully; reading back then fails validation).
    EXPECT_NE(EscreverCatalogoJson(c).find(R"("Aspas \" e \\ e ção")"), std::string::npos);
}

TEST(RegrasAtalhos, LancadorDesktop) {
    struct TCaso {
        const char* texto;
        const char* endereco;
        std::vector<std::string> argv;
        const char* pasta;
    };
    const TCaso casos[] = {
        {"[Desktop Entry]\nType=Application\nExec=app --x \"um dois\" %U\n",
         "",
         {"app", "--x", "um dois"},
         ""},
        {"[Desktop Entry]\nType=Application\nExec=app %u\n",
         "https://a.com/?a=1&b=2",
         {"app", "https://a.com/?a=1&b=2"},
         ""},
        {"[Desktop Entry]\nType=Application\nExec=app\n",
         "https://a.com/",
         {"app", "https://a.com/"},
         ""},
        {"[Desktop Entry]\nType=Application\nExec=\"/opt/my app/run\" \"a\\\\\\\\b\" "
         "100%%\nPath=/tmp/w d\n",
         "",
         {"/opt/my app/run", "a\\b", "100%"},
         "/tmp/w d"},
        {"# c\n[Other]\nExec=nao\n[Desktop Entry]\nName=N\nExec = app %c %k "
         "%i\nType=Application\nIcon=ic\n",
         "",
         {"app", "N", "/l.desktop", "--icon", "ic"},
         ""},
        {"[Desktop Entry]\nType=Application\nExec=app \"$(rm -rf ~)\" ;echo\n",
         "",
         {"app", "$(rm -rf ~)", ";echo"},
         ""},
    };
    for (const auto& c : casos) {
        TLancador l;
        ASSERT_TRUE(LerLancador(c.texto, "/l.desktop", c.endereco, l)) << c.texto;
        EXPECT_EQ(l.argumentos, c.argv) << c.texto;
        EXPECT_EQ(l.pasta, c.pasta) << c.texto;
    }
    for (const char* ruim :
         {"[Desktop Entry]\nType=Link\nURL=https://a.com/\n", "[Desktop Entry]\nType=Application\n",
          "[Desktop Entry]\nType=Application\nExec=\"sem fim\n", "Type=Application\nExec=app\n",
          "[Desktop Entry]\nType=Application\nExec=%u\n"}) {
        TLancador l;
        EXPECT_FALSE(LerLancador(ruim, "/l.desktop", "", l)) << ruim;
    }
}

// ---- the manager ----

class GestorAtalhos : public ::testing::Test {
  protected:
    void SetUp() override {
        Parametros.Simular = true;
        AbrirLog(pasta.Caminho());
        DefinirRelogioTeste(1000000);
    }
    void TearDown() override {
        LiberarRelogioTeste();
        FecharLog();
        Parametros.Simular = false;
    }
    std::string Arquivo() const { return pasta / "atalhos.json"; }
    std::string LogAtual() const { return LerArquivo(pasta / "log.txt"); }
    TPastaTemporaria pasta;
};

TEST_F(GestorAtalhos, SemArquivoUsaPadraoENaoGrava) {
    TGestorAtalhos g(pasta.Caminho());
    const TCatalogoAtalhos c = g.Catalogo();
    EXPECT_EQ(c, CatalogoPadrao());
    ASSERT_EQ(c.itens.size(), 4u);
    EXPECT_EQ(c.itens[3].id, "hbomax");
    EXPECT_EQ(c.itens[3].destino, VELORIN_URL_HBOMAX);
    EXPECT_TRUE(c.itens[3].comum && c.itens[3].visivel);
    EXPECT_EQ(g.Revisao(), 1);
    EXPECT_FALSE(g.Invalido());
    EXPECT_FALSE(Existe(Arquivo()));
    for (const auto& a : c.itens)
        EXPECT_EQ(a.destino.rfind("https://", 0) == 0, a.id != "navegador") << a.id;

    TCatalogoAtalhos copia = g.Catalogo();
    copia.itens[1].visivel = false;
    copia.itens.clear();
    EXPECT_EQ(g.Catalogo().itens.size(), 4u);
}

TEST_F(GestorAtalhos, SalvarERecarregarMantemOrdemOcultosENavegador) {
    TCatalogoAtalhos c;
    {
        TGestorAtalhos g(pasta.Caminho());
        c = g.Catalogo();
        const TAtalho oculto{
            NovoIdAtalho(), "Programa oculto", "programa", "/opt/oculto/app", false, false};
        c.itens.insert(c.itens.begin(), oculto);
        c.itens.push_back(Site("Notícias", "https://noticias.example/?a=1&b=2#topo"));
        std::swap(c.itens[1], c.itens[4]);  // common items anywhere
        c.itens[2].visivel = false;
        c.navegador = "/usr/bin/meu-navegador";
        std::string erro = "x";
        ASSERT_TRUE(g.Salvar(c, erro));
        EXPECT_EQ(erro, "");
        EXPECT_EQ(g.Revisao(), 2);
    }
    const std::string texto = LerArquivo(Arquivo());
    EXPECT_EQ(texto.back(), '}');
    EXPECT_EQ(texto.find('\n'), std::string::npos);
    EXPECT_FALSE(Existe(Arquivo() + ".tmp"));
    TGestorAtalhos g2(pasta.Caminho());
    EXPECT_FALSE(g2.Invalido());
    c.revisao = 2;
    EXPECT_EQ(g2.Catalogo(), c);

    const auto lista = g2.ListaPublica();
    EXPECT_EQ(lista.begin().key(), "revisao");
    EXPECT_EQ(lista["revisao"], 2);
    const std::string json = lista.dump();
    EXPECT_EQ(json.find("destino"), std::string::npos);
    EXPECT_EQ(json.find("/opt/"), std::string::npos);
    EXPECT_EQ(json.find("meu-navegador"), std::string::npos);
    std::vector<std::string> ids;
    for (const auto& i : lista["itens"]) {
        ids.push_back(i["id"]);
        std::vector<std::string> chaves;
        for (auto it = i.begin(); it != i.end(); ++it) chaves.push_back(it.key());
        EXPECT_EQ(chaves, (std::vector<std::string>{"id", "nome", "tipo", "comum"}));
    }
    std::vector<std::string> visiveis;
    for (const auto& a : c.itens) {
        if (a.visivel) visiveis.push_back(a.id);
    }
    EXPECT_EQ(ids, visiveis);

    std::string erro;
    EXPECT_FALSE(g2.Abrir(c.itens[0].id, erro));  // hidden
    EXPECT_EQ(erro, "atalho_nao_encontrado");
    EXPECT_FALSE(g2.Abrir("../../etc/passwd", erro));
    EXPECT_EQ(erro, "atalho_nao_encontrado");
}

TEST_F(GestorAtalhos, SegundoSalvarDaMesmaCopiaEhConflito) {
    TGestorAtalhos g(pasta.Caminho());
    TCatalogoAtalhos c = g.Catalogo();
    c.itens[1].visivel = false;
    std::string erro;
    ASSERT_TRUE(g.Salvar(c, erro));
    const std::string gravado = LerArquivo(Arquivo());
    c.itens[2].visivel = false;
    EXPECT_FALSE(g.Salvar(c, erro));
    EXPECT_EQ(erro, "atalhos_conflito");
    EXPECT_EQ(g.Revisao(), 2);
    EXPECT_TRUE(g.Catalogo().itens[2].visivel);
    EXPECT_EQ(LerArquivo(Arquivo()), gravado);

    TCatalogoAtalhos ruim = g.Catalogo();
    ruim.itens[1].destino = "https://outro/";
    EXPECT_FALSE(g.Salvar(ruim, erro));
    EXPECT_EQ(erro, "atalho_invalido");
}

TEST_F(GestorAtalhos, PastaNoLugarDoTemporarioFazSalvarFalharSemMudarNada) {
    ASSERT_EQ(::mkdir((Arquivo() + ".tmp").c_str(), 0700), 0);
    TGestorAtalhos g(pasta.Caminho());
    TCatalogoAtalhos c = g.Catalogo();
    c.itens[0].visivel = false;
    std::string erro;
    EXPECT_FALSE(g.Salvar(c, erro));
    EXPECT_EQ(erro, "atalhos_salvar_falhou");
    EXPECT_EQ(g.Catalogo(), CatalogoPadrao());
    EXPECT_FALSE(Existe(Arquivo()));
}

TEST_F(GestorAtalhos, ArquivoCorrompidoDesativaAberturasAteSalvar) {
    GravarArquivo(Arquivo(), "{corrompido");
    TGestorAtalhos g(pasta.Caminho());
    EXPECT_TRUE(g.Invalido());
    EXPECT_EQ(g.Catalogo(), CatalogoPadrao());
    EXPECT_EQ(LerArquivo(Arquivo()), "{corrompido");
    EXPECT_NE(LogAtual().find(
                  "AVISO: catalogo de atalhos invalido; aberturas desativadas ate salvar no PC"),
              std::string::npos);
    EXPECT_EQ(g.ListaPublica()["itens"].size(), 4u);
    std::string erro;
    for (const char* id : {"youtube", "navegador", "inexistente"}) {
        EXPECT_FALSE(g.Abrir(id, erro));
        EXPECT_EQ(erro, "atalhos_invalidos") << id;
    }
    ASSERT_TRUE(g.Salvar(g.Catalogo(), erro)) << erro;
    EXPECT_FALSE(g.Invalido());
    EXPECT_TRUE(g.Abrir("youtube", erro)) << erro;
    TGestorAtalhos g2(pasta.Caminho());
    EXPECT_FALSE(g2.Invalido());
}

TEST_F(GestorAtalhos, ArquivosRuinsCarregamComoInvalidosSemSeremTocados) {
    const std::string comum =
        R"({ "id" : "navegador", "nome" : "Navegador", "tipo" : "navegador", "destino" : "", "comum" : true, "visivel" : true })";
    const auto com_itens = [&](const std::string& itens,
                               const std::string& resto = R"("revisao" : 3, "navegador" : "")") {
        return "{ \"versao\" : 1, " + resto + ", \"itens\" : [" + itens + "] }";
    };
    const std::string valido = EscreverCatalogoJson(CatalogoPadrao());
    std::string muitos;
    TCatalogoAtalhos cheio = CatalogoPadrao();
    while (cheio.itens.size() < 55) cheio.itens.push_back(Site("x", "https://x.com/"));
    const std::string casos[] = {
        valido.substr(0, valido.size() / 2),
        std::string(300000, ' ') + valido,
        std::string(100000, '[') + std::string(100000, ']'),
        R"([1, 2])",
        R"({ "versao" : 2, "navegador" : "", "itens" : [] })",
        com_itens("", R"("revisao" : 1, "navegador" : "")"),
        com_itens(comum, R"("navegador" : 7)"),
        com_itens(comum, R"("revisao" : 2147483647, "navegador" : "")"),
        com_itens(comum, R"("revisao" : 0, "navegador" : "")"),
        com_itens(comum, R"("revisao" : 1.5, "navegador" : "")"),
        com_itens(comum, R"("revisao" : 1e300, "navegador" : "")"),
        std::string(R"({ "versao" : 1, "navegador" : "", "itens" : { } })"),
        [&] {
            std::string s = valido;
            s.replace(s.find("\"comum\" : true"), 14, "\"comum\" : \"true\"");
            return s;
        }(),
        [&] {
            std::string s = valido;
            s.replace(s.find("\"YouTube\""), 9, "\"You\xffTube\"");
            return s;
        }(),
        [&] {
            std::string s = valido;
            s.replace(s.find("\"netflix\""), 9, "\"youtube\"");
            return s;
        }(),
        EscreverCatalogoJson(cheio),
        "",
        "null",
    };
    for (const auto& conteudo : casos) {
        GravarArquivo(Arquivo(), conteudo);
        TGestorAtalhos g(pasta.Caminho());
        EXPECT_TRUE(g.Invalido()) << conteudo.substr(0, 120);
        EXPECT_EQ(g.Catalogo(), CatalogoPadrao());
        EXPECT_EQ(LerArquivo(Arquivo()), conteudo);
    }
    // Spacing, order and unknown keys do not matter to the reader.
    GravarArquivo(Arquivo(), "{\"extra\":{\"a\":[1]},\"itens\":" +
                                 EscreverCatalogoJson(CatalogoPadrao())
                                     .substr(valido.find("["))
                                     .substr(0, valido.size() - valido.find("[") - 2) +
                                 ",\"navegador\":\"\",\"versao\":1.0}");
    TGestorAtalhos g(pasta.Caminho());
    EXPECT_FALSE(g.Invalido());
    EXPECT_EQ(g.Revisao(), 1);  // absent revision reads as 1
}

TEST_F(GestorAtalhos, CatalogoAntigoSemHboMaxGanhaOItemNoFim) {
    const std::string id = "00112233445566778899aabb";
    TCatalogoAtalhos antigo = CatalogoPadrao();
    antigo.itens.pop_back();
    antigo.itens.insert(antigo.itens.begin(),
                        {id, "Meu", "site", "https://meu.example/", false, false});
    antigo.navegador = "/usr/bin/navegador-x";
    antigo.revisao = 7;
    GravarArquivo(Arquivo(), EscreverCatalogoJson(antigo));
    {
        TGestorAtalhos g(pasta.Caminho());
        ASSERT_FALSE(g.Invalido());
        TCatalogoAtalhos c = g.Catalogo();
        ASSERT_EQ(c.itens.size(), 5u);
        EXPECT_EQ(c.revisao, 8);
        EXPECT_EQ(c.navegador, "/usr/bin/navegador-x");
        for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(c.itens[i], antigo.itens[i]);
        EXPECT_EQ(c.itens[4], CatalogoPadrao().itens[3]);
        // Migration lives in memory only until a save.
        EXPECT_EQ(LerArquivo(Arquivo()), EscreverCatalogoJson(antigo));
        c.itens[4].visivel = false;
        std::string erro;
        ASSERT_TRUE(g.Salvar(c, erro)) << erro;
    }
    TGestorAtalhos g(pasta.Caminho());
    const TCatalogoAtalhos c = g.Catalogo();
    EXPECT_EQ(c.itens.size(), 5u);
    EXPECT_EQ(c.revisao, 9);
    EXPECT_FALSE(c.itens[4].visivel);
    EXPECT_EQ(g.ListaPublica().dump().find("hbomax"), std::string::npos);

    // 3 common + 50 custom: migrates to 54; with 54 already there is no room.
    TCatalogoAtalhos cheio = CatalogoPadrao();
    cheio.itens.pop_back();
    while (cheio.itens.size() < 53) cheio.itens.push_back(Site("x", "https://x.com/"));
    GravarArquivo(Arquivo(), EscreverCatalogoJson(cheio));
    TGestorAtalhos g54(pasta.Caminho());
    EXPECT_FALSE(g54.Invalido());
    EXPECT_EQ(g54.Catalogo().itens.size(), 54u);
    EXPECT_EQ(g54.Catalogo().itens.back().id, "hbomax");
    cheio.itens.push_back(Site("x", "https://x.com/"));
    GravarArquivo(Arquivo(), EscreverCatalogoJson(cheio));
    EXPECT_TRUE(TGestorAtalhos(pasta.Caminho()).Invalido());
    // A revision with no room to grow cannot be migrated either.
    antigo.revisao = 2147483646;
    GravarArquivo(Arquivo(), EscreverCatalogoJson(antigo));
    EXPECT_TRUE(TGestorAtalhos(pasta.Caminho()).Invalido());
}

TEST_F(GestorAtalhos, RevisaoNoLimiteNaoEhGravadaIlegivel) {
    TCatalogoAtalhos c = CatalogoPadrao();
    c.revisao = 2147483646;
    GravarArquivo(Arquivo(), EscreverCatalogoJson(c));
    TGestorAtalhos g(pasta.Caminho());
    ASSERT_FALSE(g.Invalido());
    ASSERT_EQ(g.Revisao(), 2147483646);
    std::string erro;
    // Saving would write 2147483647, which no load accepts: refuse instead of bricking the file.
    EXPECT_FALSE(g.Salvar(g.Catalogo(), erro));
    EXPECT_EQ(erro, "atalhos_salvar_falhou");
    EXPECT_EQ(LerArquivo(Arquivo()), EscreverCatalogoJson(c));
}

TEST_F(GestorAtalhos, LimitadorDeToquesValeParaOCatalogoTodo) {
    TGestorAtalhos g(pasta.Caminho());
    std::string erro;
    ASSERT_TRUE(g.Abrir("youtube", erro)) << erro;
    EXPECT_FALSE(g.Abrir("youtube", erro));
    EXPECT_EQ(erro, "atalho_ocupado");
    AvancarRelogioTeste(699);
    EXPECT_FALSE(g.Abrir("netflix", erro));
    EXPECT_EQ(erro, "atalho_ocupado");
    AvancarRelogioTeste(1);
    EXPECT_TRUE(g.Abrir("netflix", erro)) << erro;
    EXPECT_EQ(erro, "");
    AvancarRelogioTeste(700);
    // Unknown ids are answered before the limiter and do not arm it.
    EXPECT_FALSE(g.Abrir("nada", erro));
    EXPECT_EQ(erro, "atalho_nao_encontrado");
    EXPECT_TRUE(g.Abrir("hbomax", erro));
    EXPECT_NE(LogAtual().find("SIMULAR abrir atalho id=hbomax"), std::string::npos);
}

TEST_F(GestorAtalhos, SimulacaoAbreNavegadorEHboMaxSemPerguntarAoDesktop) {
    // Point every XDG lookup at an empty folder: a lookup would find nothing and fail.
    ::setenv("XDG_CONFIG_HOME", pasta.Caminho().c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", pasta.Caminho().c_str(), 1);
    ::setenv("XDG_DATA_HOME", pasta.Caminho().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", pasta.Caminho().c_str(), 1);
    std::string erro;
    for (const auto& a : CatalogoPadrao().itens) {
        EXPECT_TRUE(AbrirAtalho(a, "", erro)) << a.id;
        EXPECT_EQ(erro, "");
    }
    Parametros.Simular = false;
    EXPECT_FALSE(AbrirAtalho(CatalogoPadrao().itens[0], "", erro));
    EXPECT_EQ(erro, "navegador_ausente");
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        ::unsetenv(v);
}

// ---- real openings ----

// A program that writes its working folder and arguments to a file, then exits.
class AberturaReal : public ::testing::Test {
  protected:
    void SetUp() override {
        Parametros.Simular = false;
        AbrirLog(pasta.Caminho());
        ASSERT_EQ(::mkdir((pasta / "pasta com espaço").c_str(), 0700), 0);
    }
    void TearDown() override { FecharLog(); }

    std::string CriarPrograma(const std::string& nome) {
        const std::string caminho = pasta / nome;
        const std::string saida = pasta / "saida";
        GravarArquivo(caminho,
                      "#!/bin/sh\n{ pwd; echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                      "done; } > '" +
                          saida + ".tmp' && mv '" + saida + ".tmp' '" + saida + "'\n");
        ::chmod(caminho.c_str(), 0700);
        return caminho;
    }
    // Lines written by the program: working folder, argument count, arguments.
    std::vector<std::string> Saida() {
        const std::string saida = pasta / "saida";
        const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Existe(saida) && std::chrono::steady_clock::now() < fim)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::vector<std::string> linhas;
        std::string l;
        std::istringstream s(LerArquivo(saida));
        while (std::getline(s, l)) linhas.push_back(l);
        ::unlink(saida.c_str());
        return linhas;
    }
    TPastaTemporaria pasta;
};

TEST_F(AberturaReal, ProgramaComEspacosEAcentosSemArgumentosNumaOutraThread) {
    const std::string prog = CriarPrograma("pasta com espaço/programa ação");
    const TAtalho a{NovoIdAtalho(), "P", "programa", prog, false, true};
    std::string erro;
    bool ok = false;
    std::thread([&] { ok = AbrirAtalho(a, "", erro); }).join();
    ASSERT_TRUE(ok) << erro;
    EXPECT_EQ(Saida(), (std::vector<std::string>{pasta / "pasta com espaço", "0"}));

    ::unlink(prog.c_str());
    EXPECT_FALSE(AbrirAtalho(a, "", erro));
    EXPECT_EQ(erro, "atalho_ausente");

    GravarArquivo(pasta / "documento", "texto");  // present but not executable
    EXPECT_FALSE(AbrirAtalho({a.id, "P", "programa", pasta / "documento", false, true}, "", erro));
    EXPECT_EQ(erro, "atalho_invalido");
    EXPECT_FALSE(AbrirAtalho({a.id, "P", "programa", "relativo", false, true}, "", erro));
    EXPECT_EQ(erro, "atalho_invalido");
}

TEST_F(AberturaReal, LancadorAplicaSeuExecESuaPasta) {
    const std::string prog = CriarPrograma("pasta com espaço/prog");
    const std::string lancador = pasta / "app.desktop";
    GravarArquivo(lancador, "[Desktop Entry]\nType=Application\nName=App\nExec=\"" + prog +
                                "\" --modo \"dois  espaços\" %F\nPath=/tmp\n");
    std::string erro;
    ASSERT_TRUE(AbrirAtalho({NovoIdAtalho(), "L", "programa", lancador, false, true}, "", erro))
        << erro;
    EXPECT_EQ(Saida(), (std::vector<std::string>{"/tmp", "2", "--modo", "dois  espaços"}));
}

TEST_F(AberturaReal, SiteComNavegadorEscolhidoRecebeSoOEndereco) {
    const std::string nav = CriarPrograma("navegador");
    const std::string url = "https://site.example/v?a=1&b=2#video";
    std::string erro;
    ASSERT_TRUE(AbrirAtalho({NovoIdAtalho(), "S", "site", url, false, true}, nav, erro)) << erro;
    EXPECT_EQ(Saida(), (std::vector<std::string>{
                           pasta.Caminho().substr(0, pasta.Caminho().size() - 1), "1", url}));
    ASSERT_TRUE(AbrirAtalho(CatalogoPadrao().itens[3], nav, erro)) << erro;
    EXPECT_EQ(Saida().at(2), VELORIN_URL_HBOMAX);
    ASSERT_TRUE(AbrirAtalho(CatalogoPadrao().itens[0], nav, erro)) << erro;
    EXPECT_EQ(Saida().at(1), "0");

    for (const auto& a : {TAtalho{NovoIdAtalho(), "S", "site", url, false, true},
                          CatalogoPadrao().itens[3], CatalogoPadrao().itens[0]}) {
        EXPECT_FALSE(AbrirAtalho(a, pasta / "nao-existe", erro));
        EXPECT_EQ(erro, "navegador_ausente") << a.id;
    }
    EXPECT_FALSE(
        AbrirAtalho({NovoIdAtalho(), "S", "site", "javascript:x", false, true}, nav, erro));
    EXPECT_EQ(erro, "atalho_invalido");
}

TEST_F(AberturaReal, SemNavegadorEscolhidoUsaOManipuladorHttpsDoDesktop) {
    const std::string prog = CriarPrograma("manipulador");
    ASSERT_EQ(::mkdir((pasta / "applications").c_str(), 0700), 0);
    GravarArquivo(pasta / "applications/teste-nav.desktop",
                  "[Desktop Entry]\nType=Application\nName=Nav\nExec=" + prog + " --nova %u\n");
    GravarArquivo(
        pasta / "mimeapps.list",
        "[Default Applications]\nx-scheme-handler/https=ausente.desktop;teste-nav.desktop;\n");
    ::setenv("XDG_CONFIG_HOME", pasta.Caminho().c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (pasta / "nada").c_str(), 1);
    ::setenv("XDG_DATA_HOME", pasta.Caminho().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (pasta / "nada").c_str(), 1);
    EXPECT_EQ(LancadorPadraoHttps(), pasta / "applications/teste-nav.desktop");
    EXPECT_EQ(NavegadorPadraoWindows(), prog);
    std::string erro;
    const std::string url = "https://site.example/?q=a b";
    EXPECT_TRUE(AbrirAtalho(
        {NovoIdAtalho(), "S", "site", "https://site.example/?q=1&r=2", false, true}, "", erro))
        << erro;
    auto linhas = Saida();
    EXPECT_EQ(std::vector<std::string>(linhas.begin() + 1, linhas.end()),
              (std::vector<std::string>{"2", "--nova", "https://site.example/?q=1&r=2"}));
    EXPECT_TRUE(AbrirAtalho(CatalogoPadrao().itens[0], "", erro)) << erro;
    linhas = Saida();
    EXPECT_EQ(std::vector<std::string>(linhas.begin() + 1, linhas.end()),
              (std::vector<std::string>{"1", "--nova"}));
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        ::unsetenv(v);
}

TEST_F(AberturaReal, GestorAbreDeVerdadeELiberaOcupado) {
    const std::string nav = CriarPrograma("navegador");
    DefinirRelogioTeste(5000000);
    TGestorAtalhos g(pasta.Caminho());
    TCatalogoAtalhos c = g.Catalogo();
    c.navegador = nav;
    std::string erro;
    ASSERT_TRUE(g.Salvar(c, erro)) << erro;
    ASSERT_TRUE(g.Abrir("youtube", erro)) << erro;
    EXPECT_EQ(Saida().at(2), VELORIN_URL_YOUTUBE);
    AvancarRelogioTeste(700);
    ::unlink(nav.c_str());
    EXPECT_FALSE(g.Abrir("youtube", erro));
    EXPECT_EQ(erro, "navegador_ausente");
    EXPECT_FALSE(g.Abrir("youtube", erro));
    EXPECT_EQ(erro, "atalho_ocupado");  // a failed opening arms the limiter too
    LiberarRelogioTeste();
}

}  // namespace
}  // namespace velorin
