#!/usr/bin/env bash
# Start-up and memory: time from exec to the tray icon docked in the tray host, and resident
# memory 2 s later, for Quillby (10 stopped tunnels) against a bare Qt Widgets program that
# only shows a QSystemTrayIcon, alternating in one desktop session.
# Usage: bench/startup/run.sh [runs] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-15}
build=${2:-build/default}
source bench/build.sh
bench_build "$build" quillby bench_bare_tray bench_tray_probe bench_scale
build=$(cd "$build" && pwd)

exec bash scripts/desktop-session.sh --tray -- bash -c '
set -euo pipefail
build=$1 runs=$2
export HOME=$(mktemp -d) && trap "rm -rf $HOME" EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache
"$build/bench/scale/bench_scale" seed 10
probe=$build/bench/startup/bench_tray_probe
for ((i = 0; i < runs; i++)); do
    echo "quillby $("$probe" -- "$build/src/app/quillby")"
    echo "bare $("$probe" -- "$build/bench/startup/bench_bare_tray")"
done | tee "$HOME/runs.txt" >&2
awk '"'"'
function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j-1] > list[j]; j--) {
        t = list[j]; list[j] = list[j-1]; list[j-1] = t }
    return n % 2 ? list[(n+1)/2] : (list[n/2] + list[n/2+1]) / 2
}
{ for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
  if ($1 == "quillby") { n = ++nq; qs[n] = v["startup_ms"]; qc[n] = v["cpu_to_dock_ms"]; qr[n] = v["rss_kib"] }
  else { n = ++nb; bs[n] = v["startup_ms"]; bc[n] = v["cpu_to_dock_ms"]; br[n] = v["rss_kib"] } }
END {
    ms = median(qs, nq); bms = median(bs, nb); mr = median(qr, nq); bmr = median(br, nb)
    mc = median(qc, nq); bmc = median(bc, nb)
    printf "start-up (median of %d): quillby %.1f ms, bare tray %.1f ms, ratio %.2fx (target <= 1.2x)\n", nq, ms, bms, ms / bms
    printf "CPU time up to the dock (median): quillby %.2f ms, bare tray %.2f ms, ratio %.2fx\n", mc, bmc, mc / bmc
    printf "RSS after start (median): quillby %d KiB, bare tray %d KiB, ratio %.2fx (target <= 1.2x)\n", mr, bmr, mr / bmr
}'"'"' "$HOME/runs.txt"
' _ "$build" "$runs"
