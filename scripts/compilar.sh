#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/compilar.sh [normal|asan|tsan|fuzz|internet] [targets...]   (default: normal, all)
# Build folders: build/, build-asan/, build-tsan/, build-fuzz/, build-internet/.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
tipo="${1:-normal}"
shift || true
jobs="${VELORIN_JOBS:-$(nproc)}"

case "$tipo" in
  normal)   dir=build;          opcoes=() ;;
  asan)     dir=build-asan;     opcoes=(-DVELORIN_SANITIZAR='address;undefined' -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)     dir=build-tsan;     opcoes=(-DVELORIN_SANITIZAR=thread -DCMAKE_BUILD_TYPE=Debug) ;;
  fuzz)     dir=build-fuzz;     opcoes=(-DVELORIN_FUZZ=ON -DVELORIN_TESTES=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  internet) dir=build-internet; opcoes=(-DVELORIN_EDICAO_INTERNET=ON) ;;
  *) echo "tipo desconhecido: $tipo" >&2; exit 2 ;;
esac

cmake -S "$raiz" -B "$raiz/$dir" -G Ninja "${opcoes[@]}" >/dev/null
ninja -C "$raiz/$dir" -j "$jobs" "$@"
echo "$raiz/$dir"
