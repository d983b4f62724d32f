#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time,
# side by side: the map reader from the seed corpus in tests/fuzz/corpus,
# the TMX and TMJ readers from tests/fuzz/corpus-tmx and tests/fuzz/corpus-tmj,
# and whatever else the list below names.
#   bash scripts/fuzz.sh [SECONDS]     (default 60, for each target)
#   TARVEN_FUZZ_DIR   build folder (default: build-fuzz)
#   TARVEN_FUZZ_JOBS  fuzzers at once (default: all of them)
# New inputs go to the build folder, never into the seed corpus; a crashing
# input is kept there as crash-* and the script fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${TARVEN_FUZZ_DIR:-$here/build-fuzz}

# The fuzz targets: NAME (the program tarven_fuzz_NAME, built from
# tests/fuzz/ into the top of the build folder), what it
# reads, its seed folder and its dictionary, both under tests/fuzz/.
fuzzers=(
  "loadmap|the map reader|corpus|map.dict"
  "tmx|the TMX reader|corpus-tmx|tmx.dict"
  "tmj|the TMJ reader|corpus-tmj|tmj.dict"
  "heightmap|the heightmap import|corpus-heightmap|heightmap.dict"
)
jobs=${TARVEN_FUZZ_JOBS:-${#fuzzers[@]}}

bash "$here/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$here}
fi
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEN_FUZZ=ON -DTARVEN_BUILD_TESTS=OFF -DTARVEN_BUILD_BENCH=OFF -DTARVEN_BUILD_WINDOW=OFF \
  "${launcher[@]}" >/dev/null
targets=()
for f in "${fuzzers[@]}"; do targets+=("tarven_fuzz_${f%%|*}"); done
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"

# fuzz NAME WHAT SEEDS DICT: runs tarven_fuzz_NAME for $seconds and keeps
# its summary and its exit status in the build folder.
# 64 KiB inputs reach rows far beyond 4096 characters, and tile maps of
# thousands of cells. One input may take at most 10 s and no single
# allocation above 16 MiB: the map reader needs the file plus its grids,
# the tile map readers the file, a few layers of at most 65536 gids and the
# export of as many cells, so a reader that trusted a header's size would
# be caught. The process as a whole (the sanitizer's quarantine, the
# corpus) may grow to 2 GiB.
fuzz() {
  local name=$1 what=$2 seeds=$3 dict=$4
  local corpus=$build/corpus-$name artifacts=$build/artifacts-$name log=$build/fuzz-$name.log
  mkdir -p "$corpus" "$artifacts"
  local status=0
  "$build/tarven_fuzz_$name" "$corpus" "$seeds" \
    -dict="$dict" -max_total_time="$seconds" -max_len=65536 \
    -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=16 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  {
    echo "--- $what ($name, ${seconds} s; log: $log)"
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
    echo "corpus: $(ls "$corpus" | wc -l) inputs"
    if [ "$status" -ne 0 ]; then
      tail -n 40 "$log"
      echo "fuzzer failed (status $status); inputs in $artifacts" >&2
    fi
  } >"$build/fuzz-$name.summary" 2>&1
  echo "$status" >"$build/fuzz-$name.status"
}

# At most $jobs fuzzers at once; every one runs, and any failure fails the script.
for f in "${fuzzers[@]}"; do
  IFS='|' read -r name what seeds dict <<<"$f"
  rm -f "$build/fuzz-$name.status" "$build/fuzz-$name.summary"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "Fuzzing $what for ${seconds} s"
  fuzz "$name" "$what" "$here/tests/fuzz/$seeds" "$here/tests/fuzz/$dict" &
done
wait
failed=0
for f in "${fuzzers[@]}"; do
  name=${f%%|*}
  cat "$build/fuzz-$name.summary" 2>/dev/null || echo "--- $name: no summary"
  [ "$(cat "$build/fuzz-$name.status" 2>/dev/null)" = 0 ] || failed=1
done
[ "$failed" -eq 0 ] || { echo "fuzzing failed" >&2; exit 1; }
