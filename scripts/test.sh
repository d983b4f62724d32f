#!/usr/bin/env bash
# Installs what is missing, builds Tarven with its tests and runs every test
# through CTest, under Xvfb when no display is set. Tests run side by side,
# one per core, except the window tests, which take turns (one screen, one
# pointer). Arguments go to CTest, for example:
#   bash scripts/test.sh                     every test
#   bash scripts/test.sh -R SpecialFiles     the tests whose names match
#   bash scripts/test.sh -L tools -LE peer   the tools' tests, without those
#                                            that drive Chromium, Tiled or poppler
# Settings, from the environment:
#   TARVEN_SANITIZE=ON        builds and runs everything with ASan and UBSan
#   TARVEN_UNSIGNED_CHAR=ON   builds with char unsigned (as on aarch64 and ppc64)
#   TARVEN_BUILD_WINDOW=OFF   builds and tests only the layers without the toolkit
#   TARVEN_BUILD_DIR          build folder (default: build, build-asan when
#                             sanitized, build-uchar with char unsigned)
#   TARVEN_TEST_JOBS          tests at once (default: the number of cores)
# ccache, when installed, caches the compiler's work (in ~/.cache/ccache
# unless CCACHE_DIR says otherwise).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${TARVEN_SANITIZE:-OFF}
uchar=${TARVEN_UNSIGNED_CHAR:-OFF}
window=${TARVEN_BUILD_WINDOW:-ON}
if [ "$sanitize" = ON ]; then
  build=${TARVEN_BUILD_DIR:-$here/build-asan}
elif [ "$uchar" = ON ]; then
  build=${TARVEN_BUILD_DIR:-$here/build-uchar}
else
  build=${TARVEN_BUILD_DIR:-$here/build}
fi
jobs=${TARVEN_TEST_JOBS:-$(nproc)}

bash "$here/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here}
fi
# The benchmarks are built where they run (scripts/bench.sh), not here.
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEN_SANITIZE="$sanitize" \
  -DTARVEN_UNSIGNED_CHAR="$uchar" -DTARVEN_BUILD_WINDOW="$window" -DTARVEN_BUILD_BENCH=OFF \
  -DTARVEN_BUILD_TESTS=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

export GTK_OVERLAY_SCROLLING=0 NO_AT_BRIDGE=1
if [ "$sanitize" = ON ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
fi
run=(ctest --test-dir "$build" --output-on-failure --timeout 300 -j"$jobs" "$@")
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
