#!/usr/bin/env bash
# Idle cost: Quillby with 10 stopped tunnels and its window closed, against the bare tray
# program of bench/startup, in one desktop session: wake-ups (voluntary context switches
# from /proc/PID/status) and CPU time over a quiet period after start-up has settled.
# Usage: bench/idle/run.sh [seconds] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
build=${2:-build/default}
source bench/build.sh
bench_build "$build" quillby bench_bare_tray bench_tray_probe bench_scale
build=$(cd "$build" && pwd)

exec bash scripts/desktop-session.sh --tray --notifications -- bash -c '
set -euo pipefail
build=$1 seconds=$2
export HOME=$(mktemp -d) && trap "rm -rf $HOME" EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache
"$build/bench/scale/bench_scale" seed 10
probe=$build/bench/startup/bench_tray_probe
echo "quillby (10 stopped tunnels): $("$probe" --settle-ms 3000 --idle-s "$seconds" -- "$build/src/app/quillby")"
echo "bare tray:                    $("$probe" --settle-ms 3000 --idle-s "$seconds" -- "$build/bench/startup/bench_bare_tray")"
echo "target: no periodic wake-up (0 wake-ups, 0 ms CPU while idle)"
' _ "$build" "$seconds"
