#!/bin/sh
# Makes the program folder of a run from the build's: RUN gets links to BIN's help, pictures
# and outside programs (PELLMAR_DEFAULT_FOLDERS and _PROGRAMS of CMakeLists.txt) and, once, a
# copy of BIN's settings; the run's data file is written there later. BIN itself is left as
# the build made it: the install and the Debian package take its files as the defaults.
# Usage: run-folder.sh BIN RUN
set -eu
cd "$(dirname "$0")/.."
BIN=$(cd "$1" && pwd)
RUN=$2
mkdir -p "$RUN"
for name in $(sed -n 's/^set(PELLMAR_DEFAULT_\(FOLDERS\|PROGRAMS\) \(.*\))$/\2/p' CMakeLists.txt); do
    ln -sfn "$BIN/$name" "$RUN/$name"
done
if [ ! -e "$RUN/Pellmar.ini" ] && [ -e "$BIN/Pellmar.ini" ]; then
    cp "$BIN/Pellmar.ini" "$RUN/Pellmar.ini" # the settings of earlier runs
fi
