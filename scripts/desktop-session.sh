#!/usr/bin/env bash
# Runs a command inside a throw-away desktop session: its own Xvfb display, session bus and
# runtime folder, and optionally a tray host, a notification daemon (dunst) and a Wayland
# compositor. Everything started here is stopped when the command ends, whatever happens.
#
# Usage: scripts/desktop-session.sh [--tray] [--sni-tray] [--notifications] [--wayland]
#                                   [--size WxH] -- command [args...]
#   --tray      an XEmbed tray (trayer)
#   --sni-tray  a StatusNotifierItem tray: status-notifier-watcher owns
#               org.kde.StatusNotifierWatcher, gtk-sni-tray-standalone hosts the items in a
#               panel along the top of the X screen
#   --wayland   weston with its headless back end; the command then runs on Wayland only
#               (WAYLAND_DISPLAY and QT_QPA_PLATFORM=wayland set, DISPLAY unset), and
#               weston-screenshooter works in it
# The command sees DISPLAY (or WAYLAND_DISPLAY), DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR.
# With --notifications also QUILLBY_MENU_CHOICE (see below).
set -euo pipefail

tray=0 sni_tray=0 notifications=0 wayland=0 size=1280x800
while [ $# -gt 0 ]; do
    case "$1" in
        --tray) tray=1 ;;
        --sni-tray) sni_tray=1 ;;
        --notifications) notifications=1 ;;
        --wayland) wayland=1 ;;
        --size) size=$2; shift ;;
        --) shift; break ;;
        *) echo "usage: $0 [--tray] [--sni-tray] [--notifications] [--wayland] [--size WxH]" \
                "-- command..." >&2; exit 2 ;;
    esac
    shift
done
[ $# -gt 0 ] || { echo "$0: no command" >&2; exit 2; }

session_dir=$(mktemp -d "${TMPDIR:-/tmp}/quillby-session.XXXXXX")
# A login session's runtime folder (/run/user/UID) is in memory; so is this one where it can be.
runtime_root=$session_dir
[ -d /dev/shm ] && [ -w /dev/shm ] && runtime_root=$(mktemp -d /dev/shm/quillby-session.XXXXXX)
pids=()
cleanup() {
    local status=$?
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$session_dir"
    [ "$runtime_root" = "$session_dir" ] || rm -rf "$runtime_root"
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

export XDG_RUNTIME_DIR="$runtime_root/runtime"
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

# Whether a name has an owner on the session bus.
has_owner() {
    dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

if [ "$sni_tray" = 1 ]; then
    status-notifier-watcher >"$session_dir/sni-watcher.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do has_owner org.kde.StatusNotifierWatcher && break; sleep 0.05; done
    gtk-sni-tray-standalone --top --end --size 32 --color '#dddddd' \
        >"$session_dir/sni-tray.log" 2>&1 &
    pids+=($!)
    # Qt decides once, when its first tray icon is made, whether a host is there.
    for _ in $(seq 200); do
        gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path \
            /StatusNotifierWatcher --method org.freedesktop.DBus.Properties.Get \
            org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null \
            | grep -q true && break
        sleep 0.05
    done
fi

if [ "$notifications" = 1 ]; then
    # dunst's context menu (dunstctl context) asks a dmenu-like program which entry the user
    # chose. This one chooses, as a user would, the first entry containing the text the command
    # wrote to $QUILLBY_MENU_CHOICE; nothing while that file is empty.
    export QUILLBY_MENU_CHOICE="$session_dir/menu-choice"
    : >"$QUILLBY_MENU_CHOICE"
    printf '#!/bin/sh\n[ -s "%s" ] || exit 0\ngrep -F -m1 -- "$(cat "%s")"\n' \
        "$QUILLBY_MENU_CHOICE" "$QUILLBY_MENU_CHOICE" >"$session_dir/menu"
    chmod +x "$session_dir/menu"
    # Otherwise dunst's own defaults, from the system's file.
    sed "s|^\( *\)dmenu = .*|\1dmenu = $session_dir/menu|" /etc/xdg/dunst/dunstrc \
        >"$session_dir/dunstrc"
    dunst -config "$session_dir/dunstrc" >"$session_dir/dunst.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do has_owner org.freedesktop.Notifications && break; sleep 0.05; done
fi

if [ "$wayland" = 1 ]; then
    # Pixman renders into memory, so the screenshooter (enabled by --debug) has pixels to read.
    weston --backend=headless-backend.so --use-pixman --width="${size%x*}" --height="${size#*x}" \
        --socket=wayland-quillby --idle-time=0 --debug >"$session_dir/weston.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        [ -S "$XDG_RUNTIME_DIR/wayland-quillby" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || { cat "$session_dir/weston.log" >&2; exit 1; }
        sleep 0.05
    done
    # The shell's panel is up once weston has launched its helper clients.
    for _ in $(seq 100); do grep -q 'weston-desktop-shell' "$session_dir/weston.log" && break; sleep 0.05; done
    export WAYLAND_DISPLAY=wayland-quillby QT_QPA_PLATFORM=wayland
    unset DISPLAY
fi

"$@"
