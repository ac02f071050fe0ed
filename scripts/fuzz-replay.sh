#!/usr/bin/env bash
# Builds every libFuzzer target (clang, ASan+UBSan) into ./build-fuzz and runs each once over its seed corpus
# (fuzz/corpus/<target>), so a target that no longer compiles, or a seed that now crashes, fails the run.
# A target without seeds fails too: every parser keeps real inputs beside its fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target fuzz_all

status=0
while read -r target; do
  [ -n "$target" ] || continue
  seeds=fuzz/corpus/$target
  if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    echo "fuzz-replay.sh: $target has no seeds in $seeds" >&2
    status=1
    continue
  fi
  if ./build-fuzz/fuzz/"$target" -runs=0 "$seeds" >build-fuzz/fuzz/"$target".replay.log 2>&1; then
    echo "$target: $(ls "$seeds" | wc -l) seeds replayed"
  else
    cat build-fuzz/fuzz/"$target".replay.log >&2
    echo "fuzz-replay.sh: $target failed on its seeds" >&2
    status=1
  fi
done <build-fuzz/fuzz/targets.txt
exit $status
