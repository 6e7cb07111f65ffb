#!/usr/bin/env bash
# coin_tally must start and end as cheaply as a minimal C program: at most
# 1.25 times its instructions and its peak memory.
# Usage: tests/startup_cost.sh path/to/coin_tally
set -euo pipefail
figures=$(timeout 120 "$(dirname "$0")/../bench/startup.sh" "$1")
echo "$figures"
echo "$figures" | awk '
    $1 == "instructions" || $1 == "peak_memory_kib" {
        seen++
        if ($4 > 1.25) { print $1 " is " $4 " times the minimal C program'"'"'s"; bad = 1 }
    }
    END { exit (bad || seen != 2) }'
