// The program's entry point: picks the start mode from the command line and composes the
// modules for it. The only file in core/ that reaches into the other folders.
#include <cstdio>

#include "core/instancia.h"
#include "core/parametros.h"
#include "http/painel.h"
#include "ui/autoteste.h"
#include "ui/terminal.h"

namespace velorin {
// Generated at build time from the built panel files.
extern const TRecursoEmbutido RECURSOS_PAINEL[];
extern const std::size_t QUANTIDADE_RECURSOS_PAINEL;
}  // namespace velorin

int main(int argc, char** argv) {
    using namespace velorin;
    LerParametros(argc, argv);
    DefinirRecursosPainel(RECURSOS_PAINEL, QUANTIDADE_RECURSOS_PAINEL);

    if (!Parametros.AuxiliarAtualizacao.empty() || !Parametros.VerificarAtualizacao.empty()) {
        std::fprintf(stderr, "%s %s: atualizacao automatica ainda nao disponivel nesta versao\n",
                     TITULO_APLICACAO, VERSAO_PROGRAMA);
        return 2;
    }
    if (Parametros.AutoTeste) return ExecutarAutoteste();
    if (Parametros.Sair) {
        SinalizarSair();
        return 0;
    }
    if (!AdquirirInstancia()) {
        // Another copy serves this data folder: it shows its pairing view instead.
        SinalizarMostrar();
        return 0;
    }
    int codigo = 1;
    try {
        // The desktop front end is not built yet: every start runs the terminal one.
        codigo = ExecutarTerminal();
    } catch (...) {
        LiberarInstancia();
        throw;
    }
    LiberarInstancia();
    return codigo;
}
