#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it (.clang-format at the top),
# naming each such file. `scripts/check-format.sh --fix` formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format.sh: clang-format is not installed" >&2; exit 1; }

mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}" >&2
  echo "check-format.sh: ${#bad[@]} file(s) differ from clang-format; run scripts/check-format.sh --fix" >&2
  exit 1
fi
