#!/bin/bash
# HTTP download throughput of pellmar-cli get against curl, in the same run.
#
#   bench/http_get.sh [PELLMAR_CLI] [RUNS] [SIZE_MB]
#
# Starts nginx (Debian's /usr/sbin/nginx, its own configuration in a temporary folder) on a
# free 127.0.0.1 port serving one file of SIZE_MB MiB (default 1024), fetches it RUNS times
# (default 5) with each client, alternating, into a file in that folder, and prints the
# median throughput of both, their ratio, and each client's peak memory (maximum resident
# set size from /usr/bin/time).
set -euo pipefail

CLI=${1:-build/bin/pellmar-cli}
RUNS=${2:-5}
SIZE_MB=${3:-1024}
CLI=$(readlink -f "$CLI")
for tool in /usr/sbin/nginx /usr/bin/curl /usr/bin/time "$CLI"; do
    [ -x "$tool" ] || { echo "missing $tool (see scripts/setup.sh)" >&2; exit 2; }
done

WORK=$(mktemp -d)
NGINX_PID=""
cleanup() {
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/docs"
# A sparse file: its bytes come from memory, so the disk does not limit the clients.
truncate -s "${SIZE_MB}M" "$WORK/docs/big.bin"
SIZE=$(stat -c %s "$WORK/docs/big.bin")

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
PORT=""
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 40000))
    if port_free "$candidate"; then PORT=$candidate; break; fi
done
[ -n "$PORT" ] || { echo "no free port found" >&2; exit 1; }

USER_LINE=""
[ "$(id -u)" -eq 0 ] && USER_LINE="user root;"
cat > "$WORK/nginx.conf" <<CONF
$USER_LINE
daemon off;
master_process off;
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 64; }
http {
    default_type application/octet-stream;
    access_log off;
    sendfile on;
    client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy;
    fastcgi_temp_path $WORK/fastcgi; uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
    server { listen 127.0.0.1:$PORT; root $WORK/docs; }
}
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" &
NGINX_PID=$!
for _ in $(seq 100); do
    port_free "$PORT" || break
    sleep 0.1
done
port_free "$PORT" && { echo "nginx did not start:" >&2; cat "$WORK/error.log" >&2; exit 1; }

URL="http://127.0.0.1:$PORT/big.bin"
OUT="$WORK/out.bin"

# Runs one fetch; prints "seconds peak_kib".
measure() {
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$WORK/time.txt" "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    local got
    got=$(stat -c %s "$OUT")
    [ "$got" -eq "$SIZE" ] || { echo "short download: $got of $SIZE bytes by $1" >&2; exit 1; }
    rm -f "$OUT"
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(tail -n 1 "$WORK/time.txt")"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$WORK/ours.txt"
: > "$WORK/curl.txt"
for run in $(seq "$RUNS"); do
    measure "$CLI" get "$URL" -o "$OUT" >> "$WORK/ours.txt"
    measure /usr/bin/curl -s -o "$OUT" "$URL" >> "$WORK/curl.txt"
    echo "run $run of $RUNS done" >&2
done

ours_s=$(awk '{ print $1 }' "$WORK/ours.txt" | median)
curl_s=$(awk '{ print $1 }' "$WORK/curl.txt" | median)
ours_mem=$(awk '{ print $2 }' "$WORK/ours.txt" | sort -n | tail -n 1)
curl_mem=$(awk '{ print $2 }' "$WORK/curl.txt" | sort -n | tail -n 1)
calc() { awk "BEGIN { print $1 }"; }
mib=$(calc "$SIZE / 1048576")

printf 'file: %d MiB from nginx on 127.0.0.1, %d runs each, median\n' "$SIZE_MB" "$RUNS"
printf 'pellmar-cli get: %8.1f MiB/s  (%.2f s)  peak memory %d KiB\n' \
    "$(calc "$mib / $ours_s")" "$ours_s" "$ours_mem"
printf 'curl:            %8.1f MiB/s  (%.2f s)  peak memory %d KiB\n' \
    "$(calc "$mib / $curl_s")" "$curl_s" "$curl_mem"
printf 'ratio pellmar/curl: %.2f\n' "$(calc "$curl_s / $ours_s")"
