// Starting the program with the user's session (an XDG autostart entry on Linux).
#pragma once

#include <string>

namespace velorin {

// The argument the session start passes, so the program knows not to open windows at once.
inline constexpr const char* ARG_INICIO_SESSAO = "--inicio-windows";

// Only the default data folder outside simulation may own the entry.
bool PodeIniciarComWindows();
// Whether the entry exists, is enabled and starts this executable with ARG_INICIO_SESSAO.
bool IniciaComWindows();
// Writes (ligar) or removes the entry; false on failure or when not allowed.
bool DefinirInicioWindows(bool ligar);

// One argument quoted for a desktop entry's Exec key, as it is stored in the file: always
// double-quoted; '"', '`', '$' and '\' escaped with '\' inside the quotes, then the backslashes
// doubled again by the file's string escaping; '%' written "%%".
std::string CitarArgumentoExec(const std::string& argumento);
// The Exec value for this executable: quoted path, blank, ARG_INICIO_SESSAO.
std::string LinhaExecInicio(const std::string& executavel);
// The whole autostart file for this executable.
std::string TextoEntradaInicio(const std::string& executavel);
// Path of the autostart file ($XDG_CONFIG_HOME/autostart/velorin.desktop).
std::string CaminhoEntradaInicio();
// The executable's own path.
std::string CaminhoExecutavel();

}  // namespace velorin
