#!/usr/bin/env bash
# Quillby's proxy against nginx as a reverse proxy, in one run: wrk (2 threads, 50 connections,
# SECONDS s a run) to the same origin directly, through nginx and through Quillby's proxy,
# alternating, ROUNDS rounds; medians of requests/s and p99 latency, and the ratios.
# The origin is nginx serving a 13-byte static file (its own process, one worker). The reverse
# proxy is Debian's nginx-light with one worker, upstream keep-alive, proxy_buffering off and
# HTTP/1.1 to the origin. Quillby's side is bench/proxy's harness (the inspecting proxy with its
# request log) pointed at the same origin: start_quillby below is the one place to change
# for another of Quillby's proxies. All on ephemeral loopback ports, as the current user.
# Usage: bench/gateway/run.sh [seconds, default 10] [rounds, default 3] [build]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
rounds=${2:-3}
build=${3:-build/default}
source bench/build.sh
bench_build "$build" bench_proxy

work=$(mktemp -d)
pids=()
cleanup() {
    exec 3>&- || true
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait
    rm -rf "$work"
}
trap cleanup EXIT
free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# An nginx of its own: one worker, in the foreground, everything under $work/NAME.
start_nginx() { # NAME PORT SERVER_BLOCK [HTTP_LINES]
    local dir=$work/$1
    mkdir -p "$dir/www"
    printf 'hello, world\n' >"$dir/www/index.html"
    cat >"$dir/nginx.conf" <<EOF
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
EOF
    /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
    pids+=($!)
    until /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $2))" 2>/dev/null; do
        sleep 0.1
    done
}

# Quillby's proxy in front of the origin; sets $quillby to the port it listens on.
start_quillby() { # ORIGIN_PORT
    mkfifo "$work/in"
    "$build/bench/proxy/bench_proxy" "$1" <"$work/in" >"$work/ports" &
    pids+=($!)
    exec 3>"$work/in"
    until [ -s "$work/ports" ]; do sleep 0.1; done
    read -r _ _ _ quillby <"$work/ports"
}

origin=$(free_port)
start_nginx origin "$origin" "root $work/origin/www; location / { }"
nginx=$(free_port)
start_nginx proxy "$nginx" "location / { proxy_pass http://origin; proxy_http_version 1.1;
    proxy_set_header Connection \"\"; proxy_buffering off; }" \
    "upstream origin { server 127.0.0.1:$origin; keepalive 64; }"
start_quillby "$origin"

# "<requests/s> <p99 in ms>" of one wrk run
measure() {
    wrk -t2 -c50 -d"${seconds}s" --latency "http://127.0.0.1:$1/" >"$work/wrk"
    grep -q 'Non-2xx' "$work/wrk" && { cat "$work/wrk" >&2; exit 1; }
    awk 'function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; return v * 1000 }
         $1 == "99%" { p99 = ms($2) }
         $1 == "Requests/sec:" { rps = $2 }
         END { printf "%s %.3f\n", rps, p99 }' "$work/wrk"
}

for ((i = 0; i < rounds; i++)); do
    echo "direct $(measure "$origin")"
    echo "nginx $(measure "$nginx")"
    echo "quillby $(measure "$quillby")"
done | tee "$work/runs"
awk '
function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && list[j-1] > list[j]; j--) {
        t = list[j]; list[j] = list[j-1]; list[j-1] = t }
    return n % 2 ? list[(n+1)/2] : (list[n/2] + list[n/2+1]) / 2
}
{ n[$1]++; rps[$1, n[$1]] = $2; p99[$1, n[$1]] = $3 }
END {
    split("direct nginx quillby", names)
    for (k = 1; k <= 3; k++) {
        name = names[k]
        for (i = 1; i <= n[name]; i++) { r[i] = rps[name, i]; l[i] = p99[name, i] }
        R[name] = median(r, n[name]); L[name] = median(l, n[name])
        printf "%-8s %8.0f requests/s, p99 %7.3f ms (medians of %d)\n", name, R[name], L[name], n[name]
    }
    printf "nginx    %.2fx direct, added p99 %.3f ms\n", R["nginx"] / R["direct"], L["nginx"] - L["direct"]
    printf "quillby  %.2fx direct, added p99 %.3f ms\n", R["quillby"] / R["direct"], L["quillby"] - L["direct"]
    printf "quillby  %.2fx nginx (target >= 1.0x without capture, >= 0.8x with), p99 %+.3f ms against nginx\n",
        R["quillby"] / R["nginx"], L["quillby"] - L["nginx"]
}' "$work/runs"
