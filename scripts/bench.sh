#!/usr/bin/env bash
# Builds and runs the benchmarks (under Xvfb when no display is set).
#   bash scripts/bench.sh [--quick]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_BUILD_DIR:-$here/build-release}
bash "$here/scripts/deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tarven_bench -j"$(nproc)"
export GTK_OVERLAY_SCROLLING=0 NO_AT_BRIDGE=1
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1200x24" "$build/bench/tarven_bench" "$@"
else
  exec "$build/bench/tarven_bench" "$@"
fi
