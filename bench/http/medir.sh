#!/usr/bin/env bash
# Load comparison of our HTTP server with nginx on loopback, both answering every request with
# a 79-byte JSON body and closing the connection after it (the only mode our server has).
#
#   bench/http/medir.sh              # builds into build-bench/, 10 s per run
#   BUILD=/path/to/build DURACAO=20 LIMITES=livres bench/http/medir.sh
#
# LIMITES=livres runs our server with its connection caps lifted: wrk connects from one
# address, so at 8 and more connections the default 8-per-address cap refuses some of them,
# which measures the cap rather than the server. Both modes print the refusals (socket errors).
# Needs root for apt-get (wrk, nginx) unless both are installed already.
set -euo pipefail
# shellcheck source=../comum.sh
. "$(cd "$(dirname "$0")/.." && pwd)/comum.sh"

RAIZ=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$RAIZ/build-bench}
DURACAO=${DURACAO:-10}
LIMITES=${LIMITES:-padrao}
PORTA_NOSSA=${PORTA_NOSSA:-18080}
PORTA_NGINX=${PORTA_NGINX:-18081}
CONEXOES=${CONEXOES:-"1 8 32"}

if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null; then
  apt-get install -y --no-install-recommends wrk nginx >/dev/null
fi

# Build the library (reusing an existing build folder as it is) and the tiny server around it.
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$RAIZ" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD" -j2 velorin_http velorin_core >/dev/null
SERVIDOR="$BUILD/servidor_bench"
g++ -O2 -std=c++20 -I"$RAIZ" "$RAIZ/bench/http/servidor_bench.cpp" \
  "$BUILD/http/libvelorin_http.a" "$BUILD/core/libvelorin_core.a" \
  -lcrypto $(pkg-config --libs libsystemd libsecret-1) -pthread -o "$SERVIDOR"

TMP=$(mktemp -d /tmp/bench-http.XXXXXX)
PID_NOSSO=""
PID_NGINX=""
limpar() {
  [ -n "$PID_NOSSO" ] && kill "$PID_NOSSO" 2>/dev/null && wait "$PID_NOSSO" 2>/dev/null || true
  [ -n "$PID_NGINX" ] && kill "$PID_NGINX" 2>/dev/null && wait "$PID_NGINX" 2>/dev/null || true
  rm -rf "$TMP"
}
trap limpar EXIT

# nginx serves the same body as a static file.
mkdir -p "$TMP/www"
printf '%s' '{"nome":"PC-BANCADA","versao":"1.0.7","pausado":false,"volume":40,"mudo":false}' >"$TMP/www/status.json"
# The same nginx set-up as the API benchmark (keep-alive off, logging off); only its
# /api/status path is used here.
iniciar_nginx "$PORTA_NGINX" "$TMP/www" '{}'

ARGS_NOSSO=("$PORTA_NOSSA")
[ "$LIMITES" = livres ] && ARGS_NOSSO+=(--sem-limites)
"$SERVIDOR" "${ARGS_NOSSO[@]}" 2>"$TMP/servidor.log" &
PID_NOSSO=$!

for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$PORTA_NOSSA/api/status" &&
    curl -s -o /dev/null "http://127.0.0.1:$PORTA_NGINX/api/status" && break
  sleep 0.1
done

# Runs wrk once; prints "req/s p50 p99 requests errors".
medir() {
  local porta=$1 conexoes=$2 threads saida rps p50 p99 total erros
  threads=$((conexoes < 2 ? conexoes : 2))
  saida=$(wrk -t"$threads" -c"$conexoes" -d"${DURACAO}s" --latency -H 'Connection: close' \
    "http://127.0.0.1:$porta/api/status")
  rps=$(awk '/^Requests\/sec:/ { print $2 }' <<<"$saida")
  p50=$(em_ms "$(awk '$1 == "50%" { print $2 }' <<<"$saida")")
  p99=$(em_ms "$(awk '$1 == "99%" { print $2 }' <<<"$saida")")
  total=$(awk '/requests in/ { print $1 }' <<<"$saida")
  erros=$(awk '/Socket errors/ { gsub(",", ""); print $4 + $6 + $8 + $10 }' <<<"$saida")
  echo "$rps $p50 $p99 $total ${erros:-0}"
}

rss_kb() { awk -v c="$1:" '$1 == c { print $2 }' "/proc/$PID_NOSSO/status"; }

echo "limites do servidor: $LIMITES; $DURACAO s por medida; corpo de 79 bytes; Connection: close"
printf '%-6s | %-34s | %-34s | %s\n' conex "velorin  req/s   p50ms   p99ms  erros" "nginx    req/s   p50ms   p99ms  erros" "razao req/s"
servidas=0
rss_inicio=""
for c in $CONEXOES; do
  read -r n_rps n_p50 n_p99 n_total n_err < <(medir "$PORTA_NOSSA" "$c")
  servidas=$((servidas + n_total))
  [ -z "$rss_inicio" ] && rss_inicio=$(rss_kb VmRSS)
  read -r g_rps g_p50 g_p99 _ g_err < <(medir "$PORTA_NGINX" "$c")
  razao=$(awk -v a="$n_rps" -v b="$g_rps" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf '%-6s | %14s %7s %7s %6s | %14s %7s %7s %6s | %sx\n' "$c" "$n_rps" "$n_p50" "$n_p99" "$n_err" \
    "$g_rps" "$g_p50" "$g_p99" "$g_err" "$razao"
done
# One more long run so the RSS comparison spans well over 100,000 requests.
read -r _ _ _ extra _ < <(medir "$PORTA_NOSSA" 8)
servidas=$((servidas + extra))
echo "velorin: $servidas requisicoes; RSS depois da primeira medida ${rss_inicio} kB, no fim $(rss_kb VmRSS) kB, pico $(rss_kb VmHWM) kB"
