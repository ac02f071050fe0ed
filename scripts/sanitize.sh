#!/usr/bin/env bash
# Builds everything with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer into ./build-asan and
# runs the whole test suite there. Fails when a test fails or when any process of the run (tests, and the
# servers, providers and drivers they start) reported a finding: every process writes its reports to
# build-asan/sanitizer-reports/, which the script prints at the end.
#   scripts/sanitize.sh [ctest arguments...]      e.g. scripts/sanitize.sh -R com_test
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$(nproc)"

reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
# No suppressions file: the run is clean without one. Only qvpwdctl, in sanitizer builds, tells LeakSanitizer to
# leave out the process-lifetime allocations of the desktop libraries it links (qvpwdctl/sanitizer_suppressions.cpp).
# intercept_tls_get_addr=0: gcc 12's runtime takes a thread-local block that happens to start 16 bytes into a
# page for one with the header of glibc before 2.25 and reads the two words before it as an address and a
# length; LeakSanitizer's tracer then dies at exit ("Tracer caught signal 11") and the process exits 1 without a
# finding. It depends on where malloc put the block, so it strikes a few processes of a run at random.
export ASAN_OPTIONS=log_path=$reports/asan:detect_leaks=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1

status=0
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600 "$@" || status=$?

shopt -s nullglob
found=("$reports"/*)
if [ ${#found[@]} -gt 0 ]; then
  for report in "${found[@]}"; do
    echo "=== $(basename "$report")"
    cat "$report"
  done
  echo "sanitize.sh: ${#found[@]} sanitizer report(s) in $reports" >&2
  status=1
fi
exit $status
