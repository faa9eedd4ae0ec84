#!/usr/bin/env bash
# The reliability stage of CI, run after the main tests:
#   1. the library, the app and the tests built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (clang 14, preset "asan"), and every test except the slow
#      packaging and end-to-end ones run under them;
#   2. the libFuzzer targets (preset "fuzz") run for a fixed number of inputs each, starting
#      from the seed corpora in fuzz/corpus; the seeds themselves are never rewritten.
# Usage: scripts/ci-extra.sh [asan|fuzz]...   (default: both)
# Environment: QUILLBY_EXTRA_BUILD_ROOT (default build), QUILLBY_FUZZ_RUNS (default 100000).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(asan fuzz)
root=${QUILLBY_EXTRA_BUILD_ROOT:-build}
runs=${QUILLBY_FUZZ_RUNS:-100000}
jobs=${QUILLBY_JOBS:-2}

bash scripts/install-deps.sh test

# Sanitizer reports end the process with a failure instead of scrolling past.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_asan() {
    echo "== sanitizers: configure and build ($root/asan)"
    cmake --preset asan -B "$root/asan" >/dev/null
    cmake --build "$root/asan" -j"$jobs"
    echo "== sanitizers: tests"
    # Packaging, end-to-end and desktop runs drive the built binary from outside (the
    # installed package, a whole desktop session), not our code paths.
    ctest --test-dir "$root/asan" --output-on-failure --timeout 600 \
        --label-exclude 'packaging|e2e|desktop|screenshot'
}

run_fuzz() {
    echo "== fuzzing: configure and build ($root/fuzz)"
    cmake --preset fuzz -B "$root/fuzz" >/dev/null
    cmake --build "$root/fuzz" -j"$jobs" --target fuzz_all
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
        if ! "$root/fuzz/fuzz/fuzz_$name" -runs="$runs" -seed=1 -max_len=4096 -timeout=10 \
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
