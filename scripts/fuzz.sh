#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (FUZZ_SECONDS, default 60) from its
# seed corpus, when Clang's libFuzzer is at hand; says so and succeeds when it
# is not. A crash, a sanitizer report, a leak or an input slower than
# FUZZ_TIMEOUT seconds fails the run and leaves the input in build/fuzz.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
SECONDS_EACH="${FUZZ_SECONDS:-60}"
TIMEOUT="${FUZZ_TIMEOUT:-30}"
JOBS="${JOBS:-$(nproc)}"

probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
  >"$probe/probe.cpp"
if ! command -v clang++ >/dev/null 2>&1 ||
   ! clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
  echo "fuzz: no Clang with libFuzzer here; fuzzing skipped"
  exit 0
fi

BUILD=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROVANTA_FUZZ=ON -DROVANTA_TESTS=OFF -DROVANTA_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzz_settings fuzz_side_loader fuzz_render

for target in settings side_loader render; do
  work="$BUILD/corpus/$target"
  mkdir -p "$work"
  echo "fuzz: $target for ${SECONDS_EACH}s"
  # New finds go to the scratch corpus; the seeds in the tree are only read.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/tools/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -timeout="$TIMEOUT" \
      -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$BUILD/$target-" \
      "$work" "tools/fuzz/corpus/$target" 2>"$BUILD/$target.log" ||
    { tail -n 60 "$BUILD/$target.log"; echo "fuzz: $target FAILED"; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$BUILD/$target.log" | tr '\n' ' '
  echo
done
