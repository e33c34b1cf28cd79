#!/bin/sh
# Runs a test command as the user "nobody" when started by root, so that file permissions
# bind; an ordinary user runs it as it is. When nobody cannot reach the command (a folder on
# its way is closed to other users), the test cannot run: it says why and ends with 77,
# which the test's SKIP_RETURN_CODE reads as skipped.
set -eu
if [ "$(id -u)" -eq 0 ]; then
    as_nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups --"
    if [ -x "$1" ] && ! $as_nobody test -x "$1"; then
        echo "Skipped: the user nobody cannot run $1; a folder on its way is closed to other users"
        exit 77
    fi
    exec $as_nobody "$@"
fi
exec "$@"
