#!/bin/sh
# Installs the build into a temporary prefix, checks the installed desktop files with their
# validators, makes the prefix read-only and runs the installed programs as an ordinary user
# with a temporary HOME: settings, temp folder and data file land in the user's program
# folder, and nothing in the prefix changes. Usage: installed_program.sh BUILD_DIR
set -eu
BUILD=$1
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT
PREFIX=$WORK/prefix
fail() { echo "$*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
for file in bin/Pellmar bin/pellmar-cli bin/pellmar-searchd share/pellmar/Pellmar.dat \
    share/pellmar/help/index.htm share/pellmar/help/ftp.htm lib/pellmar/veskftp.exe \
    lib/pellmar/Lanpull.exe lib/pellmar/advert.dll \
    share/applications/net.pellmar.Pellmar.desktop share/metainfo/net.pellmar.Pellmar.metainfo.xml \
    share/icons/hicolor/scalable/apps/net.pellmar.Pellmar.svg \
    share/icons/hicolor/16x16/apps/net.pellmar.Pellmar.png \
    share/icons/hicolor/48x48/apps/net.pellmar.Pellmar.png \
    share/icons/hicolor/256x256/apps/net.pellmar.Pellmar.png \
    share/man/man1/Pellmar.1.gz share/man/man1/pellmar-cli.1.gz \
    share/man/man1/pellmar-searchd.1.gz lib/systemd/user/pellmar-searchd.service; do
    [ -s "$PREFIX/$file" ] || fail "not installed: $file"
done
desktop-file-validate "$PREFIX/share/applications/net.pellmar.Pellmar.desktop"
appstreamcli validate --no-net "$PREFIX/share/metainfo/net.pellmar.Pellmar.metainfo.xml" >/dev/null

chmod -R a-w "$PREFIX"
chmod 755 "$WORK"
USER_HOME=$WORK/home
mkdir "$USER_HOME"
AS_USER=""
if [ "$(id -u)" -eq 0 ]; then
    # Root writes through any permission: run as nobody so the read-only prefix binds.
    chown nobody "$USER_HOME"
    AS_USER="setpriv --reuid=nobody --regid=nogroup --clear-groups --"
fi
run() {
    # shellcheck disable=SC2086
    env -i HOME="$USER_HOME" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen $AS_USER "$@"
}
listing() { find "$PREFIX" -printf '%p %m %s %T@\n' | sort; }
listing >"$WORK/before"

# shellcheck disable=SC2086
env -i HOME="$USER_HOME" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen $AS_USER "$PREFIX/bin/Pellmar" &
PID=$! # env and setpriv replace themselves: this is the program's own
# The window closes on SIGTERM like a logout once its handler is in place.
i=0
until [ $(( 0x$(sed -n 's/^SigCgt:\s*//p' /proc/$PID/status 2>/dev/null || echo 0) & 0x4000 )) -ne 0 ]; do
    i=$((i + 1))
    [ $i -gt 600 ] && { kill $PID; fail "the installed program did not start"; }
    kill -0 $PID 2>/dev/null || fail "the installed program stopped at start"
    sleep 0.05
done
kill -TERM $PID
wait $PID || true

FOLDER=$USER_HOME/.local/share/Pellmar
grep -q "FirstTime=0" "$FOLDER/Pellmar.ini" || fail "no settings in $FOLDER"
[ -d "$FOLDER/temp" ] || fail "no temp folder in $FOLDER"
[ -s "$FOLDER/Pellmar.dat" ] || fail "no data file in $FOLDER"
cmp -s "$FOLDER/help/index.htm" "$PREFIX/share/pellmar/help/index.htm" || fail "no help in $FOLDER"
[ -x "$FOLDER/veskftp.exe" ] && [ -s "$FOLDER/advert.dll" ] || fail "no outside programs in $FOLDER"
grep -q "Module%20Name=$PREFIX/bin/Pellmar$" "$USER_HOME/.config/Pellmar/registry.ini" ||
    fail "the registry does not name the installed program"

run "$PREFIX/bin/pellmar-cli" datafile --decode "$FOLDER/Pellmar.dat" | grep -qx "http://127.0.0.1:8790" ||
    fail "pellmar-cli cannot read the user's data file"
# pellmar-cli sets up the same folder for a user who never started the window.
rm -rf "$FOLDER"
run "$PREFIX/bin/pellmar-cli" probe "$PREFIX/share/pellmar/Pellmar.dat" >/dev/null 2>&1 || true
cmp -s "$FOLDER/Pellmar.dat" "$PREFIX/share/pellmar/Pellmar.dat" || fail "pellmar-cli set up no folder"
run "$PREFIX/bin/pellmar-searchd" --help | grep -q -- "--library" || fail "pellmar-searchd --help"

listing >"$WORK/after"
diff "$WORK/before" "$WORK/after" || fail "the prefix changed"
echo "ok: installed into $PREFIX, program folder $FOLDER"
