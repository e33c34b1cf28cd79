#!/bin/sh
# Installs what the build needs from Debian, then configures and builds into $1
# (default: build). Further arguments go to CMake.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
[ $# -gt 0 ] && shift

PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev libtag1-dev
  libmicrohttpd-dev xvfb xauth xdg-utils nginx-light tinyproxy curl smbclient clang clang-format
  libclang-rt-14-dev time lame mpg123 dbus libglib2.0-bin librsvg2-bin desktop-file-utils
  appstream dpkg-dev file python3-pyftpdlib samba ccache clang-tidy
  libssl-dev openssl libcurl4-openssl-dev libsmbclient-dev lighttpd lftp wget chromium
  postgresql libpq-dev libmpg123-dev libfftw3-dev ffmpeg"

missing=""
for package in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    echo "Installing:$missing"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
    case " $missing " in
    *" samba "*)
        # pellmar-searchd runs an smbd of its own on 127.0.0.1; the system-wide SMB server
        # the package starts would share this machine's folders on the network.
        if [ -d /run/systemd/system ]; then
            $SUDO systemctl disable --now smbd nmbd 2>/dev/null || true
        fi
        ;;
    esac
    case " $missing " in
    *" postgresql "*)
        # The tests run PostgreSQL clusters of their own; the system-wide one is not needed.
        if [ -d /run/systemd/system ]; then
            $SUDO systemctl disable --now postgresql 2>/dev/null || true
        fi
        ;;
    esac
    case " $missing " in
    *" lighttpd "*)
        # The tests start their own lighttpd on a free port; the system-wide one is not needed.
        if [ -d /run/systemd/system ]; then
            $SUDO systemctl disable --now lighttpd 2>/dev/null || true
        fi
        ;;
    esac
fi

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR"
