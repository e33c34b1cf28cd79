#!/bin/sh
# Starts the program with two unfinished SMB fetches listed, so that it opens the resume
# question, and ends it the way a session logout does: the program must end and leave the
# list as it was. Usage: close_during_resume_question.sh BIN_DIR
set -eu
BIN=$1
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
cp "$BIN/Pellmar.dat" "$BIN/advert.dll" "$HOME_DIR/"
cp -r "$BIN/ads" "$HOME_DIR/"
mkdir "$HOME_DIR/temp"
printf '\\\\h\\s\\a.mp3\t/t/a\r\n\\\\h\\s\\b.mp3\t/t/b\r\n' >"$HOME_DIR/download.dat"
cp "$HOME_DIR/download.dat" "$HOME_DIR/listed"
export PELLMAR_HOME="$HOME_DIR" PELLMAR_REGISTRY="$HOME_DIR/registry.ini"

QT_QPA_PLATFORM=offscreen "$BIN/Pellmar" &
PID=$!
# The registry record is written while the window is created; the question follows its show.
i=0
while [ ! -s "$HOME_DIR/registry.ini" ]; do
    i=$((i + 1))
    [ $i -gt 300 ] && { echo "the program did not start"; kill $PID; exit 1; }
    sleep 0.1
done
sleep 1
kill -TERM $PID
# A program that ignores the signal hangs here until the test's time limit.
wait $PID || true

cmp "$HOME_DIR/listed" "$HOME_DIR/download.dat" || { echo "the list changed"; exit 1; }
grep -qF "SearchHttp=1" "$HOME_DIR/Pellmar.ini" || { echo "the close did not run"; exit 1; }
echo "ok"
