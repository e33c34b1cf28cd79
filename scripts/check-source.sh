#!/bin/sh
# Checks of the source tree that the compiler cannot make: every file is formatted with the
# checked-in .clang-format, no file outside app/ includes a file of app/, and no logic folder
# includes a Qt Widgets header (the logic must build and run without a screen).
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

widgets_dir=$(find /usr/include -type d -path '*qt6/QtWidgets' | head -n 1)
widget_headers=$(ls "$widgets_dir" | grep -v '\.h$' | sed 's/.*/<&>/')
logic=$(git ls-files 'platform/*.cpp' 'platform/*.h' 'core/*' 'net/*' 'search/*' 'download/*' \
    'service/*' 'cli/*' 'searchd/*' | grep -v '^platform/widgets/' | grep '\.\(cpp\|h\)$')
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
