#!/usr/bin/env bash
# Builds the ZIP reader's fuzz target with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for a bounded time over freshly made seed archives: scripts/fuzz.sh [SECONDS]
# Exits non-zero when the fuzzer finds a crash, a hang, a leak or a broken promise of the reader; the input
# that did it is left in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out="$root/build-fuzz"
corpus="$root/tests/fuzz/corpus-run"  # grows from run to run; not committed
mkdir -p "$out" "$corpus"

echo "Building the fuzz target..."
clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" \
  "$root/tests/fuzz/ZipReaderFuzz.cpp" "$root/zip/ZipReader.cpp" "$root"/platform/*.cpp \
  -lz -o "$out/zipreader_fuzz"

rm -rf "$out/seeds"
python3 "$root/tests/fuzz/make_seeds.py" "$out/seeds"

echo "Fuzzing the ZIP reader for $seconds seconds..."
cd "$out"
status=0
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./zipreader_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=64 \
  -max_len=8192 -dict="$root/tests/fuzz/zip.dict" -print_final_stats=1 \
  "$corpus" "$out/seeds" >"$out/fuzz.log" 2>&1 || status=$?
grep -E "^Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb" "$out/fuzz.log" || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$out/fuzz.log"
  echo "The fuzzer failed (exit status $status); see $out/fuzz.log" >&2
  exit "$status"
fi
echo "Fuzzing found nothing; corpus: $(find "$corpus" -type f | wc -l) inputs"
