#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# for a bounded time over freshly made seeds: scripts/fuzz.sh [SECONDS_EACH] [TARGET...]
#   zipreader    the ZIP reader that checks an archive after it was written
#   capturedate  the capture-date reader as the helper program runs it, within its time limit
#   settings     the settings file: read, one key changed, written, read back
#   naming       the naming as the move pass uses it: no file outside the destination folder
# Exits non-zero when a fuzzer finds a crash, a hang, a leak or a broken promise; the input that did it is
# left in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-15}
shift || true
targets=("${@:-zipreader capturedate settings naming}")
read -r -a targets <<<"${targets[*]}"
out="$root/build-fuzz"
mkdir -p "$out"
cd "$out"
# What the targets write goes here, and goes when the script ends, however it ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovaro-fuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TOVARO_FUZZ_SCRATCH="$scratch"

platform=("$root"/platform/*.cpp)
transfer=()  # the transfer engine without the capture-date parser and its helper program, which need Exiv2
for file in "$root"/transfer/*.cpp; do
  case $file in */CaptureDate.cpp | */CaptureDateHelper.cpp) ;; *) transfer+=("$file") ;; esac
done
declare -A sources=(
  [zipreader]="$root/tests/fuzz/ZipReaderFuzz.cpp $root/zip/ZipReader.cpp"
  [capturedate]="$root/tests/fuzz/CaptureDateFuzz.cpp $root/transfer/CaptureDate.cpp -Wno-deprecated-declarations $(pkg-config --cflags --libs exiv2)"
  [settings]="$root/tests/fuzz/SettingsFuzz.cpp $root/settings/SettingsFile.cpp"
  [naming]="$root/tests/fuzz/NamingFuzz.cpp ${transfer[*]} $root/settings/SettingsFile.cpp $root/zip/*.cpp"
)
# What each target reads at most, and how long one input may take: the capture-date reader's limit is the
# helper program's.
declare -A flags=(
  [zipreader]="-max_len=8192 -timeout=10 -dict=$root/tests/fuzz/zip.dict"
  [capturedate]="-max_len=16384 -timeout=5"
  [settings]="-max_len=2048 -timeout=10"
  [naming]="-max_len=512 -timeout=10"
)

status=0
for target in "${targets[@]}"; do
  echo "Building the fuzz target $target..."
  # shellcheck disable=SC2086 # the lists are words
  clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined -I"$root" ${sources[$target]} "${platform[@]}" -lz -lisal -lpthread -o "$target"_fuzz
  corpus="$root/tests/fuzz/corpus-$target"  # grows from run to run; not committed
  mkdir -p "$corpus"
  rm -rf "seeds-$target"
  TOVARO_CLI="$root/build/cli/tovaro-cli" python3 "$root/tests/fuzz/make_seeds.py" "seeds-$target" "$target"
  echo "Fuzzing $target for $seconds seconds..."
  # shellcheck disable=SC2086
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ./"$target"_fuzz -max_total_time="$seconds" -rss_limit_mb=2560 -malloc_limit_mb=2048 \
    ${flags[$target]} -print_final_stats=1 "$corpus" "seeds-$target" >"$target.log" 2>&1 || {
    status=$?
    tail -n 60 "$target.log"
    echo "The fuzzer of $target failed (exit status $status); see $out/$target.log" >&2
    continue
  }
  grep -E "^Done [0-9]+ runs|stat::number_of_executed_units" "$target.log" || true
  echo "Fuzzing $target found nothing; corpus: $(find "$corpus" -type f | wc -l) inputs"
done
exit "$status"
