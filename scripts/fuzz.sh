#!/usr/bin/env bash
# Builds the libFuzzer target for the map reader with clang and runs it for
# a bounded time, starting from the seed corpus in tests/fuzz/corpus.
#   bash scripts/fuzz.sh [SECONDS]     (default 60)
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
cmake --build "$build" --target tarven_fuzz_loadmap -j"$(nproc)"

corpus=$build/corpus
artifacts=$build/artifacts
mkdir -p "$corpus" "$artifacts"
log=$build/fuzz.log
echo "Fuzzing the map reader for ${seconds} s (log: $log)"
set +e
# 64 KiB inputs reach rows far beyond 4096 characters. One input may take
# at most 10 s and no single allocation above 16 MiB: the reader needs the
# file plus its grids, the writer a buffer of about 1 MiB, so a reader that
# trusted a header's size would be caught. The process as a whole (the
# sanitizer's quarantine, the corpus) may grow to 2 GiB.
"$build/tests/fuzz/tarven_fuzz_loadmap" "$corpus" "$here/tests/fuzz/corpus" \
  -dict="$here/tests/fuzz/map.dict" -max_total_time="$seconds" -max_len=65536 \
  -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=16 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" >"$log" 2>&1
status=$?
set -e
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
echo "corpus: $(ls "$corpus" | wc -l) inputs"
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  echo "fuzzer failed (status $status); inputs in $artifacts" >&2
  exit "$status"
fi
