#!/bin/sh
# Sets up, builds and starts Pellmar with its local search service: makes the sample
# library once, starts pellmar-searchd on a free port, points the Pellmar.dat of the run's
# own program folder (build/run, PELLMAR_HOME) at it, runs Pellmar and stops the service
# when Pellmar exits. The service also serves the library over FTP and SMB, so that FTP and
# SMB hits can be fetched. build/bin/Pellmar.dat stays as the build made it: the install
# and the Debian package take it as the default.
#
# PELLMAR_LIBRARY names another folder of MP3 files to search (default: the sample
# library in build/sample-library).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build
BIN=build/bin

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<EOF
No display found. Either run the program under a virtual one:

    xvfb-run -a scripts/run.sh

or use the engine without windows, with the search service started by hand:

    $BIN/pellmar-searchd --make-sample build/sample-library
    $BIN/pellmar-searchd --library build/sample-library --port 0 \
        --serve-ftp --serve-smb --program-folder $BIN &
    $BIN/pellmar-cli          (lists its commands)
EOF
    exit 1
fi

LIBRARY=${PELLMAR_LIBRARY:-build/sample-library}
if [ ! -d "$LIBRARY" ]; then
    "$BIN/pellmar-searchd" --make-sample "$LIBRARY"
fi

# The run's program folder, with its own data file and settings.
RUN=build/run
scripts/run-folder.sh "$BIN" "$RUN"
PELLMAR_HOME=$(pwd)/$RUN
export PELLMAR_HOME

LOG=build/searchd.log
"$BIN/pellmar-searchd" --library "$LIBRARY" --port 0 --db build/searchd.db \
    --write-datafile "$RUN/Pellmar.dat" --serve-ftp --serve-smb --program-folder "$RUN" \
    >"$LOG" 2>&1 &
SEARCHD=$!
trap 'kill "$SEARCHD" 2>/dev/null || true; wait "$SEARCHD" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM

# The service prints its address once it listens and the data file is written.
URL=""
for _ in $(seq 300); do
    URL=$(sed -n 's/^pellmar-searchd: listening on //p' "$LOG")
    [ -n "$URL" ] && break
    kill -0 "$SEARCHD" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$URL" ]; then
    echo "The search service did not start:" >&2
    cat "$LOG" >&2
    exit 1
fi
echo "Search service at $URL (requests logged in $LOG)"
grep -e '^pellmar-searchd: FTP server' -e '^pellmar-searchd: SMB server' \
    -e '^pellmar-searchd: no ' "$LOG" || true

"$BIN/Pellmar"
