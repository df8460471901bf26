#include "core/inicio.h"

#include "core/parametros.h"

namespace velorin {

bool PodeIniciarComWindows() { return !Parametros.Simular && Parametros.DadosPadrao; }

std::string CitarArgumentoExec(const std::string& argumento) {
    // First the Exec quoting rules, then the general string escaping of the file format,
    // which turns every backslash into two.
    std::string citado = "\"";
    for (const char c : argumento) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') citado += '\\';
        citado += c;
    }
    citado += '"';
    std::string r;
    for (const char c : citado) {
        if (c == '\\')
            r += "\\\\";
        else if (c == '%')
            r += "%%";
        else if (c == '\n')
            r += "\\n";  // a key value cannot span lines
        else
            r += c;
    }
    return r;
}

std::string LinhaExecInicio(const std::string& executavel) {
    return CitarArgumentoExec(executavel) + " " + ARG_INICIO_SESSAO;
}

std::string TextoEntradaInicio(const std::string& executavel) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           std::string(TITULO_APLICACAO) +
           "\n"
           "Comment=Controle remoto do PC pelo celular\n"
           "Exec=" +
           LinhaExecInicio(executavel) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace velorin
