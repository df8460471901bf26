#include "apoio/pasta_temporaria.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velorin::teste {

TPastaTemporaria::TPastaTemporaria() {
    std::string modelo = "/tmp/velorin-teste-XXXXXX";
    if (::mkdtemp(modelo.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp falhou";
        std::abort();
    }
    caminho_ = modelo + "/";
}

TPastaTemporaria::~TPastaTemporaria() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make everything removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(caminho_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(caminho_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(caminho_, ec);
}

std::string LerArquivo(const std::string& caminho) {
    std::ifstream f(caminho, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void GravarArquivo(const std::string& caminho, const std::string& conteudo) {
    std::ofstream f(caminho, std::ios::binary | std::ios::trunc);
    f << conteudo;
    ASSERT_TRUE(f.good()) << "nao gravou " << caminho;
}

bool Existe(const std::string& caminho) {
    struct stat st{};
    return ::stat(caminho.c_str(), &st) == 0;
}

}  // namespace velorin::teste
