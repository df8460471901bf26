#include <cerrno>

#include "core/recursos.h"

namespace velorin {

bool EscreverTudo(int fd, const void* dados, std::size_t n) {
    const auto* p = static_cast<const char*>(dados);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace velorin
