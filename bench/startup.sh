#!/usr/bin/env bash
# Start-up cost of coin_tally against a minimal C program that prints the
# same report and reads one byte, both with stdin at end of file and stdout
# to /dev/null: instructions executed (callgrind) and peak resident memory
# (GNU time; the least of several runs, as it varies from run to run).
# Prints the figures and their ratios; it never fails on a number.
# Usage: bench/startup.sh [path/to/coin_tally]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build/coin_tally}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -O2 "$here/minimal.c" -o "$work/minimal"

instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" </dev/null >/dev/null 2>"$work/log" || true
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/log"
}

peak_kib() {
    local least=
    for _ in $(seq 15); do
        /usr/bin/time -f %M -o "$work/rss" "$1" </dev/null >/dev/null 2>&1 || true
        local kib
        kib=$(tail -n 1 "$work/rss")
        if [ -z "$least" ] || [ "$kib" -lt "$least" ]; then least=$kib; fi
    done
    echo "$least"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

ours_ins=$(instructions "$program")
base_ins=$(instructions "$work/minimal")
ours_mem=$(peak_kib "$program")
base_mem=$(peak_kib "$work/minimal")

printf '%-22s %12s %12s %8s\n' measure coin_tally minimal_c ratio
printf '%-22s %12s %12s %8s\n' instructions "$ours_ins" "$base_ins" "$(ratio "$ours_ins" "$base_ins")"
printf '%-22s %12s %12s %8s\n' peak_memory_kib "$ours_mem" "$base_mem" "$(ratio "$ours_mem" "$base_mem")"
