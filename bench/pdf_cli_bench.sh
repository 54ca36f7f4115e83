#!/usr/bin/env bash
# scrivlet --pdf as a whole process against the common text-to-PDF road of
# enscript piped into ps2pdf (Debian's enscript and ghostscript), on the same
# text. Reports the median wall time and the median CPU time (user + system,
# which other load on the machine disturbs less) of each, their ratio, and the
# program's peak memory.
#   bench/pdf_cli_bench.sh [path/to/scrivlet] [text file] [runs]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
scrivlet_install enscript ghostscript time
program=${1:-$SCRIVLET_ROOT/build-release/app/scrivlet}
text=${2:-$SCRIVLET_ROOT/../shared/rfcs/rfc2616.txt}
runs=${3:-7}
[ -x "$program" ] || { echo "no program at $program (scripts/run builds it)" >&2; exit 1; }
program=$(realpath "$program")
text=$(realpath "$text")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# measure <name> <command>: runs it $runs times under /usr/bin/time.
measure() {
  local name=$1 command=$2 i
  : >"$name.times"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %U %S %M' -a -o "$name.times" sh -c "$command" >/dev/null 2>&1 ||
      { echo "failed: $command" >&2; exit 1; }
  done
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

measure scrivlet "'$program' --pdf scrivlet.pdf '$text'"
measure enscript "enscript -q -B -f Courier10 -o - '$text' | ps2pdf - enscript.pdf"

for name in scrivlet enscript; do
  wall=$(awk '{ print $1 }' "$name.times" | median)
  cpu=$(awk '{ print $2 + $3 }' "$name.times" | median)
  peak=$(awk '{ print $4 }' "$name.times" | sort -n | tail -n 1)
  printf '%-9s wall %6.3f s  cpu %6.3f s  peak %6d KB\n' "$name" "$wall" "$cpu" "$peak"
  eval "${name}_wall=$wall ${name}_cpu=$cpu"
done
echo "pages: scrivlet $(pdfinfo scrivlet.pdf | awk '/^Pages/ { print $2 }'), enscript $(pdfinfo enscript.pdf | awk '/^Pages/ { print $2 }')"
awk -v a="$scrivlet_wall" -v b="$enscript_wall" -v c="$scrivlet_cpu" -v d="$enscript_cpu" \
  'BEGIN { printf "ratio scrivlet/enscript: wall %.2fx, cpu %.2fx (goal: at most 0.6x)\n", a / b, c / d }'
