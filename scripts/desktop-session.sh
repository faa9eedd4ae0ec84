#!/usr/bin/env bash
# Runs a command inside a throw-away desktop session: its own Xvfb display, session bus and
# runtime folder, and optionally a tray host (trayer) and a notification daemon (dunst).
# Everything started here is stopped when the command ends, whatever happens.
#
# Usage: scripts/desktop-session.sh [--tray] [--notifications] [--size WxH] -- command [args...]
# The command sees DISPLAY, DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR of the session.
set -euo pipefail

tray=0 notifications=0 size=1280x800
while [ $# -gt 0 ]; do
    case "$1" in
        --tray) tray=1 ;;
        --notifications) notifications=1 ;;
        --size) size=$2; shift ;;
        --) shift; break ;;
        *) echo "usage: $0 [--tray] [--notifications] [--size WxH] -- command..." >&2; exit 2 ;;
    esac
    shift
done
[ $# -gt 0 ] || { echo "$0: no command" >&2; exit 2; }

session_dir=$(mktemp -d "${TMPDIR:-/tmp}/quillby-session.XXXXXX")
pids=()
cleanup() {
    local status=$?
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$session_dir"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A free display number, chosen by the server itself.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 "${size}x24" -nolisten tcp -noreset \
    >"$session_dir/xvfb.log" 2>&1 &
pids+=($!)
display=""
for _ in $(seq 300); do
    # A time-out keeps what was read so far: a busy machine may deliver half a line.
    if read -r -t 0.1 -u "$displayfd" part; then
        display+=$part
        break
    fi
    display+=$part
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$session_dir/xvfb.log" >&2; exit 1; }
done
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
exec {displayfd}>&-
export DISPLAY=":$display"

export XDG_RUNTIME_DIR="$session_dir/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
bus_address=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 \
    --address="unix:path=$session_dir/bus" | head -2)
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_address")
pids+=("$(sed -n 2p <<<"$bus_address")")

if [ "$tray" = 1 ]; then
    trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel \
        --height 32 --transparent false --tint 0xdddddd --iconspacing 4 \
        >"$session_dir/trayer.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        xdotool search --class trayer >/dev/null 2>&1 && break
        sleep 0.05
    done
fi

if [ "$notifications" = 1 ]; then
    dunst >"$session_dir/dunst.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null \
            | grep -q 'boolean true' && break
        sleep 0.05
    done
fi

"$@"
