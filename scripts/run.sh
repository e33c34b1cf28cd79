#!/bin/sh
# Sets up, builds and starts Pellmar.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found. Run it under a virtual one:  xvfb-run -a scripts/run.sh" >&2
    exit 1
fi
exec build/bin/Pellmar
