#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "core/seguranca.h"

extern char** environ;

namespace velorin {
namespace {

using teste::TBarramentoPrivado;
using teste::TPastaTemporaria;
using teste::TProcesso;
using teste::TVariavelAmbiente;

unsigned Modo(const std::string& caminho) {
    struct stat st {};
    if (::lstat(caminho.c_str(), &st) != 0) return 0;
    return static_cast<unsigned>(st.st_mode & 07777);
}

TBytes Blob(const std::string& protegido) {
    return Base64Leniente(protegido);
}

std::string Texto(const TBytes& b) {
    return Base64(b);
}

class Protecao : public ::testing::Test {
  protected:
    void SetUp() override {
        DefinirUsoChaveiro(false);
        DefinirPastaChaveProtecao(pasta_chave_);
    }
    void TearDown() override {
        DefinirPastaChaveProtecao("");
        DefinirUsoChaveiro(true);
    }

    // Opens the blob; the output must be empty whenever opening fails, even if it held text.
    static std::optional<std::string> Abrir(const std::string& protegido) {
        std::string saida = "lixo anterior";
        if (DesprotegerTexto(protegido, saida)) return saida;
        EXPECT_EQ(saida, "") << protegido;
        return std::nullopt;
    }

    TPastaTemporaria pasta_;
    const std::string pasta_chave_ = pasta_ / "chaves/";
    const std::string arquivo_chave_ = pasta_ / "chaves/chave";
};

TEST_F(Protecao, IdaEVolta) {
    const std::string textos[] = {
        "x",
        "token-da-nuvem-0123456789abcdefghijklmnopqrstuvwxyz",
        "senha com acentos \xC3\xA7\xC3\xA3\xC3\xA9 e \xE2\x82\xAC e \xF0\x9F\x98\x80",
        std::string("nul\0no meio", 11),
        std::string(10000, 'z'),
    };
    for (const std::string& t : textos) {
        const std::string p = ProtegerTexto(t);
        ASSERT_FALSE(p.empty());
        // Standard base64 with padding, as it is stored in config.ini.
        EXPECT_EQ(p.size() % 4, 0u);
        EXPECT_EQ(p.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
        EXPECT_EQ(Base64(Blob(p)), p);
        EXPECT_EQ(Abrir(p), t);
        // A fresh nonce every time: equal secrets do not give equal blobs.
        EXPECT_NE(ProtegerTexto(t), p);
        const TBytes b = Blob(p);
        ASSERT_GE(b.size(), 2u);
        EXPECT_EQ(b[0], 1);  // format version
        EXPECT_EQ(b[1], 2);  // made with the key file
        // The secret never appears in the blob. A secret of one to three bytes turns up by
        // chance in the random nonce and ciphertext now and then, so only longer ones are looked for.
        if (t.size() >= 4) {
            EXPECT_EQ(std::string(b.begin(), b.end()).find(t), std::string::npos);
        }
    }
}

TEST_F(Protecao, EntradasVazias) {
    EXPECT_EQ(ProtegerTexto(""), "");
    EXPECT_FALSE(teste::Existe(pasta_chave_)) << "nothing is created for an empty secret";
    EXPECT_EQ(Abrir(""), std::nullopt);
}

TEST_F(Protecao, RecusaBlobsEstranhosOuAlterados) {
    const std::string p = ProtegerTexto("segredo");
    ASSERT_FALSE(p.empty());
    const TBytes b = Blob(p);

    std::vector<std::pair<std::string, std::string>> casos = {
        {"not a blob", "bm90LWRwYXBp"},
        {"no base64 at all", "!!!!"},
        {"only padding", "===="},
        {"random bytes", Base64(BytesAleatorios(64))},
        {"last byte cut", Texto(TBytes(b.begin(), b.end() - 1))},
        {"last base64 group cut", p.substr(0, p.size() - 4)},
        {"no ciphertext", Texto(TBytes(b.begin(), b.begin() + 2 + 12 + 16))},
    };
    const std::pair<std::size_t, std::uint8_t> cabecalhos[] = {
        {0, 2},  // unknown version
        {0, 0},
        {1, 1},  // claims the keyring (off here)
        {1, 3},  // unknown store
    };
    for (const auto& [pos, valor] : cabecalhos) {
        TBytes m = b;
        m[pos] = valor;
        casos.emplace_back("header byte " + std::to_string(pos) + "=" + std::to_string(valor),
                           Texto(m));
    }
    // Any single changed bit, in the nonce, the ciphertext or the tag, is caught.
    for (std::size_t i = 2; i < b.size(); ++i) {
        TBytes m = b;
        m[i] ^= static_cast<std::uint8_t>(1u << (i % 8));
        casos.emplace_back("bit flipped at " + std::to_string(i), Texto(m));
    }
    for (const auto& [nome, texto] : casos) EXPECT_EQ(Abrir(texto), std::nullopt) << nome;

    EXPECT_EQ(Abrir(p), "segredo") << "the original still opens";
}

TEST_F(Protecao, DecodificacaoLenienteDoTextoGuardado) {
    const std::string p = ProtegerTexto("valor guardado");
    std::string sem_preenchimento = p.substr(0, p.find('='));
    std::string quebrado;
    for (std::size_t i = 0; i < sem_preenchimento.size(); ++i) {
        if (i > 0 && i % 10 == 0) quebrado += "\r\n";
        quebrado += sem_preenchimento[i];
    }
    EXPECT_EQ(Abrir(sem_preenchimento), "valor guardado");
    EXPECT_EQ(Abrir(" " + quebrado + " \n"), "valor guardado");
}

TEST_F(Protecao, ChaveDeOutroUsuarioOuMaquinaNaoAbre) {
    const std::string de_a = ProtegerTexto("segredo de A");
    ASSERT_FALSE(de_a.empty());

    // Another key folder stands for another user's or machine's key.
    const std::string outra = pasta_ / "outra/";
    DefinirPastaChaveProtecao(outra);
    EXPECT_EQ(Abrir(de_a), std::nullopt);
    EXPECT_FALSE(teste::Existe(outra)) << "opening must never create a key";
    const std::string de_b = ProtegerTexto("segredo de B");
    ASSERT_FALSE(de_b.empty());
    EXPECT_EQ(Abrir(de_a), std::nullopt);
    EXPECT_EQ(Abrir(de_b), "segredo de B");

    DefinirPastaChaveProtecao(pasta_chave_);
    EXPECT_EQ(Abrir(de_a), "segredo de A");
    EXPECT_EQ(Abrir(de_b), std::nullopt);

    // The same key bytes copied into another folder still open: the key is the key file.
    DefinirPastaChaveProtecao(outra);
    teste::GravarArquivo(outra + "chave", teste::LerArquivo(arquivo_chave_));
    EXPECT_EQ(Abrir(de_a), "segredo de A");
}

TEST_F(Protecao, ArquivoEPastaDaChaveSoDoUsuario) {
    ASSERT_FALSE(ProtegerTexto("a").empty());
    EXPECT_EQ(Modo(pasta_chave_), 0700u);
    EXPECT_EQ(Modo(arquivo_chave_), 0600u);
    EXPECT_EQ(teste::LerArquivo(arquivo_chave_).size(), 32u);
    std::vector<std::string> nomes;
    for (const auto& e : std::filesystem::directory_iterator(pasta_chave_)) {
        nomes.push_back(e.path().filename().string());
    }
    EXPECT_EQ(nomes, std::vector<std::string>{"chave"}) << "no temporary file left behind";

    // A folder made too open by someone else is tightened; the key itself stays valid.
    const std::string antes = teste::LerArquivo(arquivo_chave_);
    const std::string p = ProtegerTexto("b");
    ASSERT_EQ(::chmod(pasta_chave_.c_str(), 0755), 0);
    EXPECT_EQ(Abrir(p), "b");
    EXPECT_EQ(Modo(pasta_chave_), 0700u);
    EXPECT_EQ(teste::LerArquivo(arquivo_chave_), antes);
}

TEST_F(Protecao, ArquivoDeChaveSuspeitoERecusadoSemSerTocado) {
    struct Caso {
        const char* nome;
        void (*estragar)(const std::string& pasta, const std::string& arquivo);
        bool so_root;
    };
    const Caso casos[] = {
        {"readable by others",
         [](const std::string&, const std::string& a) { ASSERT_EQ(::chmod(a.c_str(), 0644), 0); },
         false},
        {"group writable",
         [](const std::string&, const std::string& a) { ASSERT_EQ(::chmod(a.c_str(), 0620), 0); },
         false},
        {"symbolic link",
         [](const std::string& p, const std::string& a) {
             ASSERT_EQ(::rename(a.c_str(), (p + "real").c_str()), 0);
             ASSERT_EQ(::symlink((p + "real").c_str(), a.c_str()), 0);
         },
         false},
        {"folder",
         [](const std::string&, const std::string& a) {
             ASSERT_EQ(::unlink(a.c_str()), 0);
             ASSERT_EQ(::mkdir(a.c_str(), 0700), 0);
         },
         false},
        {"fifo",  // must not hang waiting for a writer
         [](const std::string&, const std::string& a) {
             ASSERT_EQ(::unlink(a.c_str()), 0);
             ASSERT_EQ(::mkfifo(a.c_str(), 0600), 0);
         },
         false},
        {"key folder is a symbolic link",
         [](const std::string& p, const std::string&) {
             const std::string sem_barra = p.substr(0, p.size() - 1);
             ASSERT_EQ(::rename(sem_barra.c_str(), (sem_barra + "-real").c_str()), 0);
             ASSERT_EQ(::symlink((sem_barra + "-real").c_str(), sem_barra.c_str()), 0);
         },
         false},
        {"owned by another user",
         [](const std::string&, const std::string& a) {
             ASSERT_EQ(::chown(a.c_str(), 65534, 65534), 0);
         },
         true},
        {"folder owned by another user",
         [](const std::string& p, const std::string&) {
             ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
         },
         true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        if (c.so_root && ::geteuid() != 0) continue;  // only root can hand a file to someone else
        TPastaTemporaria pasta;
        const std::string p_chave = pasta / "k/";
        DefinirPastaChaveProtecao(p_chave);
        const std::string blob = ProtegerTexto("segredo");
        ASSERT_FALSE(blob.empty());
        c.estragar(p_chave, p_chave + "chave");
        struct stat antes {};
        ASSERT_EQ(::lstat((p_chave + "chave").c_str(), &antes), 0);

        EXPECT_EQ(Abrir(blob), std::nullopt);
        EXPECT_EQ(ProtegerTexto("novo"), "") << "a suspect key protects nothing new";

        struct stat depois {};
        ASSERT_EQ(::lstat((p_chave + "chave").c_str(), &depois), 0);
        EXPECT_EQ(depois.st_ino, antes.st_ino) << "left as found";
        EXPECT_EQ(depois.st_mode, antes.st_mode);
        EXPECT_EQ(depois.st_uid, antes.st_uid);
    }
}

TEST_F(Protecao, ChaveDeTamanhoErradoESubstituidaAoProteger) {
    const std::string antigo = ProtegerTexto("antigo");
    for (const std::size_t tamanho : {std::size_t{0}, std::size_t{31}, std::size_t{33}}) {
        SCOPED_TRACE(tamanho);
        teste::GravarArquivo(arquivo_chave_, std::string(tamanho, 'k'));
        ASSERT_EQ(::chmod(arquivo_chave_.c_str(), 0600), 0);
        EXPECT_EQ(Abrir(antigo), std::nullopt);
        EXPECT_EQ(teste::LerArquivo(arquivo_chave_).size(), tamanho) << "opening never repairs";

        const std::string novo = ProtegerTexto("novo");
        ASSERT_FALSE(novo.empty());
        EXPECT_EQ(teste::LerArquivo(arquivo_chave_).size(), 32u);
        EXPECT_EQ(Modo(arquivo_chave_), 0600u);
        EXPECT_EQ(Abrir(novo), "novo");
    }
}

TEST_F(Protecao, PrimeiraChaveCriadaUmaSoVezSobConcorrencia) {
    std::vector<std::string> blobs(4);
    std::vector<std::thread> fios;
    for (std::size_t i = 0; i < blobs.size(); ++i) {
        fios.emplace_back([&blobs, i] { blobs[i] = ProtegerTexto("fio " + std::to_string(i)); });
    }
    for (auto& f : fios) f.join();
    for (std::size_t i = 0; i < blobs.size(); ++i)
        EXPECT_EQ(Abrir(blobs[i]), "fio " + std::to_string(i));
}

TEST_F(Protecao, LocalPadraoSegueXdgDataHomeOuHome) {
    DefinirPastaChaveProtecao("");
    {
        TVariavelAmbiente xdg("XDG_DATA_HOME", (pasta_ / "dados").c_str());
        const std::string p = ProtegerTexto("x");
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(Modo(pasta_ / "dados/velorin/chave"), 0600u);
        EXPECT_EQ(Modo(pasta_ / "dados/velorin"), 0700u);
        EXPECT_EQ(Abrir(p), "x");
    }
    {
        TVariavelAmbiente xdg("XDG_DATA_HOME", "relativo/nao/vale");
        TVariavelAmbiente home("HOME", (pasta_ / "casa").c_str());
        const std::string p = ProtegerTexto("y");
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(Modo(pasta_ / "casa/.local/share/velorin/chave"), 0600u);
        EXPECT_EQ(Abrir(p), "y");
    }
}

// ---- desktop keyring ----------------------------------------------------------------------

// A private session bus, with a name owner that never answers and then a real keyring daemon.
// Only this test lets the keyring in; the rest of the suite keeps it off.
TEST_F(Protecao, ChaveiroDaSessao) {
    EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
    TBarramentoPrivado sessao(TBarramentoPrivado::TTipo::Sessao);
    ASSERT_TRUE(sessao.Ativo());
    TVariavelAmbiente env_bus("DBUS_SESSION_BUS_ADDRESS", sessao.Endereco());
    TVariavelAmbiente env_home("HOME", pasta_ / "casa");
    TVariavelAmbiente env_run("XDG_RUNTIME_DIR", pasta_.Caminho());

    DefinirUsoChaveiro(true);
    std::string do_arquivo;
    {
        // Someone holds the keyring's name but never answers: protection falls back to the
        // key file after its short wait instead of hanging.
        sd_bus* mudo = nullptr;
        ASSERT_GE(sd_bus_open_user(&mudo), 0);
        struct TFechaMudo {
            sd_bus* b;
            ~TFechaMudo() { sd_bus_flush_close_unref(b); }
        } fecha_mudo{mudo};
        ASSERT_GE(sd_bus_request_name(mudo, "org.freedesktop.secrets", 0), 0);
        do_arquivo = ProtegerTexto("sem resposta");
        ASSERT_FALSE(do_arquivo.empty());
        EXPECT_EQ(Blob(do_arquivo)[1], 2) << "made with the key file";
        EXPECT_EQ(Abrir(do_arquivo), "sem resposta");
    }

    EXIGIR_FERRAMENTA("/usr/bin/gnome-keyring-daemon", "gnome-keyring");
    ASSERT_EQ(::mkdir((pasta_ / "casa").c_str(), 0700), 0);
    int senha[2];
    ASSERT_EQ(::pipe2(senha, O_CLOEXEC), 0);
    TProcesso chaveiro;
    ASSERT_TRUE(chaveiro.Iniciar({"/usr/bin/gnome-keyring-daemon", "--foreground",
                                  "--components=secrets", "--unlock"},
                                 {}, "", -1, senha[0]));
    ::close(senha[0]);
    ASSERT_EQ(::write(senha[1], "senha-de-teste", 14), 14);
    ::close(senha[1]);
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!sessao.NomeTemDono("org.freedesktop.secrets") && std::chrono::steady_clock::now() < fim) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the daemon is starting
    }
    ASSERT_TRUE(sessao.NomeTemDono("org.freedesktop.secrets"));

    DefinirUsoChaveiro(true);  // forgets the failure above
    const std::string p = ProtegerTexto("no chaveiro");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(Blob(p)[1], 1) << "made with the keyring key";
    DefinirUsoChaveiro(true);  // forgets the key: the next calls read it back from the daemon
    EXPECT_EQ(Abrir(p), "no chaveiro");
    const std::string p2 = ProtegerTexto("outro");
    EXPECT_EQ(Blob(p2)[1], 1);
    EXPECT_EQ(Abrir(p2), "outro");
    // The key file from the first phase still opens its own blobs.
    EXPECT_EQ(Abrir(do_arquivo), "sem resposta");
    // Without the keyring, a keyring blob cannot open; nothing falls back to a wrong key.
    DefinirUsoChaveiro(false);
    EXPECT_EQ(Abrir(p), std::nullopt);
}

}  // namespace
}  // namespace velorin
