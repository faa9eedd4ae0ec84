#!/usr/bin/env bash
# Port scan: the wall time of a scan of 18 refused ports against the floor (36 bare
# non-blocking connects) and against nmap, and of a scan of 18 ports pending on both loopback
# addresses against 300 ms, in one run. Usage: bench/port_scan/run.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
source bench/build.sh
bench_build "$build" bench_port_scan
"$build/bench/port_scan/bench_port_scan"
