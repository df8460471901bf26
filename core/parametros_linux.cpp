#include <limits.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/parametros.h"

namespace velorin {

std::string PastaExecutavel() {
    std::string buf(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return "./";
    buf.resize(static_cast<std::size_t>(n));
    const auto barra = buf.rfind('/');
    return barra == std::string::npos ? std::string("./") : buf.substr(0, barra + 1);
}

std::string PastaConfigUsuario() {
    auto pasta = [](const char* v) {
        std::string s(v);
        if (s.back() != '/') s += '/';
        return s;
    };
    // Only absolute values count; a relative one is invalid by the base-directory rules.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return pasta(xdg);
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return pasta(home) + ".config/";
    return {};
}

std::string PastaDadosPadrao() {
    const std::string config = PastaConfigUsuario();
    return config.empty() ? PastaExecutavel() + "dados/" : config + "Velorin/";
}

std::string CaminhoFisico(const std::string& caminho) {
    if (caminho.empty()) return {};
    char* r = ::realpath(caminho.c_str(), nullptr);
    if (!r) return {};
    std::string s(r);
    ::free(r);
    return s;
}

std::string NomeComputador() {
    char nome[256] = {};
    if (::gethostname(nome, sizeof nome - 1) == 0 && nome[0] != '\0') return nome;
    utsname u{};
    if (::uname(&u) == 0 && u.nodename[0] != '\0') return u.nodename;
    return "PC";
}

}  // namespace velorin
