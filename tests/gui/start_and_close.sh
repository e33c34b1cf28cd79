#!/bin/sh
# Starts the program in a fresh program folder, closes it the way a session logout does
# and checks what the close wrote. Usage: start_and_close.sh BIN_DIR VERSION [xvfb]
set -eu
BIN=$1
VERSION=$2
MODE=${3:-offscreen}
. "$(dirname "$0")/program_home.sh"

if [ "$MODE" = xvfb ]; then
    unset QT_QPA_PLATFORM
    xvfb-run -a "$BIN/Pellmar" &
else
    QT_QPA_PLATFORM=offscreen "$BIN/Pellmar" &
fi
PID=$!
wait_for_window $PID
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
grep -qF "revision=$VERSION" "$PELLMAR_REGISTRY" || { echo "no registry record"; exit 1; }
echo "ok: $MODE"
