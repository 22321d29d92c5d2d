#!/usr/bin/env bash
# Installs what is missing, builds Tovaro and runs the whole test suite: once as a normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets for a bounded time each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test

jobs=$(nproc)
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

echo "== Layout of the sources (clang-format) =="
(cd "$root" && git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror)

echo "== Build and test =="
"$root/scripts/build.sh" "$root/build" -DTOVARO_WERROR=$werror -DTOVARO_BUILD_BENCH=ON
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer =="
"$root/scripts/build.sh" "$root/build-sanitize" -DTOVARO_WERROR=$werror -DTOVARO_SANITIZE=ON -DTOVARO_BUILD_BENCH=OFF
(cd "$root/build-sanitize" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

if [ -x "$root/scripts/fuzz.sh" ]; then
  echo "== Fuzz the ZIP reader, the capture-date reader, the settings file and the naming =="
  "$root/scripts/fuzz.sh" "${TOVARO_FUZZ_SECONDS:-15}"
fi
