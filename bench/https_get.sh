#!/bin/bash
# HTTPS download throughput and CPU time of pellmar-cli get against curl, in the same run.
#
#   bench/https_get.sh [PELLMAR_CLI] [RUNS] [SIZE_MB]
#
# Makes a test CA and a certificate for 127.0.0.1 with openssl in a temporary folder, starts
# nginx (TLS 1.3 only, one cipher suite: TLS_AES_128_GCM_SHA256, so both clients use the
# same) on a free 127.0.0.1 port, and fetches one file of SIZE_MB MiB (default 1024) to disk
# RUNS times (default 3) with each client, alternating. Prints the median wall time and
# user+system CPU time per GiB of both, and their ratios. Ten downloads at once over HTTPS
# are measured in-process by the download jobs: build/bin/download_jobs 10 100 3 --tls.
set -euo pipefail

CLI=${1:-build/bin/pellmar-cli}
RUNS=${2:-3}
SIZE_MB=${3:-1024}
CLI=$(readlink -f "$CLI")
for tool in /usr/sbin/nginx /usr/bin/curl /usr/bin/time /usr/bin/openssl "$CLI"; do
    [ -x "$tool" ] || { echo "missing $tool (see scripts/setup.sh)" >&2; exit 2; }
done
CIPHER=TLS_AES_128_GCM_SHA256

WORK=$(mktemp -d)
NGINX_PID=""
cleanup() {
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null && wait "$NGINX_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

cd "$WORK"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 2 -subj "/CN=Bench CA" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
    -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
echo "subjectAltName=IP:127.0.0.1" > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.pem 2>/dev/null

mkdir -p docs
# Sparse files: their bytes come from memory, so the disk does not limit the server.
truncate -s "${SIZE_MB}M" docs/big.bin
SIZE=$(stat -c %s docs/big.bin)

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
PORT=""
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 40000))
    if port_free "$candidate"; then PORT=$candidate; break; fi
done
[ -n "$PORT" ] || { echo "no free port found" >&2; exit 1; }

USER_LINE=""
[ "$(id -u)" -eq 0 ] && USER_LINE="user root;"
cat > nginx.conf <<CONF
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
    client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy;
    fastcgi_temp_path $WORK/fastcgi; uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
    server {
        listen 127.0.0.1:$PORT ssl;
        ssl_certificate $WORK/server.pem; ssl_certificate_key $WORK/server.key;
        ssl_protocols TLSv1.3;
        ssl_conf_command Ciphersuites $CIPHER;
        root $WORK/docs;
    }
}
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" &
NGINX_PID=$!
for _ in $(seq 100); do
    port_free "$PORT" || break
    sleep 0.1
done
port_free "$PORT" && { echo "nginx did not start:" >&2; cat error.log >&2; exit 1; }

BASE="https://127.0.0.1:$PORT"
mkdir -p out

# Runs one command; prints "seconds cpu_seconds". The files in out/ must have the sizes given.
measure() {
    local expected=$1
    shift
    local start end
    rm -f out/*
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o time.txt "$@" > /dev/null 2> err.txt ||
        { echo "failed: $*" >&2; cat err.txt >&2; exit 1; }
    end=$(date +%s.%N)
    local got
    got=$(cat out/* | wc -c)
    [ "$got" -eq "$expected" ] || { echo "short download: $got of $expected bytes by $1" >&2; exit 1; }
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
        "$(tail -n 1 time.txt | awk '{ print $1 + $2 }')"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > ours.txt; : > curl.txt
for run in $(seq "$RUNS"); do
    measure "$SIZE" "$CLI" --cacert ca.pem get "$BASE/big.bin" -o out/big.bin >> ours.txt
    measure "$SIZE" /usr/bin/curl -s --cacert ca.pem --tls13-ciphers "$CIPHER" \
        -o out/big.bin "$BASE/big.bin" >> curl.txt
    echo "run $run of $RUNS done" >&2
done

calc() { awk "BEGIN { print $1 }"; }
column() { awk -v n="$2" '{ print $n }' "$1" | median; }
mib=$(calc "$SIZE / 1048576")
report() { # label file mib
    local s cpu
    s=$(column "$2" 1)
    cpu=$(column "$2" 2)
    printf '%-32s %8.1f MiB/s  (%.2f s)  CPU %.2f s per GiB\n' "$1" "$(calc "$3 / $s")" "$s" \
        "$(calc "$cpu * 1024 / $3")"
}
printf 'TLS 1.3 %s, nginx on 127.0.0.1, %d runs each, medians\n' "$CIPHER" "$RUNS"
report "pellmar-cli get ${SIZE_MB} MiB:" ours.txt "$mib"
report "curl ${SIZE_MB} MiB:" curl.txt "$mib"
printf 'throughput ratio pellmar/curl: %.2f  CPU ratio pellmar/curl: %.2f\n' \
    "$(calc "$(column curl.txt 1) / $(column ours.txt 1)")" \
    "$(calc "$(column ours.txt 2) / $(column curl.txt 2)")"
