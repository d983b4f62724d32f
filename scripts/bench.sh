#!/usr/bin/env bash
# Builds and runs the benchmark (under Xvfb when no display is set). When the
# project has the command-line renderer, it is built too and timed as a
# whole process; then scripts/bench-tools.sh times the command-line tools on
# an 8000 x 8000 map and against Tiled's tmxrasterizer.
#   bash scripts/bench.sh [--quick]
# --quick takes fewer runs of the load/save processes and skips the slowest
# cell-by-cell reference figures. Takes a few minutes on two cores.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEN_BUILD_DIR:-$here/build-release}
# tiled: the peer renderer that the tools are timed against.
bash "$here/scripts/deps.sh" python3 tiled
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(tarven_bench)
if cmake --build "$build" --target help | grep -w tarven-render >/dev/null; then
  targets+=(tarven-render tarven-stats)
fi
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"
args=("$@")
if [ -x "$build/tarven-render" ]; then
  args+=(--render "$build/tarven-render")
fi
export GTK_OVERLAY_SCROLLING=0 NO_AT_BRIDGE=1
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1920x1200x24" "$build/bench/tarven_bench" "${args[@]}"
else
  "$build/bench/tarven_bench" "${args[@]}"
fi
if [ -x "$build/tarven-stats" ]; then
  runs=5
  for a in "$@"; do [ "$a" = --quick ] && runs=3; done
  bash "$here/scripts/bench-tools.sh" "$build" "$runs"
fi
