#!/usr/bin/env bash
# Installs what is missing, builds Tarven and starts it. Extra arguments are
# ignored by the program (it reads no command line).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_BUILD_DIR:-$here/build}

bash "$here/scripts/deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tarven -j"$(nproc)"
exec "$build/tarven"
