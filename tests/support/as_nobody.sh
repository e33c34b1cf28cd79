#!/bin/sh
# Runs a test command as the user "nobody" when started by root, so that file permissions
# bind; an ordinary user runs it as it is.
set -eu
if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
fi
exec "$@"
