#!/bin/sh
# Starts the program in a fresh program folder, closes it the way a session logout does
# and checks what the close wrote. Usage: start_and_close.sh BIN_DIR [xvfb]
set -eu
BIN=$1
MODE=${2:-offscreen}
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
cp "$BIN/Pellmar.dat" "$BIN/advert.dll" "$HOME_DIR/"
cp -r "$BIN/ads" "$HOME_DIR/"
mkdir "$HOME_DIR/temp"
export PELLMAR_HOME="$HOME_DIR" PELLMAR_REGISTRY="$HOME_DIR/registry.ini"

if [ "$MODE" = xvfb ]; then
    unset QT_QPA_PLATFORM
    xvfb-run -a "$BIN/Pellmar" &
else
    QT_QPA_PLATFORM=offscreen "$BIN/Pellmar" &
fi
PID=$!

# The registry record is written while the window is created.
i=0
while [ ! -s "$HOME_DIR/registry.ini" ]; do
    i=$((i + 1))
    [ $i -gt 300 ] && { echo "the program did not start"; kill $PID; exit 1; }
    sleep 0.1
done
sleep 1
if [ "$MODE" = xvfb ]; then
    pkill -TERM -P $PID -x Pellmar || kill -TERM $PID
else
    kill -TERM $PID
fi
wait $PID || true

INI="$HOME_DIR/Pellmar.ini"
for expected in "FirstTime=0" "SearchHttp=1" "SearchFtp=1" "SearchSMB=1" "[WinPos]" "Width=-1" "HostWidth=200" "Col1=250"; do
    grep -qF "$expected" "$INI" || { echo "missing $expected in:"; cat "$INI"; exit 1; }
done
grep -q "revision=3.2" "$PELLMAR_REGISTRY" || { echo "no registry record"; exit 1; }
echo "ok: $MODE"
