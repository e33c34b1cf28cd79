#!/bin/sh
# Runs the command line of the search service's user unit as systemd would (with "$$" as a
# dollar sign, on a free port instead of the fixed one) in a temporary HOME: it serves
# ~/Music and points the user's program folder's data file at itself.
# Usage: user_service.sh SOURCE_DIR BIN_DIR
set -eu
UNIT=$1/packaging/pellmar-searchd.service
BIN=$2
WORK=$(mktemp -d)
PID=""
trap '[ -n "$PID" ] && kill "$PID" 2>/dev/null; rm -rf "$WORK"' EXIT
fail() { echo "$*" >&2; exit 1; }
command_of() { sed -n "s/^$1=\/bin\/sh -c '\(.*\)'$/\1/p" "$UNIT" | sed 's/\$\$/$/g'; }

START=$(command_of ExecStart | sed 's/--port 8790/--port 0/')
[ -n "$START" ] || fail "no ExecStart in $UNIT"
mkdir "$WORK/home"
export HOME="$WORK/home" PATH="$BIN:/usr/bin:/bin"
unset XDG_DATA_HOME XDG_CONFIG_HOME
# A sources file is picked up: its one folder (on a port where nothing listens) is crawled.
mkdir -p "$HOME/.config/pellmar"
echo "http://127.0.0.1:9/music/" >"$HOME/.config/pellmar/sources"
sh -c "$(command_of ExecStartPre)"
sh -c "$START" >"$WORK/log" 2>&1 &
PID=$!
URL=""
for _ in $(seq 300); do
    URL=$(sed -n 's/^pellmar-searchd: listening on //p' "$WORK/log")
    [ -n "$URL" ] && break
    kill -0 "$PID" 2>/dev/null || break
    sleep 0.1
done
[ -n "$URL" ] || { cat "$WORK/log"; fail "the service did not start"; }
grep -q "in $HOME/Music " "$WORK/log" || fail "not serving ~/Music: $(cat "$WORK/log")"
grep -q "crawling 1 source$" "$WORK/log" || fail "the sources file was not read: $(cat "$WORK/log")"
DATA=$HOME/.local/share/Pellmar/Pellmar.dat
pellmar-cli datafile --decode "$DATA" | sed -n 2p | grep -qx "$URL" || fail "$DATA does not point at $URL"
echo "ok: $URL serves $HOME/Music"
