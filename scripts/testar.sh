#!/usr/bin/env bash
# Runs every test. Installs what is missing first, so it works on a fresh Debian 12 machine.
#   scripts/testar.sh            normal suite, then the ASan+UBSan suite (what CI runs)
#   scripts/testar.sh tsan       the ThreadSanitizer suite
#   scripts/testar.sh fuzz [s]   every fuzz target for s seconds each (default 60)
#   scripts/testar.sh internet   the normal suite built as the internet edition
#   scripts/testar.sh painel     the phone panel's type check, unit tests and build
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
modo="${1:-ci}"

"$raiz/scripts/instalar-dependencias.sh"

rodar() {  # rodar <tipo>
  local dir
  dir="$("$raiz/scripts/compilar.sh" "$1" | tail -n 1)"
  echo "== testes ($1) =="
  # Each test has its own limit, and the whole suite one more, so nothing can keep CI waiting.
  ( cd "$dir" && timeout -k 30 2400 ctest --output-on-failure -j "$(nproc)" --timeout 600 )
}

testar_painel() {
  echo "== testes (painel) =="
  "$raiz/scripts/painel.sh" testar
}

case "$modo" in
  ci)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    testar_painel
    rodar normal
    echo "== testes (painel no navegador, contra o programa) =="
    VELORIN_BIN="$raiz/build/core/velorin" timeout -k 30 1200 "$raiz/scripts/painel.sh" e2e
    rodar asan
    ;;
  painel)
    testar_painel
    ;;
  tsan)
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$raiz/tests/tsan.supp"
    rodar tsan
    ;;
  internet)
    rodar internet
    ;;
  fuzz)
    segundos="${2:-60}"
    dir="$("$raiz/scripts/compilar.sh" fuzz | tail -n 1)"
    for alvo in "$dir"/tests/fuzz_*; do
      [ -x "$alvo" ] || continue
      nome="$(basename "$alvo")"
      corpus="$dir/corpus/$nome"
      mkdir -p "$corpus"
      sementes=()
      [ -d "$raiz/tests/fuzz/sementes/${nome#fuzz_}" ] && sementes=("$raiz/tests/fuzz/sementes/${nome#fuzz_}")
      echo "== $nome (${segundos}s) =="
      "$alvo" -max_total_time="$segundos" -print_final_stats=1 "$corpus" "${sementes[@]}"
    done
    ;;
  *) echo "modo desconhecido: $modo" >&2; exit 2 ;;
esac
echo "OK"
