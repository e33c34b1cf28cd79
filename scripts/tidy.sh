#!/bin/sh
# Runs clang-tidy with the checks of .clang-tidy over our sources and fails on any finding.
#
#   scripts/tidy.sh             every source file of the program, its tools, tests, benchmarks
#                               and fuzz targets not listed as clean (what the test command runs)
#   scripts/tidy.sh --fresh     every source file, listed or not
#   scripts/tidy.sh FILE...     those files
#
# scripts/tidy-clean.txt lists the files found clean, each under a key (scripts/tidy-keys.py):
# a hash of the clang-tidy version, the .clang-tidy files, the file and every header of ours
# it includes. A file is checked again only when it, a header it includes or the checks
# change, so the whole tree's price (tens of CPU-seconds a file with the static analyzer) is
# paid once, and a fresh clone checks only what changed after the list was last brought up
# to date. Every run rewrites the list: files found clean now or before under their present
# key, nothing else. Commit it with the change it checked.
#
# clang-tidy needs a clang tree without precompiled headers: build-tidy is configured (with
# the benchmarks and fuzz targets) and Qt's generated sources are made there; nothing is
# compiled.
set -eu
cd "$(dirname "$0")/.."
TREE=build-tidy
LIST=scripts/tidy-clean.txt
FOLDERS='app|bench|cli|controls|core|crawl|download|fuzz|net|platform|quality|search|searchd|service|tests'
SOURCES="^($FOLDERS)/.*\\.cpp\$"

mode=all
case "${1:-}" in
--fresh) mode=fresh ;;
'') ;;
*) mode=files ;;
esac

all_files=$(git ls-files | grep -E "$SOURCES")
mkdir -p "$TREE"
# shellcheck disable=SC2086
python3 scripts/tidy-keys.py $all_files | sort -k 2 >"$TREE/tidy-keys.txt"
touch "$LIST"
# The files to check, as "KEY FILE": those asked for, less those listed under the same key.
if [ $mode = files ]; then
    keys=$(printf '%s\n' "$@" | awk 'NR == FNR { asked[$0]; next } $2 in asked' - "$TREE/tidy-keys.txt")
else
    keys=$(cat "$TREE/tidy-keys.txt")
fi
if [ $mode = all ]; then
    keys=$(echo "$keys" | grep -vxFf "$LIST" || true)
fi

# Brings the list up to date: listed or now found clean, under the file's present key.
update_list() {
    cat "$LIST" "$TREE"/tidy-clean/* 2>/dev/null | sort -u | grep -xFf - "$TREE/tidy-keys.txt" \
        >"$LIST.new" || true
    mv "$LIST.new" "$LIST"
}

if [ -z "$keys" ]; then
    update_list
    echo "tidy: all $(grep -c . "$TREE/tidy-keys.txt") files found clean before"
    exit 0
fi

CXX=clang++ cmake -S . -B "$TREE" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLMAR_PCH=OFF \
    -DPELLMAR_TIDY=ON -DCMAKE_AUTOGEN_ORIGIN_DEPENDS=OFF >"$TREE/tidy-setup.log" 2>&1 ||
    { cat "$TREE/tidy-setup.log"; exit 1; }
# Only Qt's generated sources are made; the libraries they belong to are not built.
ninja -C "$TREE" $(ninja -C "$TREE" -t targets all | sed -n 's/^\([A-Za-z0-9_.-]*_autogen\): .*/\1/p') \
    >>"$TREE/tidy-setup.log" 2>&1 || { cat "$TREE/tidy-setup.log"; exit 1; }

# Every source of ours has a compile command in this tree; one that has none is not built
# by any CMakeLists.txt, and that is a fault too.
missing=$(echo "$keys" | while read -r key file; do
    grep -qF "\"$(pwd)/$file\"" "$TREE/compile_commands.json" || echo "$file"
done || true)
if [ -n "$missing" ]; then
    echo "tidy: no compile command for these files (not in any CMakeLists.txt?):" >&2
    echo "$missing" >&2
    exit 1
fi
echo "tidy: checking $(echo "$keys" | grep -c .) files"
# Findings in our headers count too, at any depth; those of Qt, GoogleTest, the system and
# the build tree's generated files do not.
filter="^$(pwd)/($FOLDERS)/"
rm -rf "$TREE/tidy-logs" "$TREE/tidy-clean"
mkdir -p "$TREE/tidy-logs" "$TREE/tidy-clean"
# Each file alone, so that a clean one is listed even when another has findings.
status=0
echo "$keys" | xargs -P "$(nproc)" -L 1 sh -c '
    log="$0/tidy-logs/$(echo "$3" | tr / _).log"
    if clang-tidy -p "$0" --quiet --header-filter="$1" "$3" >"$log" 2>&1; then
        echo "$2 $3" >"$0/tidy-clean/$2"
    else
        grep -v "warnings generated" "$log" >&2
        exit 1
    fi' "$TREE" "$filter" || status=$?
update_list
if [ $status -ne 0 ]; then
    echo "tidy: findings above (the logs are in $TREE/tidy-logs)" >&2
    exit 1
fi
echo "tidy: clean; $LIST lists $(grep -c . "$LIST") of $(echo "$all_files" | grep -c .) files"
