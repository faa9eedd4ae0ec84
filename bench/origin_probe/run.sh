#!/usr/bin/env bash
# Origin probe: what choosing 127.0.0.1 or ::1 adds to a tunnel's Start, on real listeners.
# Usage: bench/origin_probe/run.sh [runs, default 2000] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-2000}
build=${2:-build/default}
source bench/build.sh
bench_build "$build" bench_origin_probe
"$build/bench/origin_probe/bench_origin_probe" "$runs"
