#!/usr/bin/env bash
# scrivlet --pdf's peak memory against the size of the document it prints,
# for two 64 MiB texts made here: one line of words without a line end, and
# ordinary lines (RFC 2616 over and over, page breaks and all). Reports the
# peak resident size /usr/bin/time sees and its ratio to the document.
#   bench/pdf_memory_bench.sh [path/to/scrivlet] [RFC text to repeat]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
scrivlet_install time
program=${1:-$SCRIVLET_ROOT/build-release/app/scrivlet}
source_text=${2:-$SCRIVLET_ROOT/../shared/rfcs/rfc2616.txt}
[ -x "$program" ] || { echo "no program at $program (scripts/run builds it)" >&2; exit 1; }
program=$(realpath "$program")
source_text=$(realpath "$source_text")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
size=$((64 << 20))

yes -- 'lorem' | tr '\n' ' ' | head -c "$size" >oneline.txt || true
while [ "$(stat -c %s lines.txt 2>/dev/null || echo 0)" -lt "$size" ]; do cat "$source_text" >>lines.txt; done
truncate -s "$size" lines.txt

for name in oneline lines; do
  # The program's settings, library and runtime folder stay in the work folder.
  /usr/bin/time -f '%M' -o "$name.peak" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" \
    XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config" "$program" --pdf "$name.pdf" "$name.txt" >/dev/null 2>&1 ||
    { echo "failed: $name" >&2; exit 1; }
  peak=$(tail -n 1 "$name.peak")
  awk -v n="$name" -v p="$peak" -v s="$size" \
    'BEGIN { printf "%-8s 64 MiB  peak %7d KB  %.1fx the document (goal: 4x)\n", n, p, p * 1024 / s }'
done
