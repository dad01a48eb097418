#!/usr/bin/env bash
# Every test: the normal build with the layout check (clang-format), the Debian package made from
# it and checked, the AddressSanitizer + UndefinedBehaviorSanitizer build, short fuzz runs, and the
# Windows build and its archive under Wine. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Most tests wait on simulated devices and on time-outs rather than on the processor: twice as
# many at once as there are cores.
test_jobs=$((2 * jobs))
export QT_QPA_PLATFORM=offscreen
# Each stage's wall time, for the log.
stage_start=$SECONDS
stage() {
  echo "(${1:-stage} done after $((SECONDS - stage_start)) s in all)"
}

echo "== build and test: default"
"$root/scripts/setup.sh" --tests "$root/build/default" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTOR_WERROR=ON
"$root/scripts/check_format.sh"
ctest --test-dir "$root/build/default" -j"$test_jobs" --output-on-failure
stage default

echo "== package: build, lintian, desktop entries, the extracted programs"
"$root/scripts/package_tests.sh"
stage package

echo "== build and test: address and undefined-behaviour sanitizers"
"$root/scripts/setup.sh" "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DVANTOR_WERROR=ON \
  -DVANTOR_SANITIZE=address,undefined -DVANTOR_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build/asan" -j"$test_jobs" --output-on-failure
stage sanitizers

echo "== fuzz: short runs"
CXX=clang++-14 "$root/scripts/setup.sh" "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTOR_FUZZ=ON -DVANTOR_GUI=OFF -DVANTOR_TESTS=OFF -DVANTOR_BENCH=OFF \
  -DVANTOR_SANITIZE=address,undefined
ctest --test-dir "$root/build/fuzz" -j"$jobs" --output-on-failure
stage fuzz

if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
   [[ -x "$root/scripts/wine_tests.sh" ]]; then
  echo "== Windows build under Wine"
  "$root/scripts/wine_tests.sh"
  stage Windows
fi
