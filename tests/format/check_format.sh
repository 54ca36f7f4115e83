#!/usr/bin/env bash
# Fails when a C++ file of the tree is not as the project's .clang-format
# writes it, naming each such file. Usage: check_format.sh <source root>
set -u
root=${1:?usage: check_format.sh <source root>}
cd "$root" || exit 2
command -v clang-format >/dev/null || { echo "clang-format is not installed"; exit 2; }
mapfile -t files < <(find app bench fuzz library net platform print settings tests version \
  -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
[ ${#files[@]} -gt 0 ] || { echo "no sources under $root"; exit 2; }
# One run over all files; each misplaced piece is reported as "file:line:col: error: ...".
out=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) && exit 0
grep -oE '^[^:]+:[0-9]+' <<<"$out" | awk -F: '!seen[$1]++ { print $0 ": first line not as .clang-format writes it" }'
exit 1
