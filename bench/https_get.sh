#!/bin/bash
# HTTPS download throughput and CPU time of pellmar-cli get against curl, in the same run.
#
#   bench/https_get.sh [PELLMAR_CLI] [RUNS] [SIZE_MB] [PARALLEL_MB]
#
# Makes a test CA and a certificate for 127.0.0.1 with openssl in a temporary folder, starts
# nginx (TLS 1.3 only, one cipher suite: TLS_AES_128_GCM_SHA256, so both clients use the
# same) on a free 127.0.0.1 port, and measures, alternating, RUNS times each:
#   - one file of SIZE_MB MiB (default 1024) to disk: wall time and user+system CPU time;
#   - ten files of PARALLEL_MB MiB (default 100) at once: ten pellmar-cli processes against
#     one curl --parallel.
# Prints the medians, the throughput ratios and the CPU time per GiB of both.
set -euo pipefail

CLI=${1:-build/bin/pellmar-cli}
RUNS=${2:-3}
SIZE_MB=${3:-1024}
PARALLEL_MB=${4:-100}
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
for i in $(seq 10); do truncate -s "${PARALLEL_MB}M" "docs/part$i.bin"; done
SIZE=$(stat -c %s docs/big.bin)
PART_SIZE=$(stat -c %s docs/part1.bin)

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

ours_parallel() {
    local pids=()
    for i in $(seq 10); do
        "$CLI" --cacert ca.pem get "$BASE/part$i.bin" -o "out/part$i.bin" 2> /dev/null &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid"; done
}
export -f ours_parallel
export CLI BASE

curl_parallel_args=()
for i in $(seq 10); do curl_parallel_args+=(-o "out/part$i.bin" "$BASE/part$i.bin"); done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > ours.txt; : > curl.txt; : > ours10.txt; : > curl10.txt
for run in $(seq "$RUNS"); do
    measure "$SIZE" "$CLI" --cacert ca.pem get "$BASE/big.bin" -o out/big.bin >> ours.txt
    measure "$SIZE" /usr/bin/curl -s --cacert ca.pem --tls13-ciphers "$CIPHER" \
        -o out/big.bin "$BASE/big.bin" >> curl.txt
    measure $((10 * PART_SIZE)) bash -c ours_parallel >> ours10.txt
    measure $((10 * PART_SIZE)) /usr/bin/curl -s --cacert ca.pem --tls13-ciphers "$CIPHER" \
        --parallel --parallel-max 10 "${curl_parallel_args[@]}" >> curl10.txt
    echo "run $run of $RUNS done" >&2
done

calc() { awk "BEGIN { print $1 }"; }
column() { awk -v n="$2" '{ print $n }' "$1" | median; }
mib=$(calc "$SIZE / 1048576")
mib10=$(calc "10 * $PART_SIZE / 1048576")
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
report "10 x pellmar-cli get ${PARALLEL_MB} MiB:" ours10.txt "$mib10"
report "curl --parallel 10 x ${PARALLEL_MB} MiB:" curl10.txt "$mib10"
printf 'throughput ratio pellmar/curl: %.2f\n' \
    "$(calc "$(column curl10.txt 1) / $(column ours10.txt 1)")"
