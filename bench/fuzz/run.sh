#!/usr/bin/env bash
# Long fuzzing runs: each libFuzzer target for a fixed time from the seed corpus (never
# rewritten), reporting executions and executions per second.
# Usage: bench/fuzz/run.sh [seconds per target] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-300}
build=${2:-build/fuzz}
bash scripts/install-deps.sh ci
[ -f "$build/CMakeCache.txt" ] || cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_all >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/quillby-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    mkdir -p "$work/$name"
    "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$work/$name/" "$work/$name" "$corpus" >"$work/$name.log" 2>&1 || {
        tail -n 40 "$work/$name.log"; echo "fuzz_$name FAILED; input kept in $work/$name" >&2
        trap - EXIT; exit 1; }
    awk -v name="fuzz_$name" '
        /^stat::number_of_executed_units/ { runs = $2 }
        /^stat::average_exec_per_sec/ { rate = $2 }
        /^stat::new_units_added/ { added = $2 }
        /^#[0-9]+.*cov:/ { for (i = 1; i <= NF; i++) if ($i == "cov:") cov = $(i + 1) }
        END { printf "%s: %d executions, %d exec/s, coverage %s edges, %d new inputs\n",
              name, runs, rate, cov, added }' "$work/$name.log"
done
