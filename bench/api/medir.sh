#!/usr/bin/env bash
# Local API benchmarks of the real program in simulation mode, side by side with nginx on the
# same loopback (keep-alive off, answers of the same sizes):
#   - authenticated GET /api/status and PUT /api/volume under wrk at 1 and 8 connections
#     (and 7 when the 8-per-address cap refuses some of wrk's reconnects at 8);
#   - a mouse-move stream: one POST /api/mouse every 1/120 s for 10 s, fresh connection each;
#   - idle RSS after pairing, and the time from spawn to the port accepting connections.
#
#   bench/api/medir.sh                      # builds release into build-bench/ if needed
#   BUILD=/path/to/build DURACAO=20 bench/api/medir.sh
#
# Variables: BUILD (build folder), DURACAO (s per wrk run, default 10), CONEXOES (default "1 8"),
# PORTA_NOSSA / PORTA_NGINX (default 18090 / 18091), PARTIDAS (start runs, default 10).
# Needs root for apt-get (wrk, nginx) unless both are installed already.
set -euo pipefail

AQUI=$(cd "$(dirname "$0")" && pwd)
RAIZ=$(cd "$AQUI/../.." && pwd)
BUILD=${BUILD:-$RAIZ/build-bench}
DURACAO=${DURACAO:-10}
CONEXOES=${CONEXOES:-"1 8"}
PORTA_NOSSA=${PORTA_NOSSA:-18090}
PORTA_NGINX=${PORTA_NGINX:-18091}
PARTIDAS=${PARTIDAS:-10}

# shellcheck source=../comum.sh
. "$AQUI/../comum.sh"

instalar_ferramentas

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$RAIZ" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD" -j2 velorin >/dev/null
PROGRAMA="$BUILD/core/velorin"

TMP=$(mktemp -d /tmp/bench-api.XXXXXX)
PID_NOSSO=""
PID_NGINX=""
limpar() {
  parar_pid "$PID_NOSSO"
  parar_pid "$PID_NGINX"
  rm -rf "$TMP"
}
trap limpar EXIT
trap 'exit 130' INT TERM

# A private home: the program's data, config and runtime folders all live under $TMP, and no
# desktop session is reachable (simulation mode must not need one).
mkdir -p "$TMP/casa" "$TMP/run" "$TMP/dados" "$TMP/www"
chmod 700 "$TMP/run"
export HOME="$TMP/casa" XDG_RUNTIME_DIR="$TMP/run" XDG_CONFIG_HOME="$TMP/casa/.config"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

iniciar_nosso() {
  "$PROGRAMA" --simular --terminal --dados "$TMP/dados" --porta "$PORTA_NOSSA" \
    </dev/null >"$TMP/saida.txt" 2>"$TMP/erro.txt" &
  PID_NOSSO=$!
}

# ---- start, pair, idle RSS ----
iniciar_nosso
codigo=""
for _ in $(seq 100); do
  codigo=$(grep -o '#parear=[0-9]\{6\}' "$TMP/saida.txt" 2>/dev/null | tail -1 | cut -d= -f2 || true)
  [ -n "$codigo" ] && break
  kill -0 "$PID_NOSSO" 2>/dev/null || { echo "velorin saiu:" >&2; cat "$TMP/erro.txt" >&2; exit 1; }
  sleep 0.1
done
[ -n "$codigo" ] || { echo "velorin nao mostrou o link de pareamento" >&2; exit 1; }
esperar_porta "$PORTA_NOSSA" || { echo "velorin nao escuta em $PORTA_NOSSA" >&2; exit 1; }

resposta=$(curl -s -H 'Content-Type: application/json' -H 'Connection: close' \
  --data "{\"codigo\":\"$codigo\",\"nomeDispositivo\":\"bench\"}" \
  "http://127.0.0.1:$PORTA_NOSSA/api/parear")
TOKEN=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["token"])' "$resposta") ||
  { echo "pareamento falhou: $resposta" >&2; exit 1; }

# The answers nginx will mirror, byte for byte.
CORPO_VOLUME='{"nivel":40}'
curl -s -f -H "Authorization: Bearer $TOKEN" -H 'Connection: close' \
  "http://127.0.0.1:$PORTA_NOSSA/api/status" >"$TMP/www/status.json" ||
  { echo "GET /api/status falhou" >&2; exit 1; }
resposta_volume=$(curl -s -f -X PUT -H "Authorization: Bearer $TOKEN" -H 'Connection: close' \
  -H 'Content-Type: application/json' --data "$CORPO_VOLUME" \
  "http://127.0.0.1:$PORTA_NOSSA/api/volume") || { echo "PUT /api/volume falhou" >&2; exit 1; }
codigo_mouse=$(curl -s -o /dev/null -w '%{http_code}' -X POST -H "Authorization: Bearer $TOKEN" \
  -H 'Connection: close' -H 'Content-Type: application/json' --data '{"acao":"mover","x":3,"y":-2}' \
  "http://127.0.0.1:$PORTA_NOSSA/api/mouse")
[ "$codigo_mouse" = 204 ] || { echo "POST /api/mouse respondeu $codigo_mouse" >&2; exit 1; }
TAM_STATUS=$(stat -c %s "$TMP/www/status.json")

sleep 5
rss_kb() { awk -v c="$1:" '$1 == c { print $2 }' "/proc/$PID_NOSSO/status"; }
RSS_OCIOSO=$(rss_kb VmRSS)

# ---- nginx ----
iniciar_nginx "$PORTA_NGINX" "$TMP/www" "$resposta_volume"
esperar_porta "$PORTA_NGINX" || { echo "nginx nao escuta em $PORTA_NGINX" >&2; exit 1; }

export BENCH_TOKEN="$TOKEN"
declare -a LINHAS=()
# Runs one case on both servers, ours first; appends a table line.
caso() {
  local nome=$1 caminho=$2 c=$3 rotulo n g
  rotulo="${nome// /_}-$c"
  rotulo="${rotulo//\//_}"
  n=$(medir_wrk "nosso-$rotulo" "$PORTA_NOSSA" "$caminho" "$c" "$DURACAO")
  sleep 1  # lets the drained connections of the previous run leave the per-address count
  g=$(medir_wrk "nginx-$rotulo" "$PORTA_NGINX" "$caminho" "$c" "$DURACAO")
  sleep 1
  LINHAS+=("$nome|$c|$n|$g")
  ULTIMO_ERROS=$(awk '{ print $5 }' <<<"$n")
}

for metodo in "GET /api/status" "PUT /api/volume"; do
  export BENCH_METODO=${metodo%% *}
  if [ "$BENCH_METODO" = PUT ]; then export BENCH_CORPO="$CORPO_VOLUME"; else export BENCH_CORPO=""; fi
  for c in $CONEXOES; do
    caso "$metodo" "${metodo#* }" "$c"
    if [ "$c" = 8 ] && [ "$ULTIMO_ERROS" -gt 0 ]; then
      caso "$metodo" "${metodo#* }" 7
    fi
  done
done

# ---- mouse stream ----
MOUSE_NOSSO=$(python3 "$AQUI/fluxo_mouse.py" "$PORTA_NOSSA" --token "$TOKEN" --taxa 120 --duracao 10)
sleep 1
MOUSE_NGINX=$(python3 "$AQUI/fluxo_mouse.py" "$PORTA_NGINX" --taxa 120 --duracao 10)

RSS_FIM=$(rss_kb VmRSS)
RSS_PICO=$(rss_kb VmHWM)
parar_pid "$PID_NOSSO"
PID_NOSSO=""
parar_pid "$PID_NGINX"
PID_NGINX=""

# ---- start to listening (the data folder exists from the run above) ----
PARTIDA=$(python3 "$AQUI/partida.py" "$PROGRAMA" "$TMP/dados" "$PORTA_NOSSA" --vezes "$PARTIDAS")

# ---- table ----
veredito() { awk -v v="$1" -v m="$2" 'BEGIN { print (v + 0 < m + 0 ? "ok" : "FALHA") }'; }

echo
echo "velorin $(git -C "$RAIZ" rev-parse --short HEAD 2>/dev/null || echo '?') em simulacao; $(nproc) nucleos; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "wrk ${DURACAO} s por medida, Connection: close; status de $TAM_STATUS bytes; nginx com keep-alive desligado"
echo
printf '%-16s %4s | %-44s | %-37s | %s\n' "caso" "con" \
  "velorin  req/s   p50ms   p99ms sock_err non2xx" "nginx    req/s   p50ms   p99ms sock_err" "meta p99<5ms"
for l in "${LINHAS[@]}"; do
  IFS='|' read -r nome c n g <<<"$l"
  read -r n_rps n_p50 n_p99 _ n_err n_non _ <<<"$n"
  read -r g_rps g_p50 g_p99 _ g_err _ _ <<<"$g"
  meta="-"
  if [ "$c" -ge 7 ]; then meta=$(veredito "$n_p99" 5); fi
  printf '%-16s %4s | %14s %7s %7s %8s %6s | %14s %7s %7s %8s | %s\n' "$nome" "$c" \
    "$n_rps" "$n_p50" "$n_p99" "$n_err" "$n_non" "$g_rps" "$g_p50" "$g_p99" "$g_err" "$meta"
done
echo "velorin socket errors by kind (connect/read/write/timeout); refused attempts are not in the latencies:"
for l in "${LINHAS[@]}"; do
  IFS='|' read -r nome c n _ <<<"$l"
  read -r _ _ _ n_total n_err _ n_tipos <<<"$n"
  if [ "$n_err" -gt 0 ]; then
    printf '  %-16s %4s  %s  (%s%% of %s attempts failed)\n' "$nome" "$c" "$n_tipos" \
      "$(awk -v e="$n_err" -v t="$n_total" 'BEGIN { printf "%.0f", 100 * e / (e + t) }')" "$((n_err + n_total))"
  fi
done
echo
read -r m_tot m_ok m_out m_err m_p50 m_p99 m_max m_taxa <<<"$MOUSE_NOSSO"
read -r _ g_ok _ g_err g_p50 g_p99 g_max g_taxa <<<"$MOUSE_NGINX"
printf 'mouse 120/s x 10 s  velorin: %s/%s ok, %s outros, %s erros, p50 %s ms, p99 %s ms, max %s ms, %s/s  [meta p99<3ms: %s]\n' \
  "$m_ok" "$m_tot" "$m_out" "$m_err" "$m_p50" "$m_p99" "$m_max" "$m_taxa" "$(veredito "$m_p99" 3)"
printf '                    nginx:   %s/%s ok, %s erros, p50 %s ms, p99 %s ms, max %s ms, %s/s\n' \
  "$g_ok" "$m_tot" "$g_err" "$g_p50" "$g_p99" "$g_max" "$g_taxa"
printf 'RSS ocioso (pareado, 5 s parado): %s kB = %.1f MiB  [meta <15 MiB: %s]; depois da carga %s kB, pico %s kB\n' \
  "$RSS_OCIOSO" "$(awk -v k="$RSS_OCIOSO" 'BEGIN { print k / 1024 }')" "$(veredito "$RSS_OCIOSO" 15360)" \
  "$RSS_FIM" "$RSS_PICO"
read -r p_med p_min p_max p_todos <<<"$PARTIDA"
printf 'partida ate escutar (%s vezes): mediana %s ms, min %s, max %s  [meta <150ms: %s]\n' \
  "$PARTIDAS" "$p_med" "$p_min" "$p_max" "$(veredito "$p_med" 150)"
echo "  todas: $p_todos"
