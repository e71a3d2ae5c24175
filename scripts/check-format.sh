#!/usr/bin/env bash
# Fails when a C++ source differs from the committed .clang-format style; prints the places.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t sources < <(git ls-files -- '*.cpp' '*.h' | while read -r file; do [ -f "$file" ] && echo "$file"; done)
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "Formatting differs from .clang-format; fix it with: clang-format -i FILE..." >&2
  exit 1
fi
