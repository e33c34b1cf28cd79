#!/bin/sh
# Builds the Debian package of the build and checks what it installs and depends on.
# Usage: debian_package.sh BUILD_DIR
set -eu
BUILD=$(cd "$1" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "$*" >&2; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$WORK" >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack failed"; }
DEB=$(ls "$WORK"/pellmar_*.deb)
dpkg-deb -c "$DEB" | awk '{print $6}' >"$WORK/files"
for file in ./usr/bin/Pellmar ./usr/bin/pellmar-cli ./usr/bin/pellmar-searchd \
    ./usr/share/pellmar/Pellmar.dat ./usr/share/pellmar/help/index.htm \
    ./usr/lib/pellmar/veskftp.exe ./usr/lib/pellmar/Lanpull.exe ./usr/lib/pellmar/advert.dll \
    ./usr/share/applications/net.pellmar.Pellmar.desktop \
    ./usr/share/metainfo/net.pellmar.Pellmar.metainfo.xml \
    ./usr/share/icons/hicolor/scalable/apps/net.pellmar.Pellmar.svg \
    ./usr/share/icons/hicolor/32x32/apps/net.pellmar.Pellmar.png \
    ./usr/share/man/man1/Pellmar.1.gz ./usr/share/man/man1/pellmar-cli.1.gz \
    ./usr/share/man/man1/pellmar-searchd.1.gz ./usr/lib/systemd/user/pellmar-searchd.service; do
    grep -qx -- "$file" "$WORK/files" || { cat "$WORK/files"; fail "missing from the package: $file"; }
done
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for library in libc6 libqt6core6 libqt6widgets6 libsqlite3-0 qt6-qpa-plugins; do
    echo "$DEPENDS" | grep -q "$library" || fail "no dependency on $library: $DEPENDS"
done
echo "ok: $(basename "$DEB") depends on $DEPENDS"
