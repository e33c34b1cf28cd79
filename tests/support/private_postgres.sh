#!/bin/sh
# A private PostgreSQL cluster for the tests, in a folder of its own and reached only through
# a Unix socket in that folder (no TCP port).
#   private_postgres.sh start DIR   creates the cluster on first use, then starts it
#   private_postgres.sh stop DIR    stops it at once (as a crash would)
#   private_postgres.sh clean DIR   stops it and removes the folder
#   private_postgres.sh fresh DIR   clean, then start: a new cluster
# The connection string is "host=DIR port=5432 user=postgres dbname=postgres". Root runs the
# server as the user nobody (the server refuses root), an ordinary user as itself.
set -eu
command=$1
dir=$2
bin=$(printf "%s\n" /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || bin=""
if [ -z "$bin" ]; then
    echo "PostgreSQL is not installed (see scripts/setup.sh)" >&2
    exit 1
fi
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
    else
        "$@"
    fi
}

# As root, a folder that nobody cannot reach (a build tree under /root) becomes a link to one
# in /tmp that it can.
reachable_folder() {
    mkdir -p "$dir"
    if [ "$(id -u)" -eq 0 ] && ! as_owner test -x "$dir"; then
        real=$(mktemp -d /tmp/pellmar-postgres-XXXXXX)
        chmod 755 "$real"
        rmdir "$dir" && ln -s "$real" "$dir"
    fi
    dir=$(cd "$dir" && pwd -P)
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
    return 0
}

case $command in
start)
    reachable_folder
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C \
            --no-sync >"$dir/initdb.log" 2>&1 || {
            cat "$dir/initdb.log" >&2
            exit 1
        }
        cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 300
fsync = off
full_page_writes = off
shared_buffers = 32MB
work_mem = 8MB
EOF
    fi
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null || {
        cat "$dir/server.log" >&2
        exit 1
    }
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    ;;
clean)
    "$0" stop "$dir"
    [ -L "$dir" ] && rm -rf "$(readlink -f "$dir")"
    rm -rf "$dir"
    ;;
fresh)
    "$0" clean "$dir"
    "$0" start "$dir"
    ;;
*)
    echo "usage: $0 start|stop|clean|fresh DIR" >&2
    exit 2
    ;;
esac
