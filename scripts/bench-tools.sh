#!/usr/bin/env bash
# Times the command-line tools as whole processes on large maps, against
# their targets, and tarven-render against Tiled's tmxrasterizer (Debian's
# `tiled`) on the same cells. scripts/bench.sh runs it after the window's
# benchmark; it can also run alone on any build folder:
#   bash scripts/bench-tools.sh BUILD-FOLDER [RUNS]
# Makes an 8000 x 8000 map (128 MB) in a temporary folder under /tmp and
# writes pictures into /dev/shm. Every case runs RUNS times (default 5), the
# cases taking turns, each in a fresh process started through tarven_peak,
# which reports its wall time, CPU time and peak memory; figures are medians
# of the times and the largest peak. The CPU time (user + system, all
# threads) tells what the wall time hides on a busy machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
runs=${2:-5}
render=$build/tarven-render
stats=$build/tarven-stats
# Programs sit at the top of the build folder (older builds: in bench/).
built() { if [ -x "$build/$1" ]; then echo "$build/$1"; else echo "$build/bench/$1"; fi; }
peak=$(built tarven_peak)
for tool in "$render" "$stats" "$peak"; do
  [ -x "$tool" ] || { echo "bench-tools: no $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/tarven-bench-tools-XXXXXX)
shm=/dev/shm/tarven-bench-tools-$$
trap 'rm -rf "$work" "$shm"-*' EXIT

large=$here/examples/large.map
python3 "$here/bench/tile-map.py" "$large" 8000 8000 "$work/map8000.map"
# Tiles of 12 x 9 pixels: tmxrasterizer draws 9003 x 8004 pixels, columns 9
# pixels apart as at zoom 8 and rows of 8 (it halves odd tile heights
# down), fewer pixels than tarven-render's 9004 x 9004.
peer=$(command -v tmxrasterizer || true)
if [ -n "$peer" ]; then
  python3 "$here/bench/map2tmx.py" "$large" "$work/large.tmx"
fi

declare -A seconds cpuSeconds peakKib
cases=(whole1000 region8000 stats8000 stats1000)
[ -n "$peer" ] && cases+=(peer1000)
# tarven-tiles on large.map at the default pitch, beside its floor: the same
# tiles drawn as palette indices, one reused zlib level-1 compressor and a
# file per tile, on one thread (bench/tiles_floor.cpp). Each run writes into
# a fresh folder.
tiles=$build/tarven-tiles
floor=$(built tarven_tiles_floor)
[ -x "$tiles" ] && [ -x "$floor" ] && cases+=(tiles1000 tilesfloor)
tilesRun=0
run_tiles_case() {
  tilesRun=$((tilesRun + 1))
  case $1 in
    tiles1000) "$peak" "$tiles" --quiet "$large" "$shm-tiles-$tilesRun" ;;
    tilesfloor) "$peak" "$floor" "$large" "$shm-floor-$tilesRun" ;;
  esac
  rm -rf "$shm-tiles-$tilesRun" "$shm-floor-$tilesRun"
}
run_case() {
  case $1 in
    tiles1000|tilesfloor) run_tiles_case "$1" ;;
    whole1000) "$peak" "$render" --quiet "$large" "$shm-whole.png" ;;
    region8000) "$peak" "$render" --quiet --cells 3500,3500,1000,1000 "$work/map8000.map" "$shm-region.png" ;;
    stats8000) "$peak" "$stats" "$work/map8000.map" ;;
    stats1000) "$peak" "$stats" "$large" ;;
    peer1000) (cd "$work" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
                 "$peak" "$peer" large.tmx "$shm-peer.png") ;;
  esac
}
# Older builds have no --quiet; a tool that rejects it is run without.
if "$render" --quiet --help >/dev/null 2>&1; then :; else
  run_case() {
    case $1 in
      tiles1000|tilesfloor) run_tiles_case "$1" ;;
      whole1000) "$peak" "$render" "$large" "$shm-whole.png" ;;
      region8000) "$peak" "$render" --cells 3500,3500,1000,1000 "$work/map8000.map" "$shm-region.png" ;;
      stats8000) "$peak" "$stats" "$work/map8000.map" ;;
      stats1000) "$peak" "$stats" "$large" ;;
      peer1000) (cd "$work" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
                   "$peak" "$peer" large.tmx "$shm-peer.png") ;;
    esac
  }
fi

for ((r = 0; r < runs; r++)); do
  for c in "${cases[@]}"; do
    line=$(run_case "$c" 2>/dev/null | grep '^PEAK ' | tail -1)
    read -r _ code secs kib _ cpu <<<"$line"
    if [ "$code" != 0 ]; then
      echo "bench-tools: $c failed (exit $code)" >&2
      exit 1
    fi
    seconds[$c]="${seconds[$c]:-} $secs"
    cpuSeconds[$c]="${cpuSeconds[$c]:-} ${cpu:-0}"
    if [ "${peakKib[$c]:-0}" -lt "$kib" ]; then peakKib[$c]=$kib; fi
  done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
declare -A med cpuMed
for c in "${cases[@]}"; do
  med[$c]=$(echo "${seconds[$c]}" | median)
  cpuMed[$c]=$(echo "${cpuSeconds[$c]}" | median)
done
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN {print (v <= t) ? "met" : "**MISSED**"}'; }

echo
echo "== Command-line tools on large maps, whole processes ($runs runs each, medians; load average $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-58s %16s %10s %s\n' figure median target verdict
row() { printf '%-58s %16s %10s %s\n' "$1" "$2" "$3" "$4"; }
secs() { awk -v w="${med[$1]}" -v c="${cpuMed[$1]}" 'BEGIN {printf "%.3f s (CPU %.3f)", w, c}'; }
row "tarven-render large.map (1000^2) whole, zoom 8" "$(secs whole1000)" "" ""
ratio=$(awk -v a="${med[region8000]}" -v b="${med[whole1000]}" 'BEGIN {printf "%.2f", a / b}')
row "tarven-render 8000^2 --cells 1000 x 1000, zoom 8" "$(secs region8000)" "" ""
row "  time of that region / time of the 1000^2 map whole" "$ratio" "<= 1.5" "$(verdict "$ratio" 1.5)"
row "  peak memory of that region" "$(mib "${peakKib[region8000]}") MiB" "<= 64 MiB" \
    "$(verdict "$(mib "${peakKib[region8000]}")" 64)"
row "tarven-stats large.map (1000^2)" "$(secs stats1000)" "" ""
row "tarven-stats 8000^2" "$(secs stats8000)" "" ""
row "  peak memory of tarven-stats 8000^2" "$(mib "${peakKib[stats8000]}") MiB" "<= 64 MiB" \
    "$(verdict "$(mib "${peakKib[stats8000]}")" 64)"
if [ -n "${cpuMed[tiles1000]:-}" ]; then
  row "tarven-tiles large.map (1000^2), default pitch 32" "$(secs tiles1000)" "<= 12 s CPU" \
      "$(verdict "${cpuMed[tiles1000]}" 12)"
  row "  its floor: drawing, one zlib level-1 compressor, files" "$(secs tilesfloor)" "" ""
  over=$(awk -v a="${cpuMed[tiles1000]}" -v b="${cpuMed[tilesfloor]}" 'BEGIN {printf "%.2f", a / b}')
  row "  CPU time of tarven-tiles / CPU time of its floor" "$over" "<= 2" "$(verdict "$over" 2)"
else
  echo "(no tarven-tiles or no bench/tarven_tiles_floor in the build: no tiles figures)"
fi
if [ -n "$peer" ]; then
  row "tmxrasterizer, same 1000^2 cells (9003 x 8004 pixels)" "$(secs peer1000)" "" ""
  faster=$(awk -v a="${med[peer1000]}" -v b="${med[whole1000]}" 'BEGIN {printf "%.1f", a / b}')
  row "  tarven-render faster than tmxrasterizer, same run" "${faster} x" ">= 25 x" \
      "$(awk -v v="$faster" 'BEGIN {print (v >= 25) ? "met" : "**MISSED**"}')"
  row "  the same in CPU time" \
      "$(awk -v a="${cpuMed[peer1000]}" -v b="${cpuMed[whole1000]}" 'BEGIN {printf "%.1f x", a / b}')" "" ""
  row "  peak memory, tarven-render / tmxrasterizer" \
      "$(mib "${peakKib[whole1000]}") / $(mib "${peakKib[peer1000]}") MiB" "" ""
else
  echo "(tmxrasterizer not installed: Debian's tiled package; no comparison)"
fi
