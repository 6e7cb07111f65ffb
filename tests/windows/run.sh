#!/usr/bin/env bash
# Cross-compiles coin_tally.exe with MinGW-w64 and checks it under Wine: the
# report's exact bytes (CR LF line ends), exit status 255 with no console,
# the codes of keys typed on a pseudo-terminal, and an empty stderr.
# Usage: tests/windows/run.sh [build-folder]
set -uo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source_dir/build-win}

cmake -S "$source_dir" -B "$build" --toolchain "$source_dir/cmake/mingw-w64.cmake" \
    -DBUILD_TESTING=OFF >/dev/null && cmake --build "$build" >/dev/null || exit 1
exe=$build/coin_tally.exe

# Wine speaks on stderr while it sets up a new prefix; do that first, once.
export WINEDEBUG=-all WINEPREFIX=$build/wineprefix
if [ ! -d "$WINEPREFIX" ]; then
    timeout 300 wineboot -i >/dev/null 2>&1
    timeout 120 wineserver -w
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '3 nikels and 7 dimes. \r\n= 85 cents. \r\nDesign by Varnoth\r\n' >"$work/report"

passed=0
failed=0
check() {  # what expected actual
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $1: expected '$2', got '$3'"
    fi
}
check_output() {  # what
    check "$1: report" same "$(cmp -s "$work/out" "$work/report" && echo same || od -c "$work/out")"
    check "$1: stderr" "" "$(cat "$work/err")"
}

# No console: stdin from /dev/null.
timeout 60 wine "$exe" </dev/null >"$work/out" 2>"$work/err"
check "no console: exit status" 255 "$?"
check_output "no console"

# A key typed on a pseudo-terminal once the report is out; the typist
# stays until the program has ended, as script ends the session when its
# input does.
press() {  # name bytes expected-status
    rm -f "$work/out" "$work/err" "$work/status"
    (
        for _ in $(seq 300); do
            [ "$(cat "$work/out" 2>/dev/null | wc -c)" -ge 57 ] && break
            sleep 0.1
        done
        sleep 0.3
        printf "$2"
        for _ in $(seq 300); do [ -e "$work/status" ] && break; sleep 0.1; done
    ) | timeout 60 script -qec "wine '$exe' >'$work/out' 2>'$work/err'; echo \$? >'$work/status'" /dev/null >/dev/null
    check "$1: exit status" "$3" "$(cat "$work/status" 2>/dev/null || echo none)"
    check_output "$1"
}
press letter 'a' 97
press enter '\r' 13
press up_arrow '\033[A' 224

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
