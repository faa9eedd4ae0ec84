#!/usr/bin/env bash
# Scale, in one desktop session with a tray host:
#   window: time to open the status window and to save the list, 200 tunnels against 10;
#   flood: 50 running tunnels whose stand-in clients log RATE MiB/s each (default 10),
#          against the same app with no tunnel running: the event loop's lateness (5 ms
#          precise timer probe, p50/p99/max) and RSS at the start, middle and end.
# Usage: bench/scale/run.sh [seconds] [rate MiB/s] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-30}
rate=${2:-10}
build=${3:-build/default}
source bench/build.sh
bench_build "$build" bench_scale bench_flood_client
build=$(cd "$build" && pwd)

exec bash scripts/desktop-session.sh --tray -- bash -c '
set -euo pipefail
build=$1/bench/scale seconds=$2 rate=$3
export HOME=$(mktemp -d) && trap "rm -rf $HOME" EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_RUNTIME_DIR=$HOME/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
echo "== window and save (targets: window opens in < 100 ms)"
"$build/bench_scale" window 10
"$build/bench_scale" window 200
echo "== event loop under load (targets: p99 lateness < 50 ms, no RSS growth)"
echo "baseline, nothing running: $("$build/bench_scale" flood 0 "$seconds" "$build/bin/cloudflared")"
echo "50 clients at $rate MiB/s: $(FLOOD_RATE_MIB=$rate "$build/bench_scale" flood 50 "$seconds" "$build/bin/cloudflared")"
' _ "$build" "$seconds" "$rate"
