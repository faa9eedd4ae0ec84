#!/usr/bin/env bash
# The reliability stage of CI:
#   1. the library, the app and the tests built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (preset "asan", which also holds the sanitizers' options and
#      leaves out the packaging, end-to-end and desktop checks: they drive the built binary
#      from outside, not our code paths), and those tests run under them;
#   2. the libFuzzer targets (preset "fuzz") run for a fixed number of inputs each, starting
#      from the seed corpora in fuzz/corpus; the seeds themselves are never rewritten.
# Usage: scripts/ci-extra.sh [asan|fuzz]...   (default: both)
# Environment: QUILLBY_FUZZ_RUNS (default 100000), QUILLBY_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(asan fuzz)
runs=${QUILLBY_FUZZ_RUNS:-100000}
jobs=${QUILLBY_JOBS:-2}

bash scripts/install-deps.sh ci

run_asan() {
    echo "== sanitizers: configure and build (build/asan)"
    cmake --preset asan >/dev/null
    cmake --build --preset asan -j"$jobs"
    echo "== sanitizers: tests"
    ctest --preset asan
}

run_fuzz() {
    echo "== fuzzing: configure and build (build/fuzz)"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j"$jobs" --target fuzz_all
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/quillby-fuzz.XXXXXX")
    trap 'rm -rf "$work"' RETURN
    local failed=0
    for corpus in fuzz/corpus/*/; do
        local name
        name=$(basename "$corpus")
        echo "== fuzzing: fuzz_$name, $runs runs"
        mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
        # New inputs go to the scratch corpus (first folder); the seeds are only read.
        if ! "build/fuzz/fuzz/fuzz_$name" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$name/artifacts/" \
            "$work/$name/corpus" "$corpus" >"$work/$name/log" 2>&1; then
            tail -n 60 "$work/$name/log"
            for artifact in "$work/$name/artifacts"/*; do
                [ -e "$artifact" ] || continue
                echo "-- failing input $(basename "$artifact") (base64):"
                base64 -w0 "$artifact"
                echo
            done
            failed=1
        else
            grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' \
                "$work/$name/log" || true
        fi
    done
    return "$failed"
}

for stage in "${stages[@]}"; do
    case "$stage" in
        asan) run_asan ;;
        fuzz) run_fuzz ;;
        *) echo "usage: $0 [asan|fuzz]..." >&2; exit 2 ;;
    esac
done
