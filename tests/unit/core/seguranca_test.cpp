#include "core/seguranca.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/relogio.h"

namespace velorin {
namespace {

using teste::TPastaTemporaria;

// ---- scripted random source ---------------------------------------------------------------

// Bytes handed out by the fake generator, in order; running out simulates a generator failure.
std::vector<std::uint8_t> roteiro;
std::size_t roteiro_pos = 0;
std::size_t sorteios = 0;

bool FonteRoteiro(std::uint8_t* destino, std::size_t n) {
    ++sorteios;
    if (roteiro.size() - roteiro_pos < n) return false;
    for (std::size_t i = 0; i < n; ++i) destino[i] = roteiro[roteiro_pos++];
    return true;
}

class AleatorioRoteirizado : public ::testing::Test {
  protected:
    void SetUp() override {
        roteiro.clear();
        roteiro_pos = 0;
        sorteios = 0;
        DefinirFonteAleatoriaTeste(&FonteRoteiro);
    }
    void TearDown() override { DefinirFonteAleatoriaTeste(nullptr); }

    // Queues a 32-bit draw the way the generator delivers it: little-endian bytes.
    static void Sortear(std::uint32_t x) {
        for (int i = 0; i < 4; ++i) roteiro.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
    }
};

TEST_F(AleatorioRoteirizado, AbaixoLeLittleEndianERejeitaAcimaDoLimite) {
    struct Caso {
        std::uint32_t n;
        std::vector<std::uint32_t> sorteios;
        std::uint32_t esperado;
    };
    const Caso casos[] = {
        {10, {0x00000001u}, 1},  // big-endian reading would give 16777216 % 10 = 6
        {1000000, {4294000000u, 4293999999u}, 999999},  // limit itself is redrawn
        {1000000, {0xFFFFFFFFu, 1234567u}, 234567},
        {0xFFFFFFFFu, {0xFFFFFFFFu, 0xFFFFFFFEu}, 0xFFFFFFFEu},
        {0x80000001u, {0x80000001u, 0x80000000u}, 0x80000000u},
        {2, {0xFFFFFFFEu, 0xFFFFFFFFu, 7}, 1},
    };
    for (const Caso& c : casos) {
        SetUp();
        for (const std::uint32_t x : c.sorteios) Sortear(x);
        EXPECT_EQ(AleatorioAbaixo(c.n), c.esperado) << c.n;
        EXPECT_EQ(roteiro_pos, roteiro.size()) << "every rejected draw must be redrawn, n=" << c.n;
    }
}

TEST_F(AleatorioRoteirizado, AbaixoDeZeroOuUmNaoSorteia) {
    EXPECT_EQ(AleatorioAbaixo(0), 0u);
    EXPECT_EQ(AleatorioAbaixo(1), 0u);
    EXPECT_EQ(sorteios, 0u);
}

TEST_F(AleatorioRoteirizado, FormatosDeCodigoEId) {
    Sortear(42);
    EXPECT_EQ(CodigoSeisDigitos(), "000042");
    Sortear(999999);
    EXPECT_EQ(CodigoSeisDigitos(), "999999");
    roteiro.insert(roteiro.end(), {0xAB, 0x01, 0xFF, 0x10});
    EXPECT_EQ(IdAleatorio(), "ab01ff10");
    roteiro.assign(32, 0xFF);
    roteiro_pos = 0;
    EXPECT_EQ(NovoToken(), std::string(42, '_') + "8");
}

TEST_F(AleatorioRoteirizado, FalhaDoGeradorLevantaErro) {
    EXPECT_TRUE(BytesAleatorios(0).empty());
    EXPECT_EQ(sorteios, 0u);
    try {
        (void)BytesAleatorios(8);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "BCryptGenRandom falhou");
    }
    EXPECT_THROW((void)CodigoSeisDigitos(), std::runtime_error);
    EXPECT_THROW((void)NovoToken(), std::runtime_error);
}

TEST(Aleatorio, ValoresReaisNosFormatos) {
    EXPECT_EQ(BytesAleatorios(17).size(), 17u);
    EXPECT_TRUE(BytesAleatorios(-1).empty());
    for (const std::uint32_t n : {2u, 3u, 7u, 1000000u, 0xFFFFFFFFu}) {
        for (int i = 0; i < 200; ++i) EXPECT_LT(AleatorioAbaixo(n), n);
    }
    std::set<std::string> codigos;
    for (int i = 0; i < 200; ++i) {
        const std::string c = CodigoSeisDigitos();
        ASSERT_EQ(c.size(), 6u) << c;
        EXPECT_EQ(c.find_first_not_of("0123456789"), std::string::npos) << c;
        codigos.insert(c);
    }
    EXPECT_GT(codigos.size(), 190u);
    for (int i = 0; i < 20; ++i) {
        const std::string id = IdAleatorio();
        ASSERT_EQ(id.size(), 8u);
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    }
    const std::string a = NovoToken();
    const std::string b = NovoToken();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 43u);
    EXPECT_TRUE(TokenValido(a));
    EXPECT_TRUE(TokenValido(b));
}

// ---- tokens and base64 --------------------------------------------------------------------

TEST(Token, Formato) {
    const std::string base(43, 'A');
    struct Caso {
        std::string texto;
        bool valido;
    };
    const Caso casos[] = {
        {base, true},
        {"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_9", true},
        {std::string(42, 'A'), false},
        {std::string(44, 'A'), false},
        {"", false},
        {base.substr(0, 42) + "+", false},
        {base.substr(0, 42) + "/", false},
        {base.substr(0, 42) + "=", false},
        {" " + base.substr(1), false},
        {base.substr(0, 41) + "\xC3\xA9", false},  // é: two bytes, so 43 bytes but not the alphabet
        {std::string(42, 'A') + std::string(1, '\0'), false},
    };
    for (const Caso& c : casos) EXPECT_EQ(TokenValido(c.texto), c.valido) << c.texto;
}

TEST(Base64, UrlSemPreenchimento) {
    struct Caso {
        TBytes entrada;
        std::string esperado;
    };
    const Caso casos[] = {
        {{}, ""},
        {{'M'}, "TQ"},
        {{'M', 'a'}, "TWE"},
        {{'M', 'a', 'n'}, "TWFu"},
        {{0xFB, 0xFF}, "-_8"},
        {{0xFB, 0xFF, 0xBF}, "-_-_"},
        {{'f', 'o', 'o', 'b', 'a', 'r'}, "Zm9vYmFy"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(Base64Url(c.entrada), c.esperado);
        const std::string_view bytes(reinterpret_cast<const char*>(c.entrada.data()),
                                     c.entrada.size());
        EXPECT_EQ(Base64Url(bytes), c.esperado);
    }
}

TEST(Base64, PadraoComPreenchimentoEIdaEVolta) {
    struct Caso {
        std::string entrada;
        std::string esperado;
    };
    const Caso casos[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
    };
    for (const Caso& c : casos) {
        const TBytes bytes(c.entrada.begin(), c.entrada.end());
        EXPECT_EQ(Base64(bytes), c.esperado);
        EXPECT_EQ(Base64Leniente(c.esperado), bytes) << c.esperado;
    }
    // Every byte value in every position of a group survives the round trip.
    TBytes todos;
    for (int i = 0; i < 256; ++i) todos.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t n = 0; n <= 6; ++n) {
        const TBytes parte(todos.begin() + static_cast<std::ptrdiff_t>(n), todos.end());
        EXPECT_EQ(Base64Leniente(Base64(parte)), parte) << n;
    }
}

TEST(Base64, DecodificacaoLeniente) {
    struct Caso {
        std::string entrada;
        std::string esperado;
    };
    const Caso casos[] = {
        {"Zm9vYg", "foob"},  // padding left out
        {"Zm9vYmE", "fooba"},
        {"Zm9v\r\nYmFy", "foobar"},  // line break skipped
        {" Zm9v YmFy\t", "foobar"},
        {"Zm9v*YmFy", "foobar"},
        {"Zg==", "f"},
        {"Zg==Zm8=", "f"},  // data ends at the first "="
        {"Zm9vY", "foo"},   // a lone trailing character carries no whole byte
        {"-_8", ""},        // url alphabet is not this alphabet: skipped, and "8" alone is no byte
        {"!!!!", ""},
        {"", ""},
    };
    for (const Caso& c : casos) {
        const TBytes r = Base64Leniente(c.entrada);
        EXPECT_EQ(std::string(r.begin(), r.end()), c.esperado) << c.entrada;
    }
}

// ---- SHA-256 ------------------------------------------------------------------------------

TEST(Sha256, VetoresConhecidos) {
    struct Caso {
        std::string entrada;
        std::string hex;
    };
    const Caso casos[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string("a\0b", 3),
         "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(Sha256Hex(c.entrada), c.hex);
        const TBytes d = Sha256Bytes(c.entrada);
        ASSERT_EQ(d.size(), 32u);
        std::string hex;
        char par[3];
        for (const std::uint8_t b : d) {
            std::snprintf(par, sizeof par, "%02x", b);
            hex += par;
        }
        EXPECT_EQ(hex, c.hex);
    }
}

std::string ConteudoGrande(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

TEST(Sha256, ArquivoEmBlocosDesdeAPosicaoAtual) {
    TPastaTemporaria pasta;
    // Sizes around the 64 KiB block: exactly one block, one block and a bit, several blocks.
    for (const std::size_t tamanho :
         {std::size_t{0}, std::size_t{65536}, std::size_t{65537}, std::size_t{3 * 65536 + 123}}) {
        const std::string conteudo = ConteudoGrande(tamanho);
        const std::string caminho = pasta / "dados.bin";
        teste::GravarArquivo(caminho, conteudo);
        const std::size_t meio = tamanho / 2 + 1;
        const std::string de_meio = tamanho == 0 ? "" : conteudo.substr(meio);

        std::ifstream f(caminho, std::ios::binary);
        EXPECT_EQ(Sha256Arquivo(f), Sha256Hex(conteudo)) << tamanho;
        if (tamanho > 0) {
            std::ifstream g(caminho, std::ios::binary);
            g.seekg(static_cast<std::streamoff>(meio));
            EXPECT_EQ(Sha256Arquivo(g), Sha256Hex(de_meio)) << tamanho;
        }

        std::FILE* arq = std::fopen(caminho.c_str(), "rb");
        ASSERT_NE(arq, nullptr);
        EXPECT_EQ(Sha256Arquivo(arq), Sha256Hex(conteudo)) << tamanho;
        if (tamanho > 0) {
            ASSERT_EQ(std::fseek(arq, static_cast<long>(meio), SEEK_SET), 0);
            EXPECT_EQ(Sha256Arquivo(arq), Sha256Hex(de_meio)) << tamanho;
        }
        std::fclose(arq);
    }
    std::istringstream memoria("abc");
    EXPECT_EQ(Sha256Arquivo(memoria),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A stream whose device fails after handing out some bytes.
class TBufferQuebrado : public std::streambuf {
  protected:
    int_type underflow() override {
        if (entregue_) throw std::runtime_error("disco");
        entregue_ = true;
        setg(dados_, dados_, dados_ + 3);
        return traits_type::to_int_type(dados_[0]);
    }

  private:
    char dados_[3] = {'a', 'b', 'c'};
    bool entregue_ = false;
};

void EsperarFalhaLeitura(const std::function<void()>& f, const char* onde) {
    try {
        f();
        ADD_FAILURE() << onde << ": no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Falha ao ler arquivo para SHA256") << onde;
    }
}

TEST(Sha256, ErroDeLeituraNaoViraDigest) {
    TBufferQuebrado buffer;
    std::istream quebrado(&buffer);
    EsperarFalhaLeitura([&] { (void)Sha256Arquivo(quebrado); }, "stream failing mid-way");

    TPastaTemporaria pasta;
    std::ifstream inexistente(pasta / "nao-existe");
    EsperarFalhaLeitura([&] { (void)Sha256Arquivo(inexistente); }, "stream never opened");

    // Reading a folder opens fine but every read fails (EISDIR).
    std::FILE* dir = std::fopen(pasta.Caminho().c_str(), "r");
    ASSERT_NE(dir, nullptr);
    EsperarFalhaLeitura([&] { (void)Sha256Arquivo(dir); }, "FILE* of a folder");
    std::fclose(dir);
    EsperarFalhaLeitura([&] { (void)Sha256Arquivo(static_cast<std::FILE*>(nullptr)); },
                        "null FILE*");
}

TEST(Sha256, StreamComExcecoesLigadasTerminaNoFim) {
    const std::string conteudo = ConteudoGrande(70000);
    std::istringstream s(conteudo);
    s.exceptions(std::ios::failbit | std::ios::badbit);
    EXPECT_EQ(Sha256Arquivo(s), Sha256Hex(conteudo));
}

// ---- comparison ---------------------------------------------------------------------------

TEST(Comparacao, TempoConstante) {
    struct Caso {
        std::string a, b;
        bool iguais;
    };
    const Caso casos[] = {
        {"abc", "abc", true},
        {"abc", "abd", false},
        {"abc", "ab", false},
        {"", "", true},
        {"", "a", false},
        {"xbc", "abc", false},
        {std::string("a\0b", 3), std::string("a\0c", 3), false},
        {std::string("a\0b", 3), std::string("a\0b", 3), true},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(IguaisTempoConstante(c.a, c.b), c.iguais) << c.a << " / " << c.b;
        EXPECT_EQ(IguaisTempoConstante(c.b, c.a), c.iguais);
    }
}

TEST(Segredo, ApagarEsvazia) {
    std::string s(100, 'k');
    s.resize(5);
    ApagarSegredo(s);
    EXPECT_TRUE(s.empty());
    std::string vazio;
    ApagarSegredo(vazio);
    EXPECT_TRUE(vazio.empty());
}

// ---- rate limiter -------------------------------------------------------------------------

class Limitador : public ::testing::Test {
  protected:
    static constexpr std::uint64_t T0 = 5'000'000;
    void SetUp() override { DefinirRelogioTeste(T0); }
    void TearDown() override { LiberarRelogioTeste(); }

    static std::int32_t Restante(const TLimitador& l, const std::string& chave) {
        std::int32_t s = -1;
        const bool b = l.Bloqueado(chave, s);
        EXPECT_EQ(b, s > 0) << chave << " " << s;
        return s;
    }
};

TEST_F(Limitador, DecimaFalhaBloqueiaPelaDuracaoArredondadaParaCima) {
    TLimitador l(10, 600, 600);
    EXPECT_EQ(Restante(l, "10.0.0.1"), 0);
    for (int i = 0; i < 9; ++i) l.RegistrarFalha("10.0.0.1");
    EXPECT_EQ(Restante(l, "10.0.0.1"), 0);
    l.RegistrarFalha("10.0.0.1");
    EXPECT_EQ(Restante(l, "10.0.0.1"), 600);
    AvancarRelogioTeste(1);
    EXPECT_EQ(Restante(l, "10.0.0.1"), 600);  // 599.999 s left rounds up
    AvancarRelogioTeste(599'000);
    EXPECT_EQ(Restante(l, "10.0.0.1"), 1);  // 599.001 s after the block: 0.999 s left
    AvancarRelogioTeste(999);
    EXPECT_EQ(Restante(l, "10.0.0.1"), 0);  // exactly 600 s: free again

    // Other keys, including ones differing only in case, were never affected.
    EXPECT_EQ(Restante(l, "10.0.0.2"), 0);

    // After the block the count starts afresh: nine more failures do not block.
    for (int i = 0; i < 9; ++i) l.RegistrarFalha("10.0.0.1");
    EXPECT_EQ(Restante(l, "10.0.0.1"), 0);
    l.RegistrarFalha("10.0.0.1");
    EXPECT_EQ(Restante(l, "10.0.0.1"), 600);
}

TEST_F(Limitador, ChavesDiferenciamMaiusculas) {
    TLimitador l(1, 600, 30);
    l.RegistrarFalha("fe80::A");
    EXPECT_EQ(Restante(l, "fe80::A"), 30);
    EXPECT_EQ(Restante(l, "fe80::a"), 0);
}

TEST_F(Limitador, JanelaVencidaReiniciaAContagem) {
    struct Caso {
        std::uint64_t atraso_decima;  // ms between the first nine failures and the tenth
        bool bloqueia;
    };
    const Caso casos[] = {{0, true}, {599'999, true}, {600'000, false}, {900'000, false}};
    for (const Caso& c : casos) {
        DefinirRelogioTeste(T0);
        TLimitador l(10, 600, 600);
        for (int i = 0; i < 9; ++i) l.RegistrarFalha("k");
        AvancarRelogioTeste(c.atraso_decima);
        l.RegistrarFalha("k");
        EXPECT_EQ(Restante(l, "k") > 0, c.bloqueia) << c.atraso_decima;
    }

    // Ten failures that together take longer than the window never block, however many
    // pile up in total.
    TLimitador lento(10, 600, 600);
    for (int i = 0; i < 300; ++i) {
        lento.RegistrarFalha("k");
        ASSERT_EQ(Restante(lento, "k"), 0) << i;
        AvancarRelogioTeste(67'000);
    }
}

TEST_F(Limitador, TabelaLimitadaA512ComPoda) {
    TLimitador l(2, 60, 600);
    // One key blocked for longer than the window lasts.
    l.RegistrarFalha("bloqueado");
    l.RegistrarFalha("bloqueado");
    ASSERT_EQ(Restante(l, "bloqueado"), 600);
    for (int i = 1; i < 512; ++i) l.RegistrarFalha("10.1." + std::to_string(i));
    ASSERT_EQ(l.ContarEntradas(), 512u);

    // A 513th key is not tracked while every entry is still inside its window.
    l.RegistrarFalha("novo");
    l.RegistrarFalha("novo");
    EXPECT_EQ(Restante(l, "novo"), 0);
    EXPECT_EQ(l.ContarEntradas(), 512u);
    // Keys already tracked keep being counted.
    l.RegistrarFalha("10.1.7");
    EXPECT_GT(Restante(l, "10.1.7"), 0);

    // Once the windows have run out, a new key prunes the table; the blocked key survives.
    AvancarRelogioTeste(60'000);
    l.RegistrarFalha("novo");
    EXPECT_EQ(l.ContarEntradas(), 3u);  // "bloqueado", "10.1.7" (blocked too), "novo"
    EXPECT_EQ(Restante(l, "bloqueado"), 540);
    l.RegistrarFalha("novo");
    EXPECT_EQ(Restante(l, "novo"), 600);
}

TEST_F(Limitador, UsoConcorrente) {
    TLimitador l(3, 600, 600);
    std::vector<std::thread> fios;
    for (int f = 0; f < 4; ++f) {
        fios.emplace_back([&l, f] {
            for (int i = 0; i < 100; ++i) {
                const std::string chave = std::to_string(f) + "." + std::to_string(i);
                l.RegistrarFalha(chave);
                std::int32_t s = 0;
                (void)l.Bloqueado(chave, s);
                l.RegistrarFalha(chave);
                l.RegistrarFalha(chave);
            }
        });
    }
    for (auto& t : fios) t.join();
    EXPECT_EQ(l.ContarEntradas(), 400u);
    EXPECT_EQ(Restante(l, "3.99"), 600);
}

}  // namespace
}  // namespace velorin
