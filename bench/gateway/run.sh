#!/usr/bin/env bash
# The tunnels' gateway against nginx as a reverse proxy, in one run: wrk (2 threads, 50
# connections, SECONDS s a run) to the same origin directly, through nginx, and through the
# gateway with inspection off and on (bench_gateway: the Gateway class the app runs),
# alternating, ROUNDS rounds; medians of requests/s, p99 latency and CPU time per request of
# the proxy's process, and the ratios. Then the gateway's resident memory per idle tunnel
# (N = 1, 10, 50) and the wake-ups of its threads while idle (IDLE_SECONDS, default 30).
# The same rounds also go through the running app's gateway: the built quillby (offscreen, a
# home of its own, the stand-in client of tests/support) with one tunnel on the origin's port,
# inspection switched off and on with `quillby set`; CPU time is the whole app's.
# The origin is nginx serving a 13-byte static file (its own process, one worker). The reverse
# proxy is Debian's nginx-light with one worker, upstream keep-alive, proxy_buffering off and
# HTTP/1.1 to the origin. All on ephemeral loopback ports, as the current user.
# BASELINE=path/to/an/older/bench_gateway adds that build's gateway, off and on, to each round.
# Usage: [BASELINE=...] bench/gateway/run.sh [seconds, default 10] [rounds, default 3] [build]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
rounds=${2:-3}
build=${3:-build/default}
source bench/build.sh
bench_build "$build" bench_gateway quillby fake_cloudflared
harness=$build/bench/gateway/bench_gateway
build=$(cd "$build" && pwd)

work=$(mktemp -d)
pids=()
fifos=() # the harnesses' standard inputs: closing them ends the harnesses
cleanup() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait
    rm -rf "$work"
}
trap cleanup EXIT
free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# CPU seconds a process (all its threads) has used so far
cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f\n", ($14 + $15) / hz }' "/proc/$1/stat"; }

# An nginx of its own: one worker, in the foreground, everything under $work/NAME.
start_nginx() { # NAME PORT SERVER_BLOCK [HTTP_LINES]
    local dir=$work/$1
    mkdir -p "$dir/www"
    printf 'hello, world\n' >"$dir/www/index.html"
    cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $dir/nginx.pid;
$([ "$(id -u)" -ne 0 ] || echo "user $(id -un) $(id -gn);")
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path $dir/body; proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi; uwsgi_temp_path $dir/uwsgi; scgi_temp_path $dir/scgi;
    keepalive_requests 1000000;
    ${4:-}
    server { listen 127.0.0.1:$2; $3 }
}
CONF
    /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
    pids+=($!)
    until /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $2))" 2>/dev/null; do
        sleep 0.1
    done
}

origin=$(free_port)
start_nginx origin "$origin" "root $work/origin/www; location / { }"
nginx=$(free_port)
start_nginx proxy "$nginx" "location / { proxy_pass http://origin; proxy_http_version 1.1;
    proxy_set_header Connection \"\"; proxy_buffering off; }" \
    "upstream origin { server 127.0.0.1:$origin; keepalive 64; }"
nginx_worker=$(cat "/proc/${pids[-1]}/task/${pids[-1]}/children" | awk '{ print $1 }')

# Starts a harness; sets $off and $on to its ports and $harness_pid.
start_harness() { # BINARY FIFO
    mkfifo "$2"
    "$1" serve "$origin" <"$2" >"$2.ports" &
    pids+=($!)
    harness_pid=$!
    exec {fd}>"$2"
    fifos+=("$fd")
    until [ -s "$2.ports" ]; do sleep 0.1; done
    read -r _ off _ on <"$2.ports"
}
if [ -n "${BASELINE:-}" ]; then
    start_harness "$BASELINE" "$work/base"
    base_pid=$harness_pid base_off=$off base_on=$on
fi
start_harness "$harness" "$work/in"
gateway_pid=$harness_pid

# The app, with its tunnel running on the origin; $app_port is its gateway's port.
mkdir -p "$work/home" && mkdir -m 700 "$work/run"
app=(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home"
    XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
    XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen FAKE_CF_PIDFILE="$work/children"
    PATH="$build/tests/support/bin:$PATH" "$build/src/app/quillby")
quillby() { "${app[@]}" "$@"; }
"${app[@]}" >"$work/app.log" 2>&1 & # env runs quillby in its own place: $! is the app
pids+=($!)
app_pid=$!
until quillby list >/dev/null 2>&1; do sleep 0.1; done
quillby set Tunnel --port "$origin" >/dev/null
quillby start Tunnel >/dev/null
quillby url Tunnel --wait 10 >/dev/null
read -r _ app_port <"$work/children"
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$gateway_pid/status"; }

# "<requests/s> <p99 in ms> <CPU µs per request of process PID, or 0>" of one wrk run
measure() { # PORT [PID]
    local before=0
    [ -z "${2:-}" ] || before=$(cpu "$2")
    wrk -t2 -c50 -d"${seconds}s" --latency "http://127.0.0.1:$1/" >"$work/wrk"
    grep -q 'Non-2xx' "$work/wrk" && { cat "$work/wrk" >&2; exit 1; }
    awk -v before="$before" -v after="$([ -z "${2:-}" ] && echo 0 || cpu "$2")" '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; return v * 1000 }
        $1 == "99%" { p99 = ms($2) }
        $1 == "Requests/sec:" { rps = $2 }
        $2 == "requests" { n = $1 }
        END { printf "%s %.3f %.1f\n", rps, p99, (after - before) * 1e6 / n }' "$work/wrk"
}

echo "load before: $(uptime)"
rss_start=$(rss)
for ((i = 0; i < rounds; i++)); do
    echo "direct $(measure "$origin")"
    echo "nginx $(measure "$nginx" "$nginx_worker")"
    echo "off $(measure "$off" "$gateway_pid")"
    echo "on $(measure "$on" "$gateway_pid")"
    echo "app_off $(measure "$app_port" "$app_pid")"
    quillby set Tunnel --inspect on >/dev/null
    echo "app_on $(measure "$app_port" "$app_pid")"
    quillby set Tunnel --inspect off >/dev/null
    if [ -n "${BASELINE:-}" ]; then
        echo "base_off $(measure "$base_off" "$base_pid")"
        echo "base_on $(measure "$base_on" "$base_pid")"
    fi
    [ "$i" -ne 0 ] || echo "rss_after_first $(rss)"
done | tee "$work/runs"
echo "load after: $(uptime)"
awk -v start="$rss_start" -v end="$(rss)" '
function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j-1] > list[j]; j--) {
        t = list[j]; list[j] = list[j-1]; list[j-1] = t }
    return n % 2 ? list[(n+1)/2] : (list[n/2] + list[n/2+1]) / 2
}
$1 == "rss_after_first" { first = $2; next }
{ n[$1]++; rps[$1, n[$1]] = $2; p99[$1, n[$1]] = $3; cpu[$1, n[$1]] = $4 }
END {
    names_n = split("direct nginx off on app_off app_on base_off base_on", names)
    label["direct"] = "direct"; label["nginx"] = "nginx"
    label["off"] = "gateway, inspection off"; label["on"] = "gateway, inspection on"
    label["app_off"] = "app, inspection off"; label["app_on"] = "app, inspection on"
    label["base_off"] = "baseline, inspection off"; label["base_on"] = "baseline, inspection on"
    for (k = 1; k <= names_n; k++) {
        name = names[k]
        if (!n[name]) continue
        for (i = 1; i <= n[name]; i++) { r[i] = rps[name, i]; l[i] = p99[name, i]; c[i] = cpu[name, i] }
        R[name] = median(r, n[name]); L[name] = median(l, n[name]); C[name] = median(c, n[name])
        printf "%-24s %8.0f requests/s, p99 %7.3f ms", label[name], R[name], L[name]
        if (name != "direct") printf ", %5.1f us CPU a request", C[name]
        printf " (medians of %d)\n", n[name]
    }
    for (k = 2; k <= names_n; k++) {
        name = names[k]
        if (!n[name]) continue
        printf "%-24s %.2fx direct, added p99 %.3f ms", label[name], R[name] / R["direct"], L[name] - L["direct"]
        if (name != "nginx")
            printf "; %.2fx nginx (target >= %s), added p99 %+.3f ms against nginx%s",
                R[name] / R["nginx"], name ~ /off/ ? "1.0x" : "0.8x", L[name] - L["nginx"],
                " (target <= 0)"
        if (name != "nginx")
            printf "; CPU a request %.2fx nginx (target <= %s)", C[name] / C["nginx"],
                name ~ /off/ ? "1.0x" : "1.2x"
        printf "\n"
    }
    # The speed of the machine drifts over a run; the configurations of a round run within a
    # minute of each other, so their CPU against that of nginx in the same round drifts less.
    for (k = 3; k <= names_n; k++) {
        name = names[k]
        if (!n[name] || n[name] != n["nginx"]) continue
        for (i = 1; i <= n[name]; i++) q[i] = cpu[name, i] / cpu["nginx", i]
        lo = hi = q[1]
        for (i = 2; i <= n[name]; i++) { if (q[i] < lo) lo = q[i]; if (q[i] > hi) hi = q[i] }
        printf "%-24s CPU a request against nginx in the same round: median %.2fx (%.2fx to %.2fx)\n",
            label[name], median(q, n[name]), lo, hi
    }
    printf "gateway process RSS: %d KiB at start, %d KiB after the first round, %d KiB at the end\n",
        start, first, end
}' "$work/runs"

for fd in "${fifos[@]}"; do exec {fd}>&-; done
echo "== idle gateways (target: <= 2048 KiB a tunnel, no wake-up)"
for n in 1 10 50; do
    "$harness" idle "$n" "${IDLE_SECONDS:-30}" "$origin" | tr '\n' ' '
    echo
done
