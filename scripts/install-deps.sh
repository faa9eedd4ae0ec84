#!/usr/bin/env bash
# Installs the Debian 12 packages Quillby needs to build, run and test, only those missing.
# Usage: scripts/install-deps.sh [build|test|bench]   (default: test, which includes build)
set -euo pipefail

what=${1:-test}
build=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
       qt6-qpa-plugins libqt6svg6 qt6-tools-dev qt6-l10n-tools libqrencode-dev libboost-dev)
# dunstctl reads its history through busctl, from systemd.
test=(xvfb xauth xfonts-base dbus dbus-x11 dunst systemd libnotify-bin notify-osd trayer xdotool x11-utils xclip imagemagick
      desktop-file-utils appstream dpkg-dev clang-format clang-14 libclang-rt-14-dev procps file
      at-spi2-core libglib2.0-bin python3 groff-base zbar-tools curl weston qt6-wayland
      python3-websockets util-linux qt6-translations-l10n)
# A StatusNotifierItem tray: the watcher and a GTK host (desktop-session.sh --sni-tray).
test+=(haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils)
bench=(hyperfine nmap time strace wrk)

case "$what" in
    build) wanted=("${build[@]}") ;;
    test) wanted=("${build[@]}" "${test[@]}") ;;
    bench) wanted=("${build[@]}" "${test[@]}" "${bench[@]}") ;;
    *) echo "usage: $0 [build|test|bench]" >&2; exit 2 ;;
esac

# A caller that has installed this set or a larger one already (.ci/run) says so, and the
# scripts it runs after that skip the check.
level() { case "$1" in build) echo 1 ;; test) echo 2 ;; bench) echo 3 ;; *) echo 0 ;; esac; }
[ "$(level "${QUILLBY_DEPS_INSTALLED:-}")" -ge "$(level "$what")" ] && exit 0

# One dpkg-query for all of them: one call per package took half a minute on a busy machine.
declare -A installed=()
while read -r pkg status; do
    [ "$status" = "install ok installed" ] && installed[$pkg]=1
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null)
missing=()
for pkg in "${wanted[@]}"; do
    [ -n "${installed[$pkg]:-}" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
