#!/usr/bin/env bash
# Makes a map of 32768 x 32768 cells (1 G cells, a 2.1 GB file) and times
# the command-line tools on it as whole processes, beside the same work on
# an 8000 x 8000 map. Not part of CI: it needs about 2.2 GB of disk in the
# folder given (default /tmp) and, for the whole-map picture, the memory of
# the map's grids (2 GiB).
#   bash scripts/bench-billion.sh [FOLDER] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-/tmp}
runs=${2:-3}
build=${TARVEN_BUILD_DIR:-$here/build-release}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tarven-render tarven-stats tarven_peak -j"$(nproc)" >/dev/null
peak=$build/bench/tarven_peak
work=$(mktemp -d "$folder/tarven-billion-XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "making the maps in $work"
python3 "$here/bench/tile-map.py" "$here/examples/large.map" 32768 32768 "$work/billion.map"
python3 "$here/bench/tile-map.py" "$here/examples/large.map" 8000 8000 "$work/map8000.map"
ls -l "$work"

declare -A seconds cpus peaks
cases=(region-billion region-8000 stats-billion stats-8000 zoom0-billion)
run_case() {
  case $1 in
    region-billion) "$peak" "$build/tarven-render" --quiet --cells 15000,15000,2000,2000 "$work/billion.map" "$work/r.png" ;;
    region-8000) "$peak" "$build/tarven-render" --quiet --cells 3000,3000,2000,2000 "$work/map8000.map" "$work/r.png" ;;
    stats-billion) "$peak" "$build/tarven-stats" "$work/billion.map" ;;
    stats-8000) "$peak" "$build/tarven-stats" "$work/map8000.map" ;;
    zoom0-billion) "$peak" "$build/tarven-render" --quiet --zoom 0 "$work/billion.map" "$work/z.png" ;;
  esac
}
for ((r = 0; r < runs; r++)); do
  for c in "${cases[@]}"; do
    read -r _ code secs kib _ cpu <<<"$(run_case "$c" 2>/dev/null | grep '^PEAK ' | tail -1)"
    [ "$code" = 0 ] || { echo "$c failed (exit $code)" >&2; exit 1; }
    seconds[$c]="${seconds[$c]:-} $secs"
    cpus[$c]="${cpus[$c]:-} $cpu"
    if [ "${peaks[$c]:-0}" -lt "$kib" ]; then peaks[$c]=$kib; fi
  done
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo
echo "== 1 G cells against 8000^2, whole processes ($runs runs each, medians; load average $(cut -d' ' -f1-3 /proc/loadavg))"
for c in "${cases[@]}"; do
  printf '%-16s %8.3f s  CPU %8.3f s  peak %8.1f MiB\n' "$c" "$(echo "${seconds[$c]}" | median)" \
    "$(echo "${cpus[$c]}" | median)" "$(awk -v k="${peaks[$c]}" 'BEGIN {print k / 1024}')"
done
echo "(region: --cells of 2000 x 2000 at zoom 8; zoom0: the whole map at zoom 0)"
