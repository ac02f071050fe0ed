#!/usr/bin/env bash
# Each case puts one wrong use into a fresh copy of the platform folder; the check must fail and name the
# file and line of it. A use that runs down the layers must pass.
# Usage: check_layers_test.sh CHECK_SCRIPT PLATFORM_FOLDER
set -euo pipefail
check=$1
source_platform=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# case: file (relative to the platform folder), the line to append, expected exit code, expected text
run_case() {
  local file=$1 text=$2 want=$3 expect=$4
  rm -rf "$work/platform"
  cp -r "$source_platform" "$work/platform"
  printf '%s\n' "$text" >>"$work/platform/$file"
  local line
  line=$(wc -l <"$work/platform/$file")
  local output code=0
  output=$("$check" "$work/platform" 2>&1) || code=$?
  expect=${expect//@LINE@/$line}
  if [ "$code" != "$want" ] || ! grep -qF -- "$expect" <<<"$output"; then
    echo "FAIL: $file + '$text': exit $code (wanted $want), output lacks '$expect':"
    echo "$output"
    failures=$((failures + 1))
  fi
}

run_case machine/include/qv_machine.h '#include "windows.h"' 1 \
  'platform/machine/include/qv_machine.h:@LINE@: includes "windows.h" of the win layer'
run_case machine/src/machine.cpp '#include <wbemcli.h>' 1 \
  'platform/machine/src/machine.cpp:@LINE@: includes "wbemcli.h" of the wbem layer'
run_case win/src/files.cpp '#include "qv_com_runtime.h"' 1 \
  'platform/win/src/files.cpp:@LINE@: includes "qv_com_runtime.h" of the com layer'
run_case com/src/bstr.cpp '#include "../../wbem/src/by_value.h"' 1 \
  'platform/com/src/bstr.cpp:@LINE@: includes "../../wbem/src/by_value.h" of the wbem layer'
run_case machine/CMakeLists.txt 'target_link_libraries(qv_machine PUBLIC qv_win)' 1 \
  'platform/machine/CMakeLists.txt:@LINE@: names target qv_win of the win layer'
run_case com/CMakeLists.txt 'target_include_directories(qv_com PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/../wbem/include)' 1 \
  'platform/com/CMakeLists.txt:@LINE@: names a folder of the wbem layer'
# Down the layers, and an upper name in a comment, are fine.
run_case wbem/src/locator.cpp '#include "qv_machine.h"' 0 'the platform layers are in line'
run_case machine/CMakeLists.txt '# qv_wbem is above this layer' 0 'the platform layers are in line'

if [ "$failures" -gt 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "every case passed"
