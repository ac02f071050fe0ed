#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) into ./build-fuzz and runs one of them.
#   scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER_FLAG...]]
#   e.g. scripts/fuzz.sh fuzz_scan_codes 600
#        scripts/fuzz.sh fuzz_smbios 7200 -runs=10000000     (whichever ends first)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS [LIBFUZZER_FLAG...]]}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
./scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target "$target"
corpus=build-fuzz/corpus/$target
artifacts=build-fuzz/artifacts/$target/
mkdir -p "$corpus" "$artifacts"
seeds=fuzz/corpus/$target
[ -d "$seeds" ] || seeds=
./build-fuzz/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
  "$@" "$corpus" $seeds
