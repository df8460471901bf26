# Shell functions shared by the benchmarks; sourced, never run on its own. The caller sets TMP
# (a scratch folder it removes) and AQUI (its own folder) and installs a trap that calls
# parar_pid for every pid it started.

# wrk and nginx from Debian when missing (needs root).
instalar_ferramentas() {
  if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null; then
    apt-get install -y --no-install-recommends wrk nginx >/dev/null
  fi
}

# Stops one process we started, by its pid, and reaps it: TERM first, KILL after 5 s.
parar_pid() {
  local pid=$1 i
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

# nginx on 127.0.0.1:<port>, keep-alive off, logging off, one worker per core. Answers the
# same paths as our API so that one wrk script drives both:
#   GET  /api/status  the file <www>/status.json (the caller writes it, same size as ours)
#   PUT  /api/volume  a fixed body of our volume answer's size
#   POST /api/mouse   204, no body
# Sets PID_NGINX.
iniciar_nginx() {
  local porta=$1 www=$2 corpo_volume=$3
  chmod -R a+rX "$www"
  cat >"$TMP/nginx.conf" <<CONF
worker_processes auto;
daemon off;
user root;
pid $TMP/nginx.pid;
error_log $TMP/nginx-erro.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:$porta;
    default_type application/json;
    location = /api/status { alias $www/status.json; }
    location = /api/volume { return 200 '$corpo_volume'; }
    location = /api/mouse { return 204; }
  }
}
CONF
  nginx -c "$TMP/nginx.conf" -p "$TMP" &
  PID_NGINX=$!
}

# Waits until something accepts on 127.0.0.1:<port> (up to 10 s).
esperar_porta() {
  local porta=$1 i
  for i in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$porta") 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# wrk latency texts ("812.00us", "1.20ms", "1.00s") to milliseconds.
em_ms() {
  awk -v v="$1" 'BEGIN {
    n = v + 0
    if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n += 0; else if (v ~ /m$/) n *= 60000; else if (v ~ /s$/) n *= 1000
    printf "%.3f", n }'
}

# One wrk run through requisicao.lua. BENCH_METODO, BENCH_CORPO and BENCH_TOKEN (exported by the
# caller) shape the request. Prints "req/s p50 p99 requests socket_errors non_2xx
# connect/read/write/timeout"; latencies cover completed requests only. The raw wrk
# output is kept in $TMP/wrk-<label>.txt.
medir_wrk() {
  local rotulo=$1 porta=$2 caminho=$3 conexoes=$4 duracao=$5 threads saida
  threads=$((conexoes < 2 ? conexoes : 2))
  saida=$(wrk -t"$threads" -c"$conexoes" -d"${duracao}s" --latency \
    -s "$AQUI/requisicao.lua" "http://127.0.0.1:$porta$caminho")
  printf '%s\n' "$saida" >"$TMP/wrk-$rotulo.txt"
  local rps p50 p99 total erros non2xx tipos
  rps=$(awk '/^Requests\/sec:/ { printf "%.0f", $2 }' <<<"$saida")
  p50=$(em_ms "$(awk '$1 == "50%" { print $2 }' <<<"$saida")")
  p99=$(em_ms "$(awk '$1 == "99%" { print $2 }' <<<"$saida")")
  total=$(awk '/requests in/ { print $1 }' <<<"$saida")
  erros=$(awk '/Socket errors/ { gsub(",", ""); print $4 + $6 + $8 + $10 }' <<<"$saida")
  tipos=$(awk '/Socket errors/ { gsub(",", ""); print $4 "/" $6 "/" $8 "/" $10 }' <<<"$saida")
  non2xx=$(awk '/Non-2xx/ { print $NF }' <<<"$saida")
  echo "${rps:-0} ${p50:-0} ${p99:-0} ${total:-0} ${erros:-0} ${non2xx:-0} ${tipos:-0/0/0/0}"
}
