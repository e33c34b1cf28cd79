#!/bin/sh
# The run command's program folder: the build's help, pictures and outside programs linked
# in, the settings copied once, and the build's own program folder left as it was (its data
# file is what an install takes as the default). Usage: run_folder.sh SOURCE_DIR BIN_DIR
set -eu
SOURCE=$1
BIN=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "$*" >&2; exit 1; }

before=$(ls -l --time-style=full-iso "$BIN" | sha256sum)
"$SOURCE/scripts/run-folder.sh" "$BIN" "$WORK/run"
for name in help ads veskftp.exe Lanpull.exe advert.dll; do
    [ -L "$WORK/run/$name" ] && [ -e "$WORK/run/$name" ] || fail "not linked: $name"
done
[ ! -e "$WORK/run/Pellmar.dat" ] || fail "the build's data file was copied"
printf 'changed by the user\n' >"$WORK/run/Pellmar.ini"
"$SOURCE/scripts/run-folder.sh" "$BIN" "$WORK/run"
[ "$(cat "$WORK/run/Pellmar.ini")" = "changed by the user" ] || fail "settings copied again"
[ "$(ls -l --time-style=full-iso "$BIN" | sha256sum)" = "$before" ] || fail "$BIN changed"
echo "run folder ok"
