#!/usr/bin/env bash
# Output scanning: MiB of client log lines (one URL in the middle) through a running
# TunnelInstance, against GNU grep -E with the same pattern on the same bytes from the same
# stand-in client through a pipe, alternating, several rounds; medians reported.
# Usage: bench/output_scan/run.sh [MiB, default 256] [build dir] [rounds, default 7]
set -euo pipefail
cd "$(dirname "$0")/../.."
mib=${1:-256}
build=${2:-build/default}
rounds=${3:-7}
source bench/build.sh
bench_build "$build" bench_output_scan fake_cloudflared
client=$build/tests/support/bin/cloudflared
pattern='(https://[a-zA-Z0-9-]+\.trycloudflare\.com)'

for ((i = 0; i < rounds; i++)); do
    FAKE_CF_FLOOD_MIB=$mib "$build/bench/output_scan/bench_output_scan" "$client" |
        sed -n 's/.* cpu_s=\([0-9.]*\) .*peak_growth_kib=\([0-9-]*\) .*/app \1 \2/p'
    { FAKE_CF_MODE=flood FAKE_CF_FLOOD_MIB=$mib FAKE_CF_EXIT_AFTER_FLOOD=1 \
        "$client" tunnel --url http://127.0.0.1:3000 2>&1 >/dev/null |
        /usr/bin/time -f 'grep %U %S %M' grep -E -o "$pattern" >/dev/null; } 2>&1 |
        awk '/^grep/ { print "grep", $2 + $3, $4 }'
done | awk -v mib="$mib" '
function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j-1] > list[j]; j--) {
        t = list[j]; list[j] = list[j-1]; list[j-1] = t }
    return n % 2 ? list[(n+1)/2] : (list[n/2] + list[n/2+1]) / 2
}
$1 == "app" { app[++na] = $2; growth[na] = $3 }
$1 == "grep" { grep[++ng] = $2; grss[ng] = $3 }
END {
    gib = mib / 1024
    a = median(app, na); g = median(grep, ng)
    printf "%d MiB x %d rounds (medians)\n", mib, na
    printf "app  CPU %.3f s/GiB, peak memory growth %d KiB (target < 5120 KiB)\n", a / gib, median(growth, na)
    printf "grep CPU %.3f s/GiB, max RSS %d KiB\n", g / gib, median(grss, ng)
    printf "ratio app/grep %.2fx (target <= 2x)\n", (g > 0 ? a / g : 0)
}'
