// A fresh folder under /tmp for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace velorin::teste {

class TPastaTemporaria {
public:
    TPastaTemporaria();
    ~TPastaTemporaria();
    TPastaTemporaria(const TPastaTemporaria&) = delete;
    TPastaTemporaria& operator=(const TPastaTemporaria&) = delete;

    // The folder, always ending in "/".
    const std::string& Caminho() const { return caminho_; }
    // Caminho() + nome.
    std::string operator/(const std::string& nome) const { return caminho_ + nome; }

private:
    std::string caminho_;
};

// Whole file as bytes; empty when it cannot be read.
std::string LerArquivo(const std::string& caminho);
// Writes the bytes (creating or truncating); fails the running test when it cannot.
void GravarArquivo(const std::string& caminho, const std::string& conteudo);
bool Existe(const std::string& caminho);

}  // namespace velorin::teste
