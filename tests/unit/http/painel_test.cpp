#include "http/painel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"

namespace velorin {
namespace {

using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

struct Resposta {
    int status;
    std::string tipo;
    std::string corpo;
    std::string cache;
};

Resposta Pedir(const std::string& caminho, const std::string& metodo = "GET") {
    TRequisicaoHttp req;
    req.Metodo = metodo;
    req.Caminho = caminho;
    TRespostaHttp resp;
    ServirArquivo(req, resp);
    std::string cache;
    for (const auto& c : resp.Cabecalhos)
        if (c.Nome == "Cache-Control") cache = c.Valor;
    return {resp.Status, resp.TipoConteudo, resp.Corpo, cache};
}

const unsigned char INDEX[] = "<!doctype html>";
const unsigned char CSS[] = "body{}";
const unsigned char PNG[] = "\x89PNG";

class PainelEmbutido : public ::testing::Test {
protected:
    void SetUp() override { AbrirLog(pasta.Caminho()); }
    void TearDown() override {
        FecharLog();
        DefinirRecursosPainel(nullptr, 0);
        CarregarPainel("");
    }
    void Carregar(const std::vector<TRecursoEmbutido>& r) {
        recursos = r;
        DefinirRecursosPainel(recursos.data(), recursos.size());
        CarregarPainel("");
    }
    TPastaTemporaria pasta;
    std::vector<TRecursoEmbutido> recursos;
};

TEST_F(PainelEmbutido, ServeArquivosAliasesECache) {
    Carregar({{"WEB_INDEX", INDEX, sizeof INDEX - 1},
              {"WEB_APP_CSS", CSS, sizeof CSS - 1},
              {"WEB_ICONE_512", PNG, sizeof PNG - 1}});
    // 13 entries; index (two entries), css and one icon present: nine missing.
    EXPECT_NE(LerArquivo(pasta / "log.txt").find("AVISO: 9 arquivo(s) do painel ausentes no .exe"),
              std::string::npos);
    EXPECT_TRUE(PainelPresente());
    struct Caso {
        std::string caminho;
        int status;
        std::string corpo;
        std::string tipo;
        std::string cache;
    };
    const Caso casos[] = {
        {"/", 200, "<!doctype html>", "text/html; charset=utf-8", "no-cache"},
        {"/panel/", 200, "<!doctype html>", "text/html; charset=utf-8", "no-cache"},
        {"/painel", 200, "<!doctype html>", "text/html; charset=utf-8", "no-cache"},
        {"/panel/index.html", 200, "<!doctype html>", "text/html; charset=utf-8", "no-cache"},
        {"/app.css", 200, "body{}", "text/css; charset=utf-8", "no-cache"},
        {"/icone-512.png", 200, "\x89PNG", "image/png", "public, max-age=86400"},
        {"/app.js", 404, "Não encontrado.", "text/plain; charset=utf-8", ""},  // not compiled in
        {"/panel/app.js", 404, "Não encontrado.", "text/plain; charset=utf-8", ""},
        {"/api", 404, "Não encontrado.", "text/plain; charset=utf-8", ""},
        {"/INDEX.HTML", 404, "Não encontrado.", "text/plain; charset=utf-8", ""},
    };
    for (const auto& c : casos) {
        const Resposta r = Pedir(c.caminho);
        EXPECT_EQ(r.status, c.status) << c.caminho;
        EXPECT_EQ(r.corpo, c.corpo) << c.caminho;
        EXPECT_EQ(r.tipo, c.tipo) << c.caminho;
        EXPECT_EQ(r.cache, c.cache) << c.caminho;
    }
    const Resposta post = Pedir("/index.html", "POST");
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(post.tipo, "text/plain; charset=utf-8");
    EXPECT_EQ(post.corpo, "Método não permitido.");
}

TEST_F(PainelEmbutido, SemPaginaInicialAvisaQueOPainelFaltaNoBuild) {
    Carregar({{"WEB_APP_CSS", CSS, sizeof CSS - 1}});
    EXPECT_FALSE(PainelPresente());
    for (const char* c : {"/", "/index.html", "/panel/"}) {
        const Resposta r = Pedir(c);
        EXPECT_EQ(r.status, 404) << c;
        EXPECT_EQ(r.corpo, "O painel não foi incluído neste build.") << c;
    }
    EXPECT_EQ(Pedir("/app.css").status, 200);
    EXPECT_EQ(Pedir("/sw.js").corpo, "Não encontrado.");
}

TEST(PainelDesenvolvimento, LeDaPastaACadaPedido) {
    TPastaTemporaria log, web;
    AbrirLog(log.Caminho());
    CarregarPainel(web.Caminho().substr(0, web.Caminho().size() - 1));  // without the final "/"
    EXPECT_NE(LerArquivo(log / "log.txt").find("Painel web lido da pasta " + web.Caminho()), std::string::npos);
    EXPECT_FALSE(PainelPresente());
    EXPECT_EQ(Pedir("/").corpo, "O painel não foi incluído neste build.");

    GravarArquivo(web / "index.html", "v1");
    GravarArquivo(web / "app.js", "console.log(1)");
    EXPECT_TRUE(PainelPresente());
    EXPECT_EQ(Pedir("/panel").corpo, "v1");
    GravarArquivo(web / "index.html", "v2");  // edited while running: the next answer has it
    EXPECT_EQ(Pedir("/").corpo, "v2");
    const Resposta js = Pedir("/app.js");
    EXPECT_EQ(js.tipo, "text/javascript; charset=utf-8");
    EXPECT_EQ(js.corpo, "console.log(1)");
    // Only the table's names are ever read from the folder.
    GravarArquivo(web / "segredo.txt", "x");
    EXPECT_EQ(Pedir("/segredo.txt").status, 404);
    EXPECT_EQ(Pedir("/../segredo.txt").status, 404);
    FecharLog();
    CarregarPainel("");
}

}  // namespace
}  // namespace velorin
