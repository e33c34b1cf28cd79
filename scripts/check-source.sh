#!/bin/sh
# Checks of the source tree that the compiler cannot make: every file is formatted with the
# checked-in .clang-format, no file outside app/ includes a file of app/, every include of ours
# follows the table of folder edges (scripts/folder-edges.txt), and no logic folder (all but
# app/, controls/, platform/widgets/ and the tests, benchmarks and fuzz targets) includes a Qt
# Widgets header (the logic must build and run without a screen).
set -eu
cd "$(dirname "$0")/.."
status=0

sources=$(git ls-files '*.cpp' '*.h')
# shellcheck disable=SC2086
if ! clang-format --dry-run --Werror $sources 2>/dev/null; then
    echo "Not formatted (run clang-format -i on them):" >&2
    # shellcheck disable=SC2086
    clang-format --dry-run $sources 2>&1 | sed -n 's/^\([^:]*\):.*warning:.*/  \1/p' | sort -u >&2
    status=1
fi

outside_app=$(git ls-files '*.cpp' '*.h' | grep -v '^app/' || true)
# shellcheck disable=SC2086
found=$(grep -nE '^#[[:space:]]*include[[:space:]]*"app/' $outside_app || true)
if [ -n "$found" ]; then
    echo "Files outside app/ include files of app/:" >&2
    echo "$found" >&2
    status=1
fi

# Every include of ours ("folder/Name.h") follows the table of folder edges.
# shellcheck disable=SC2086
found=$(grep -HnE '^#[[:space:]]*include[[:space:]]*"[^"]*/' $sources | awk -v table=scripts/folder-edges.txt '
    BEGIN {
        while ((getline line < table) > 0) {
            sub(/#.*/, "", line)
            if (split(line, part, ":") != 2)
                continue
            folder = part[1]
            gsub(/[[:space:]]/, "", folder)
            known[folder] = 1
            count = split(part[2], names, " ")
            for (i = 1; i <= count; i++)
                allowed[folder, names[i]] = 1
        }
    }
    # The longest folder of the table that holds path; empty when none does.
    function owner(path,    folder, best) {
        best = ""
        for (folder in known)
            if (index(path, folder "/") == 1 && length(folder) > length(best))
                best = folder
        return best
    }
    {
        split($0, at, ":")
        match($0, /"[^"]*"/)
        included = substr($0, RSTART + 1, RLENGTH - 2)
        from = owner(at[1])
        into = owner(included)
        if (into == "") {
            into = included
            sub(/\/.*/, "", into)
        }
        if (from != into && !((from, into) in allowed))
            printf "  %s (%s -> %s)\n", $0, from == "" ? "a folder not in the table" : from, into
    }')
if [ -n "$found" ]; then
    echo "Includes that scripts/folder-edges.txt does not allow:" >&2
    echo "$found" >&2
    status=1
fi

widgets_dir=$(find /usr/include -type d -path '*qt6/QtWidgets' | head -n 1)
widget_headers=$(ls "$widgets_dir" | grep -v '\.h$' | sed 's/.*/<&>/')
logic=$(git ls-files 'platform/*.cpp' 'platform/*.h' 'core/*' 'net/*' 'search/*' 'download/*' \
    'service/*' 'cli/*' 'searchd/*' 'crawl/*' 'quality/*' | grep -v '^platform/widgets/' |
    grep '\.\(cpp\|h\)$')
for header in $widget_headers; do
    # shellcheck disable=SC2086
    found=$(grep -nF "#include $header" $logic || true)
    if [ -n "$found" ]; then
        echo "Logic files include the Widgets header $header:" >&2
        echo "$found" >&2
        status=1
    fi
done
# shellcheck disable=SC2086
found=$(grep -n '#include <QtWidgets' $logic || true)
[ -z "$found" ] || { echo "$found" >&2; status=1; }

exit $status
