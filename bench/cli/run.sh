#!/usr/bin/env bash
# The command line against a running app with TUNNELS tunnels (default 50), in one run:
#   1. `quillby list` against `quillby --help` (the process start alone), hyperfine;
#      target: list costs at most 1.5x --help;
#   2. the GUI event loop's lateness (5 ms precise timer probe) for SECONDS (default 10):
#      with nobody calling; while CLIENTS (default 20) socket clients send list requests back
#      to back (each waits for its reply, then connects again); and while CLIENTS shell loops
#      run `quillby list` back to back, which also fills both cores with process start-ups.
#      Target: p99 < 50 ms.
# The app runs on the offscreen platform in a temporary home; nothing else is needed.
# Usage: bench/cli/run.sh [tunnels] [seconds] [clients] [build dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
tunnels=${1:-50}
seconds=${2:-10}
clients=${3:-20}
build=${4:-build/default}
source bench/build.sh
bench_build "$build" quillby bench_cli_app bench_scale
build=$(cd "$build" && pwd)
quillby=$build/src/app/quillby

export HOME=$(mktemp -d)
trap 'rm -rf "$HOME"' EXIT
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_RUNTIME_DIR=$HOME/runtime
export QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$build/bench/scale/bench_scale" seed "$tunnels"

coproc APP { "$build/bench/cli/bench_cli_app" 2>/dev/null; }
read -r ready <&"${APP[0]}"
[ "$ready" = ready ] || { echo "the app did not start" >&2; exit 1; }
[ "$("$quillby" list | wc -l)" = "$tunnels" ] || { echo "list does not show $tunnels tunnels" >&2; exit 1; }

echo "== quillby list ($tunnels tunnels) against quillby --help (target: <= 1.5x)"
# Alternating rounds, so that load from elsewhere falls on both alike.
for round in 1 2 3 4 5; do
    hyperfine -N --warmup 5 --runs 40 --style none --export-json "$HOME/round$round.json" \
        "$quillby --help" "$quillby list" >/dev/null 2>&1
done
python3 - "$HOME"/round*.json <<'PY'
import json, statistics, sys
times = {0: [], 1: []}
for path in sys.argv[1:]:
    for i, result in enumerate(json.load(open(path))["results"]):
        times[i] += result["times"]
v, l = (statistics.median(times[i]) * 1000 for i in (0, 1))
print(f"median of {len(times[0])} runs each: --help {v:.2f} ms, list {l:.2f} ms, "
      f"ratio {l / v:.2f}x (target <= 1.5x)")
PY

echo "== GUI event loop, ${seconds} s each (target: p99 < 50 ms)"
echo "measure $seconds" >&"${APP[1]}"
read -r idle <&"${APP[0]}"
echo "nobody calling: $idle"
# CLIENTS socket clients, each a loop of connect, request, reply, for SECONDS + 1 s.
socket_clients() {
    /usr/bin/python3 - "$XDG_RUNTIME_DIR/quillby.socket" "$clients" "$((seconds + 1))" <<'PY'
import os, socket, sys, time
path, clients, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
pids = []
for i in range(clients):
    pid = os.fork()
    if pid == 0:
        calls, end = 0, time.monotonic() + seconds
        while time.monotonic() < end:
            s = socket.socket(socket.AF_UNIX)
            s.connect(path)
            s.sendall(b'{"v":1,"cmd":"list"}\n')
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
            s.close()
            calls += reply.endswith(b"\n")
        os.write(1, b"%d\n" % calls)
        os._exit(0)
    pids.append(pid)
for pid in pids:
    os.waitpid(pid, 0)
PY
}

socket_clients >"$HOME/socket_calls" &
clients_pid=$!
sleep 0.5
echo "measure $seconds" >&"${APP[1]}"
read -r loaded <&"${APP[0]}"
wait "$clients_pid"
total=$(awk '{ n += $1 } END { print n }' "$HOME/socket_calls")
echo "$clients socket clients calling list: $loaded calls=$total ($((total / (seconds + 1))) per second)"

loops=()
for ((i = 0; i < clients; i++)); do
    (
        calls=0 end=$((SECONDS + seconds + 1))
        while [ $SECONDS -lt $end ]; do
            "$quillby" list >/dev/null && calls=$((calls + 1))
        done
        echo "$calls" >"$HOME/calls.$i"
    ) &
    loops+=($!)
done
sleep 0.5
echo "measure $seconds" >&"${APP[1]}"
read -r loaded <&"${APP[0]}"
wait "${loops[@]}"
total=$(awk '{ n += $1 } END { print n }' "$HOME"/calls.*)
echo "$clients shell loops running quillby list: $loaded calls=$total ($((total / (seconds + 1))) per second)"
exec {APP[1]}>&-
wait "$APP_PID" || true
