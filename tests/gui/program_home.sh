# Sourced by the window program's start-and-close scripts: a fresh program folder in
# HOME_DIR (removed on exit) and a wait for the program's window to be created.
HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
cp "$BIN/Pellmar.dat" "$BIN/advert.dll" "$HOME_DIR/"
cp -r "$BIN/ads" "$HOME_DIR/"
mkdir "$HOME_DIR/temp"
export PELLMAR_HOME="$HOME_DIR" PELLMAR_REGISTRY="$HOME_DIR/registry.ini"

# The registry record is written while the window is created; waits for it, then a second
# for what follows the window's show.
wait_for_window() {
    i=0
    while [ ! -s "$HOME_DIR/registry.ini" ]; do
        i=$((i + 1))
        [ $i -gt 300 ] && { echo "the program did not start"; kill "$1"; exit 1; }
        sleep 0.1
    done
    sleep 1
}
