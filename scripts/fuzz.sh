#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time:
# the map reader from the seed corpus in tests/fuzz/corpus, the TMX and TMJ
# readers from tests/fuzz/corpus-tmx and tests/fuzz/corpus-tmj, the heightmap
# import from tests/fuzz/corpus-heightmap.
#   bash scripts/fuzz.sh [SECONDS]     (default 60, for each target)
#   TARVEN_FUZZ_DIR   build folder (default: build-fuzz)
# New inputs go to the build folder, never into the seed corpus; a crashing
# input is kept there as crash-* and the script fails.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${TARVEN_FUZZ_DIR:-$here/build-fuzz}

bash "$here/scripts/deps.sh"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEN_FUZZ=ON -DTARVEN_BUILD_TESTS=OFF -DTARVEN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target tarven_fuzz_loadmap tarven_fuzz_tmx tarven_fuzz_tmj tarven_fuzz_heightmap -j"$(nproc)"

# fuzz NAME WHAT SEEDS DICT: runs tarven_fuzz_NAME (top of the build folder) for $seconds.
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
  echo "Fuzzing $what for ${seconds} s (log: $log)"
  set +e
  "$build/tarven_fuzz_$name" "$corpus" "$seeds" \
    -dict="$dict" -max_total_time="$seconds" -max_len=65536 \
    -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=16 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" >"$log" 2>&1
  local status=$?
  set -e
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  echo "corpus: $(ls "$corpus" | wc -l) inputs"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "fuzzer failed (status $status); inputs in $artifacts" >&2
    exit "$status"
  fi
}

fuzz loadmap "the map reader" "$here/tests/fuzz/corpus" "$here/tests/fuzz/map.dict"
fuzz tmx "the TMX reader" "$here/tests/fuzz/corpus-tmx" "$here/tests/fuzz/tmx.dict"
fuzz tmj "the TMJ reader" "$here/tests/fuzz/corpus-tmj" "$here/tests/fuzz/tmj.dict"
fuzz heightmap "the heightmap import" "$here/tests/fuzz/corpus-heightmap" "$here/tests/fuzz/heightmap.dict"
