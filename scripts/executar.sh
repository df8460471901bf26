#!/usr/bin/env bash
# Builds what is missing and starts Velorin. Arguments go to the program, e.g.
#   scripts/executar.sh --simular        (actions only write log lines)
#   scripts/executar.sh --porta 9000
# The phone panel is built first (Node.js and npm packages) and compiled into the program.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"

"$raiz/scripts/instalar-dependencias.sh"
"$raiz/scripts/painel.sh" build >&2
"$raiz/scripts/compilar.sh" normal velorin >&2
exec "$raiz/build/core/velorin" "$@"
