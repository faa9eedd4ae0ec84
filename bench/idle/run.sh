#!/usr/bin/env bash
# Idle cost: Quillby with 10 tunnels and its window closed, against the bare tray program of
# bench/startup, in one desktop session: wake-ups (voluntary context switches from
# /proc/PID/status, of the main thread and of all threads) and CPU time over a quiet period
# after start-up has settled. With "running", the 10 tunnels run on the stand-in client
# (tests/support) during the quiet period, each asking its client's metrics server now and then.
# Usage: bench/idle/run.sh [seconds] [build dir] [stopped|running]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
build=${2:-build/default}
tunnels=${3:-stopped}
source bench/build.sh
bench_build "$build" quillby bench_bare_tray bench_tray_probe bench_scale fake_cloudflared
build=$(cd "$build" && pwd)

exec bash scripts/desktop-session.sh --tray --notifications -- bash -c '
set -euo pipefail
build=$1 seconds=$2 tunnels=$3
export HOME=$(mktemp -d) && trap "rm -rf $HOME" EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache
"$build/bench/scale/bench_scale" seed 10
probe=$build/bench/startup/bench_tray_probe
quillby=$build/src/app/quillby
settle=3000
if [ "$tunnels" = running ]; then
    export PATH=$build/tests/support/bin:$PATH
    settle=15000
    # Started once the app answers, all active before the quiet period begins.
    ( until "$quillby" list >/dev/null 2>&1; do sleep 0.2; done
      for i in $(seq 0 9); do "$quillby" start "Tunnel $i" >/dev/null; done
      for i in $(seq 0 9); do "$quillby" url "Tunnel $i" --wait 10 >/dev/null; done
      echo "active before the quiet period: $("$quillby" list | grep -c " active ")" ) &
fi
echo "quillby (10 $tunnels tunnels): $("$probe" --settle-ms $settle --idle-s "$seconds" -- "$quillby")"
echo "bare tray:                    $("$probe" --settle-ms 3000 --idle-s "$seconds" -- "$build/bench/startup/bench_bare_tray")"
echo "target: stopped, no periodic wake-up; running, one metrics ask a tunnel every 30 s"
' _ "$build" "$seconds" "$tunnels"
