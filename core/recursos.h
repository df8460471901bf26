// Small owners for operating-system resources, so every exit path releases them.
#pragma once

#include <unistd.h>

#include <utility>

namespace velorin {

// Owns a POSIX file descriptor (file, socket, pipe); closes it once.
class TDescritor {
public:
    TDescritor() = default;
    explicit TDescritor(int fd) : fd_(fd) {}
    ~TDescritor() { Fechar(); }
    TDescritor(const TDescritor&) = delete;
    TDescritor& operator=(const TDescritor&) = delete;
    TDescritor(TDescritor&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    TDescritor& operator=(TDescritor&& o) noexcept {
        if (this != &o) {
            Fechar();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }

    [[nodiscard]] int Get() const { return fd_; }
    [[nodiscard]] bool Valido() const { return fd_ >= 0; }
    explicit operator bool() const { return Valido(); }
    int Soltar() { return std::exchange(fd_, -1); }
    void Fechar() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

// Runs a callable when the scope ends (clean-up that has no owner type of its own).
template <typename F>
class TAoSair {
public:
    explicit TAoSair(F f) : f_(std::move(f)) {}
    ~TAoSair() {
        if (ativo_) f_();
    }
    TAoSair(const TAoSair&) = delete;
    TAoSair& operator=(const TAoSair&) = delete;
    void Cancelar() { ativo_ = false; }

private:
    F f_;
    bool ativo_ = true;
};

// Writes all of `n` bytes, retrying short writes and EINTR; false on any other failure.
bool EscreverTudo(int fd, const void* dados, std::size_t n);

}  // namespace velorin
