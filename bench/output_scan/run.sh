#!/usr/bin/env bash
# Output scanning: 256 MiB of client log lines (one URL in the middle) through a running
# TunnelInstance, against GNU grep -E with the same pattern on the same bytes from the same
# stand-in client, in one run. Usage: bench/output_scan/run.sh [MiB] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-256}
build=${2:-build/default}
bash scripts/install-deps.sh bench
[ -d "$build" ] || cmake --preset default >/dev/null
cmake --build "$build" --target bench_output_scan fake_cloudflared >/dev/null
client=$build/tests/support/bin/cloudflared
pattern='(https://[a-zA-Z0-9-]+\.trycloudflare\.com)'

echo "== Quillby (TunnelInstance, $mib MiB)"
app=$(FAKE_CF_FLOOD_MIB=$mib "$build/bench/output_scan/bench_output_scan" "$client")
echo "$app"

echo "== grep -E (same bytes through a pipe)"
grep_out=$( { FAKE_CF_MODE=flood FAKE_CF_FLOOD_MIB=$mib FAKE_CF_EXIT_AFTER_FLOOD=1 \
    "$client" tunnel --url http://127.0.0.1:3000 2>&1 >/dev/null \
    | /usr/bin/time -f 'grep_cpu_s=%U+%S grep_max_rss_kib=%M' grep -E -o "$pattern" >/dev/null; } 2>&1)
echo "$grep_out"

app_cpu=$(sed -n 's/.*cpu_s=\([0-9.]*\) .*/\1/p' <<<"$app")
grep_cpu=$(sed -n 's/.*grep_cpu_s=\([0-9.]*\)+\([0-9.]*\).*/\1 \2/p' <<<"$grep_out" | awk '{print $1+$2}')
awk -v a="$app_cpu" -v g="$grep_cpu" -v m="$mib" 'BEGIN {
    printf "app CPU %.3f s/GiB, grep CPU %.3f s/GiB, ratio %.2fx (target <= 2x)\n",
           a / (m / 1024), g / (m / 1024), (g > 0 ? a / g : 0) }'
