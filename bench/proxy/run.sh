#!/usr/bin/env bash
# The inspecting proxy against going direct: wrk, 50 connections, SECONDS s per run, direct
# to a small keep-alive origin and through the proxy in front of it, alternating, ROUNDS
# rounds; medians of requests/s and p99 latency, and the proxy process's resident memory
# after the first proxied run (well over 100,000 requests) against the end. ORIGIN=python
# puts the test suite's Python origin (tests/proxy/origin.py, a dev server's pace) behind it
# instead of the built-in C++ one.
# Usage: [ORIGIN=python] bench/proxy/run.sh [seconds, default 10] [rounds, default 3] [build]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
rounds=${2:-3}
build=${3:-build/default}
source bench/build.sh
bench_build "$build" bench_proxy

work=$(mktemp -d)
trap 'exec 3>&-; wait; rm -rf "$work"' EXIT
mkfifo "$work/in"
external=()
path=/
if [ "${ORIGIN:-}" = python ]; then
    /usr/bin/python3 tests/proxy/origin.py >"$work/origin" 2>/dev/null &
    origin_pid=$!
    trap 'kill $origin_pid; exec 3>&-; wait; rm -rf "$work"' EXIT
    until grep -q PORT "$work/origin" 2>/dev/null; do sleep 0.1; done
    external=("$(awk '/^PORT/ { print $2; exit }' "$work/origin")")
    path=/peer
fi
"$build/bench/proxy/bench_proxy" "${external[@]}" <"$work/in" >"$work/ports" &
pid=$!
exec 3>"$work/in"
until [ -s "$work/ports" ]; do sleep 0.1; done
read -r _ origin _ proxy <"$work/ports"
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
# CPU seconds the origin and proxy process has used so far
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$pid/stat"; }

# "<requests/s> <p99 in ms> <CPU µs of the origin+proxy process per request>" of one wrk run
measure() {
    local before
    before=$(cpu)
    wrk -t2 -c50 -d"${seconds}s" --latency "http://127.0.0.1:$1$path" >"$work/wrk"
    awk -v before="$before" -v after="$(cpu)" '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; return v * 1000 }
        $1 == "99%" { p99 = ms($2) }
        $1 == "Requests/sec:" { rps = $2 }
        $2 == "requests" { n = $1 }
        END { printf "%s %.3f %.1f\n", rps, p99, (after - before) * 1e6 / n }' "$work/wrk"
}

echo "rss at start: $(rss) KiB"
for ((i = 0; i < rounds; i++)); do
    echo "direct $(measure "$origin")"
    echo "proxy $(measure "$proxy")"
    if [ "$i" -eq 0 ]; then echo "rss_after_first $(rss)"; fi
done | tee "$work/runs"
echo "rss at end: $(rss) KiB"
awk -v end="$(rss)" '
function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j-1] > list[j]; j--) {
        t = list[j]; list[j] = list[j-1]; list[j-1] = t }
    return n % 2 ? list[(n+1)/2] : (list[n/2] + list[n/2+1]) / 2
}
$1 == "direct" { drps[++nd] = $2; dp99[nd] = $3; dcpu[nd] = $4 }
$1 == "proxy" { prps[++np] = $2; pp99[np] = $3; pcpu[np] = $4 }
$1 == "rss_after_first" { first = $2 }
END {
    d = median(drps, nd); p = median(prps, np); dl = median(dp99, nd); pl = median(pp99, np)
    printf "direct  %.0f requests/s, p99 %.3f ms (medians of %d)\n", d, dl, nd
    printf "proxy   %.0f requests/s, p99 %.3f ms\n", p, pl
    printf "ratio %.2fx direct (target >= 0.8x), added p99 %.3f ms (target <= 1 ms)\n", p / d, pl - dl
    printf "CPU per request of this process (the built-in origin and the proxy): direct %.1f us, proxied %.1f us\n", median(dcpu, nd), median(pcpu, np)
    printf "proxy process RSS growth after the first proxied run: %d KiB\n", end - first
}' "$work/runs"
