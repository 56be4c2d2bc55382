#!/usr/bin/env bash
# Fuzzes one file's whole path for the given number of seconds:
#   tests/fuzz/run.sh <seconds> [build directory, default build-fuzz]
# Configures a clang build of its own, writes the seed corpus, then runs the
# fuzzer. Exits non-zero on any finding (a crash, a broken invariant, a leak,
# undefined behaviour, a huge allocation); the input that found it is left
# in <build>/fuzz/findings/.
set -euo pipefail

seconds=${1:?usage: run.sh <seconds> [build directory]}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(mkdir -p "${2:-$root/build-fuzz}" && cd "${2:-$root/build-fuzz}" && pwd)

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DFERNWICK_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_convert make_fuzz_seeds

work="$build/fuzz"
rm -rf "$work/seeds"
mkdir -p "$work/seeds" "$work/corpus" "$work/findings"
"$build/tests/make_fuzz_seeds" "$work/seeds"

# The corpus grows across runs in the same build directory; new inputs go
# to its first directory. No allocation may come near the input's claims:
# the copy buffer of 1 MiB is the largest the path needs.
"$build/tests/fuzz_convert" \
    -max_total_time="$seconds" \
    -max_len=4096 \
    -rss_limit_mb=1024 \
    -malloc_limit_mb=16 \
    -timeout=10 \
    -dict="$root/tests/fuzz/fda.dict" \
    -artifact_prefix="$work/findings/" \
    -print_final_stats=1 \
    "$work/corpus" "$work/seeds"
