#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. What only the tests use (a
# browser, dev servers, the desktop's parts) installs while the code builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake --preset default
deps_log=$(mktemp)
trap 'rm -f "$deps_log"' EXIT
# At low priority: the build is what the tests wait for; the downloads and disk syncs of the
# install leave the processors free most of the time, and it takes whatever the build leaves.
nice -n 19 bash scripts/install-deps.sh test >"$deps_log" 2>&1 &
deps=$!
built=0
cmake --build --preset default || built=$?
# Never left half-way, even when the build failed.
installed=0
wait "$deps" || installed=$?
cat "$deps_log"
[ "$built" -eq 0 ] && [ "$installed" -eq 0 ] || exit 1
# Configured again: the style check needs clang-format, one of the tests' packages.
cmake --preset default >/dev/null
ctest --preset default "$@"
