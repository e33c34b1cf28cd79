#!/bin/bash
# File requests to pellmar-searchd against nginx serving the same folder, with curl as the
# client of both.
#
#   bench/searchd_get.sh [PELLMAR_SEARCHD] [ROUNDS] [REQUESTS]
#
# Two loads, each REQUESTS GETs (default 1000) with curl --parallel --parallel-max 100 and
# the bodies thrown away: one 150 KB MP3 file REQUESTS times, and 200 different files of
# 150 KB in turn. Each load runs ROUNDS times (default 5) against each server, alternating,
# and the script prints the median wall time, each server's mean processor time over a round
# (user + system from /proc/PID/stat before and after) and the ratio service/nginx.
# nginx runs one worker with sendfile on and writes an access log, as the service writes
# its request log (to a file here). The service runs with its default threads; its processor
# time is that of all of them, the request log's writer among them. Other work on the machine swings both servers' times:
# the load average is printed with the figures.
set -euo pipefail

SEARCHD=${1:-build/bin/pellmar-searchd}
ROUNDS=${2:-5}
REQUESTS=${3:-1000}
SEARCHD=$(readlink -f "$SEARCHD")
for tool in /usr/sbin/nginx /usr/bin/curl "$SEARCHD"; do
    [ -x "$tool" ] || { echo "missing $tool (see scripts/setup.sh)" >&2; exit 2; }
done

WORK=$(mktemp -d)
NGINX_PID=""
SEARCHD_PID=""
cleanup() {
    for pid in $SEARCHD_PID $NGINX_PID; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# The files: MPEG frame headers (MPEG-1 layer III, 128 kbit/s, 44.1 kHz) then zeros.
mkdir -p "$WORK/library" "$WORK/db"
head -c 153600 /dev/zero > "$WORK/library/Solo - Wide.mp3"
printf '\xff\xfb\x90\x00' | dd of="$WORK/library/Solo - Wide.mp3" conv=notrunc status=none
for i in $(seq -w 1 200); do
    cp "$WORK/library/Solo - Wide.mp3" "$WORK/library/Track $i.mp3"
done

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# nginx on a free port below the range the system hands out for port 0 and for clients;
# another port when one is taken between the look and nginx's bind.
start_nginx() {
    local user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    cat > "$WORK/nginx.conf" <<CONF
$user_line
daemon off;
master_process off;
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/error.log;
events { worker_connections 1024; }
http {
    default_type application/octet-stream;
    access_log $WORK/access.log;
    sendfile on;
    client_body_temp_path $WORK/body; proxy_temp_path $WORK/proxy;
    fastcgi_temp_path $WORK/fastcgi; uwsgi_temp_path $WORK/uwsgi; scgi_temp_path $WORK/scgi;
    server { listen 127.0.0.1:$NGINX_PORT; location /files/ { alias $WORK/library/; } }
}
CONF
    /usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" 2> "$WORK/nginx.err" &
    NGINX_PID=$!
    for _ in $(seq 100); do
        port_free "$NGINX_PORT" || return 0
        kill -0 "$NGINX_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=""
    return 1
}
for _ in $(seq 10); do
    NGINX_PORT=$((20000 + RANDOM % 12000))
    port_free "$NGINX_PORT" && start_nginx && break
done
[ -n "$NGINX_PID" ] || { echo "nginx did not start:" >&2; cat "$WORK/nginx.err" >&2; exit 1; }

"$SEARCHD" --library "$WORK/library" --db "$WORK/db/index.sqlite" --port 0 \
    > "$WORK/searchd.log" 2>&1 &
SEARCHD_PID=$!
SEARCHD_URL=""
for _ in $(seq 300); do
    SEARCHD_URL=$(sed -n 's/^pellmar-searchd: listening on //p' "$WORK/searchd.log")
    [ -n "$SEARCHD_URL" ] && break
    kill -0 "$SEARCHD_PID" 2>/dev/null || break
    sleep 0.1
done
[ -n "$SEARCHD_URL" ] || { echo "pellmar-searchd did not start:" >&2; cat "$WORK/searchd.log" >&2; exit 1; }
NGINX_URL="http://127.0.0.1:$NGINX_PORT"

# curl configurations: the same file REQUESTS times, or the 200 files in turn.
for i in $(seq "$REQUESTS"); do echo "url = \"BASE/files/Solo%20-%20Wide.mp3\""; done > "$WORK/same.cfg"
for i in $(seq "$REQUESTS"); do
    printf 'url = "BASE/files/Track%%20%03d.mp3"\n' $(((i - 1) % 200 + 1))
done > "$WORK/many.cfg"
for load in same many; do
    for server in searchd nginx; do
        base=$SEARCHD_URL
        [ "$server" = nginx ] && base=$NGINX_URL
        sed "s|BASE|$base|" "$WORK/$load.cfg" | sed 's|$|\noutput = "/dev/null"|' \
            > "$WORK/$load-$server.cfg"
    done
done

ticks=$(getconf CLK_TCK)
cpu_ms() { awk -v t="$ticks" '{ print ($14 + $15) * 1000 / t }' "/proc/$1/stat"; }

# One round: prints "seconds cpu_ms".
round() {
    local config=$1 pid=$2 before after start end
    before=$(cpu_ms "$pid")
    start=$(date +%s.%N)
    curl --silent --show-error --fail --parallel --parallel-max 100 --config "$config" \
        -w '%{http_code} %{size_download}\n' > "$WORK/codes.txt" 2> "$WORK/curl.err" ||
        { echo "curl failed on $config:" >&2; cat "$WORK/curl.err" >&2; exit 1; }
    end=$(date +%s.%N)
    after=$(cpu_ms "$pid")
    local good
    good=$(grep -c '^200 153600$' "$WORK/codes.txt" || true)
    [ "$good" -eq "$REQUESTS" ] ||
        { echo "only $good of $REQUESTS answers whole from $config" >&2; exit 1; }
    awk -v a="$start" -v b="$end" -v c="$before" -v d="$after" 'BEGIN { print b - a, d - c }'
}

median() { sort -g | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'; }

echo "load average before: $(cut -d ' ' -f 1-3 /proc/loadavg)"
for load in same many; do
    : > "$WORK/$load-searchd.txt"
    : > "$WORK/$load-nginx.txt"
    for run in $(seq "$ROUNDS"); do
        round "$WORK/$load-searchd.cfg" "$SEARCHD_PID" >> "$WORK/$load-searchd.txt"
        round "$WORK/$load-nginx.cfg" "$NGINX_PID" >> "$WORK/$load-nginx.txt"
    done
    # Wall time: the median round. Processor time: the mean over the rounds, as a clock
    # tick (10 ms) is a large part of one round's.
    s_wall=$(cut -d ' ' -f 1 "$WORK/$load-searchd.txt" | median)
    n_wall=$(cut -d ' ' -f 1 "$WORK/$load-nginx.txt" | median)
    s_cpu=$(awk '{ t += $2 } END { print t / NR }' "$WORK/$load-searchd.txt")
    n_cpu=$(awk '{ t += $2 } END { print t / NR }' "$WORK/$load-nginx.txt")
    s_cpus=$(awk '{ printf "%s%.0f", (NR > 1 ? " " : ""), $2 }' "$WORK/$load-searchd.txt")
    n_cpus=$(awk '{ printf "%s%.0f", (NR > 1 ? " " : ""), $2 }' "$WORK/$load-nginx.txt")
    if [ "$load" = same ]; then
        what="one 150 KB file"
    else
        what="200 files of 150 KB in turn"
    fi
    printf '%d GETs of %s, 100 at a time, %d rounds (wall: median, processor: mean):\n' "$REQUESTS" "$what" "$ROUNDS"
    printf '  pellmar-searchd: %6.0f ms wall, %5.0f ms processor (rounds: %s)\n' \
        "$(awk -v s="$s_wall" 'BEGIN { print s * 1000 }')" "$s_cpu" "$s_cpus"
    printf '  nginx:           %6.0f ms wall, %5.0f ms processor (rounds: %s)\n' \
        "$(awk -v s="$n_wall" 'BEGIN { print s * 1000 }')" "$n_cpu" "$n_cpus"
    printf '  ratio service/nginx: wall %.2f, processor %.2f\n' \
        "$(awk -v a="$s_wall" -v b="$n_wall" 'BEGIN { print a / b }')" \
        "$(awk -v a="$s_cpu" -v b="$n_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
