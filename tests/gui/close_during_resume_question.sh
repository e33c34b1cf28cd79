#!/bin/sh
# Starts the program with two unfinished SMB fetches listed, so that it opens the resume
# question, and ends it the way a session logout does: the program must end and leave the
# list as it was. Usage: close_during_resume_question.sh BIN_DIR
set -eu
BIN=$1
. "$(dirname "$0")/program_home.sh"
printf '\\\\h\\s\\a.mp3\t/t/a\r\n\\\\h\\s\\b.mp3\t/t/b\r\n' >"$HOME_DIR/download.dat"
cp "$HOME_DIR/download.dat" "$HOME_DIR/listed"

QT_QPA_PLATFORM=offscreen "$BIN/Pellmar" &
PID=$!
wait_for_window $PID
kill -TERM $PID
# A program that ignores the signal hangs here until the test's time limit.
wait $PID || true

cmp "$HOME_DIR/listed" "$HOME_DIR/download.dat" || { echo "the list changed"; exit 1; }
grep -qF "SearchHttp=1" "$HOME_DIR/Pellmar.ini" || { echo "the close did not run"; exit 1; }
echo "ok"
