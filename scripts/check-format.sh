#!/usr/bin/env bash
# Fails when a C++ source or header of the tree does not follow .clang-format.
# Usage: scripts/check-format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
command -v clang-format >/dev/null || { echo "clang-format is not installed" >&2; exit 1; }
# Files in batches, as many batches at once as there are cores; clang-format names
# each unformatted file in its "FILE:LINE:COL: error:" lines.
mapfile -t bad < <(printf '%s\0' "${files[@]}" |
  xargs -0 -n 40 -P "$(nproc)" clang-format --dry-run -Werror 2>&1 |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/\1/p' | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (run scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "Formatting: ${#files[@]} files follow .clang-format."
