#!/bin/sh
# Runs clang-tidy with the checks of .clang-tidy over our sources and fails on any finding.
#
#   scripts/tidy.sh             every source file of the program, its tools, tests, benchmarks
#                               and fuzz targets, less those already found clean
#   scripts/tidy.sh --changed   the sources changed in the last 20 commits of the first-parent
#                               line and in the work tree, less those already found clean
#   scripts/tidy.sh --fresh     every source file, found clean or not
#   scripts/tidy.sh FILE...     those files
#
# A file without findings is remembered as clean under a key (scripts/tidy-keys.py): a hash of
# the clang-tidy version, the .clang-tidy files, the file and every header of ours it
# includes. The keys live outside git, in $PELLMAR_TIDY_CACHE (default
# ~/.cache/pellmar-tidy), shared by every clone on the machine: a file is checked again only
# when it, a header it includes or the checks change. So the whole-tree run costs its full
# price (tens of CPU-seconds a file with the static analyzer) once, and CI, run on the
# machine of the session that submits, skips what that session found clean. On a fresh
# machine CI checks all of its --changed files. A header is checked through the files that
# include it: --changed takes its own .cpp. What --changed cannot see - a file untouched for
# 20 commits that a change elsewhere broke, or a change of the checks themselves - the
# whole-tree run finds: run it after changing .clang-tidy or a widely used header.
#
# clang-tidy needs a clang tree without precompiled headers: build-tidy is configured (with
# the benchmarks and fuzz targets) and Qt's generated sources are made there; nothing is
# compiled.
set -eu
cd "$(dirname "$0")/.."
TREE=build-tidy
CACHE=${PELLMAR_TIDY_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pellmar-tidy}
FOLDERS='app|bench|cli|controls|core|crawl|download|fuzz|net|platform|quality|search|searchd|service|tests'
SOURCES="^($FOLDERS)/.*\\.cpp\$"
RECENT=20

mode=all
case "${1:-}" in
--changed) mode=changed ;;
--fresh) mode=fresh ;;
'') ;;
*) mode=files ;;
esac

# The sources changed in the last $RECENT first-parent commits and in the work tree, a header
# through its own .cpp; the whole tree when the history is shorter.
changed_sources() {
    base=$(git rev-parse -q --verify "HEAD~$RECENT^{commit}" || git hash-object -t tree /dev/null)
    git diff --name-only --diff-filter=AMR "$base" -- | sed 's/\.h$/.cpp/' | sort -u |
        while read -r file; do [ -f "$file" ] && echo "$file"; done | grep -E "$SOURCES" || true
}

case $mode in
all | fresh) files=$(git ls-files | grep -E "$SOURCES") ;;
changed) files=$(changed_sources) ;;
files) files=$(printf '%s\n' "$@") ;;
esac
if [ -z "$files" ]; then
    echo "tidy: nothing to check"
    exit 0
fi

# Files found clean before under the same key are left out (not when asked for by name).
mkdir -p "$CACHE"
# shellcheck disable=SC2086
keys=$(python3 scripts/tidy-keys.py $files)
if [ $mode != fresh ] && [ $mode != files ]; then
    keys=$(echo "$keys" | while read -r key file; do [ -e "$CACHE/$key" ] || echo "$key $file"; done)
    if [ -z "$keys" ]; then
        echo "tidy: all $(echo "$files" | grep -c .) files found clean before"
        exit 0
    fi
fi

mkdir -p "$TREE"
CXX=clang++ cmake -S . -B "$TREE" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLMAR_PCH=OFF \
    -DPELLMAR_TIDY=ON -DCMAKE_AUTOGEN_ORIGIN_DEPENDS=OFF >"$TREE/tidy-setup.log" 2>&1 ||
    { cat "$TREE/tidy-setup.log"; exit 1; }
# Only Qt's generated sources are made; the libraries they belong to are not built.
ninja -C "$TREE" $(ninja -C "$TREE" -t targets all | sed -n 's/^\([A-Za-z0-9_.-]*_autogen\): .*/\1/p') \
    >>"$TREE/tidy-setup.log" 2>&1 || { cat "$TREE/tidy-setup.log"; exit 1; }

# Files the tree does not build (a new file not yet in a CMakeLists.txt) are left out:
# clang-tidy needs each file's compile command.
keys=$(echo "$keys" | while read -r key file; do
    grep -qF "\"$(pwd)/$file\"" "$TREE/compile_commands.json" && echo "$key $file"
done || true)
count=$(echo "$keys" | grep -c . || true)
if [ "$count" -eq 0 ]; then
    echo "tidy: none of these files is in the tree"
    exit 0
fi
echo "tidy: checking $count files"
# Findings in our headers count too, at any depth; those of Qt, GoogleTest, the system and
# the build tree's generated files do not.
filter="^$(pwd)/($FOLDERS)/"
rm -rf "$TREE/tidy-logs"
mkdir -p "$TREE/tidy-logs"
# Each file alone, so that a clean one is remembered even when another has findings.
if ! echo "$keys" | xargs -P "$(nproc)" -L 1 sh -c '
    log="$0/tidy-logs/$(echo "$4" | tr / _).log"
    if clang-tidy -p "$0" --quiet --header-filter="$1" "$4" >"$log" 2>&1; then
        touch "$2/$3"
    else
        grep -v "warnings generated" "$log" >&2
        exit 1
    fi' "$TREE" "$filter" "$CACHE"; then
    echo "tidy: findings above (the logs are in $TREE/tidy-logs)" >&2
    exit 1
fi
echo "tidy: clean"
