#!/usr/bin/env bash
# Installs what is missing, builds Quillby and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default --target quillby
exec ./build/default/src/app/quillby "$@"
