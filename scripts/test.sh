#!/usr/bin/env bash
# Installs what is missing, builds Tarven with its tests and runs every test
# through CTest, under Xvfb when no display is set.
#   TARVEN_SANITIZE=ON  builds and runs everything with ASan and UBSan
#   TARVEN_UNSIGNED_CHAR=ON  builds with char unsigned (as on aarch64 and ppc64)
#   TARVEN_BUILD_DIR    build folder (default: build, build-asan when sanitized,
#                       build-uchar with char unsigned)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${TARVEN_SANITIZE:-OFF}
uchar=${TARVEN_UNSIGNED_CHAR:-OFF}
if [ "$sanitize" = ON ]; then
  build=${TARVEN_BUILD_DIR:-$here/build-asan}
elif [ "$uchar" = ON ]; then
  build=${TARVEN_BUILD_DIR:-$here/build-uchar}
else
  build=${TARVEN_BUILD_DIR:-$here/build}
fi

bash "$here/scripts/deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEN_SANITIZE="$sanitize" \
  -DTARVEN_UNSIGNED_CHAR="$uchar" >/dev/null
cmake --build "$build" -j"$(nproc)"

export GTK_OVERLAY_SCROLLING=0 NO_AT_BRIDGE=1
if [ "$sanitize" = ON ]; then
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp:print_suppressions=0}
fi
# One at a time: the window tests share one screen and one pointer.
run=(ctest --test-dir "$build" --output-on-failure --timeout 300)
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
