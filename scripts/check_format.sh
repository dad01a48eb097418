#!/usr/bin/env bash
# Checks that every C++ file of the tree is laid out as .clang-format says (clang-format 14, the
# one Debian 12 ships). Lists the files that differ; `--fix` rewrites them instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z "$format" ]]; then
  echo "check_format: clang-format is not installed" >&2
  exit 2
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == "--fix" ]]; then
  "$format" -i "${files[@]}"
  exit 0
fi
mapfile -t bad < <("$format" --dry-run "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: .*/\1/p' |
  sort -u)
if (( ${#bad[@]} )); then
  echo "check_format: not laid out as .clang-format says (scripts/check_format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files laid out as .clang-format says"
