#!/bin/sh
# Runs clang-tidy with the checks of .clang-tidy over our sources and fails on any finding.
#
#   scripts/tidy.sh             every source file of the program, its tools and its tests
#   scripts/tidy.sh --changed   the files changed since the tree was last found clean
#   scripts/tidy.sh FILE...     those files
#
# A clean run records its commit in scripts/tidy-clean-at; --changed (what the test command
# runs) checks the sources changed since that commit, a header through its own .cpp, so the
# full run's cost (about ten CPU-seconds a file) is paid only now and then. clang-tidy
# needs a clang tree without precompiled headers: build-tidy is configured and Qt's generated
# sources are made there, but nothing is compiled.
set -eu
cd "$(dirname "$0")/.."
TREE=build-tidy
STAMP=scripts/tidy-clean-at
SOURCES='^(app|cli|controls|core|crawl|download|net|platform|search|searchd|service|tests)/.*\.cpp$'

mode=all
if [ "${1:-}" = --changed ]; then
    mode=changed
elif [ $# -gt 0 ]; then
    mode=files
fi

# The sources to check, one a line, relative to the project.
changed_sources() {
    base=$(cat "$STAMP" 2>/dev/null || true)
    if [ -z "$base" ] || ! git cat-file -e "$base^{commit}" 2>/dev/null; then
        base=HEAD~1
    fi
    git diff --name-only --diff-filter=AMR "$base" -- | sed 's/\.h$/.cpp/' | sort -u |
        while read -r file; do [ -f "$file" ] && echo "$file"; done | grep -E "$SOURCES" || true
}

case $mode in
all) files=$(git ls-files | grep -E "$SOURCES") ;;
changed) files=$(changed_sources) ;;
files) files=$(printf '%s\n' "$@") ;;
esac
if [ -z "$files" ]; then
    echo "tidy: nothing to check"
    exit 0
fi

mkdir -p "$TREE"
CXX=clang++ cmake -S . -B "$TREE" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLMAR_PCH=OFF \
    -DCMAKE_AUTOGEN_ORIGIN_DEPENDS=OFF >"$TREE/tidy-setup.log" 2>&1 || { cat "$TREE/tidy-setup.log"; exit 1; }
# Only Qt's generated sources are made; the libraries they belong to are not built.
ninja -C "$TREE" $(ninja -C "$TREE" -t targets all | sed -n 's/^\([A-Za-z0-9_.-]*_autogen\): .*/\1/p') \
    >>"$TREE/tidy-setup.log" 2>&1 || { cat "$TREE/tidy-setup.log"; exit 1; }

# Files a tree without the windows does not build (or a new file not yet in the tree) are
# left out: clang-tidy needs each file's compile command.
known=$(echo "$files" | while read -r file; do
    grep -qF "\"$(pwd)/$file\"" "$TREE/compile_commands.json" && echo "$file"
done || true)
count=$(echo "$known" | grep -c . || true)
if [ "$count" -eq 0 ]; then
    echo "tidy: none of these files is in the tree"
    exit 0
fi
echo "tidy: checking $count files"
echo "$known" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$TREE" --quiet >"$TREE/tidy.log" 2>&1 ||
    { grep -v "warnings generated" "$TREE/tidy.log" >&2; exit 1; }
# The tree was clean before and what changed is clean now: the next --changed run starts here
# (commit the file to keep it so).
if [ $mode != files ]; then
    git rev-parse HEAD >"$STAMP"
    echo "tidy: clean; $STAMP records $(cat "$STAMP")"
fi
