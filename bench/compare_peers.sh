#!/usr/bin/env bash
# Times tandemtree against two neighbour-joining tools from Debian's packages
# (clearcut -N, exact neighbour joining, and quicktree) on the same simulated
# tandem families, side by side in one run, and prints the ratios.
#
#   bench/compare_peers.sh [BUILD_DIR] [SIZES...]      (default: build 2000 4000)
#
# Installs clearcut and quicktree with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(2000 4000)
length=500

missing=()
command -v clearcut >/dev/null 2>&1 || missing+=(clearcut)
command -v quicktree >/dev/null 2>&1 || missing+=(quicktree)
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q "${missing[@]}" >/dev/null
fi
[ -x "$build/tandemtree" ] && [ -x "$build/make_family" ] || cmake --build "$build" -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() {  # runs a command, prints its wall-clock seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for n in "${sizes[@]}"; do
  "$build/make_family" "$n" "$length" 7 dna native >"$work/family.txt"
  "$build/make_family" "$n" "$length" 7 dna fasta >"$work/family.fa"
  "$build/make_family" "$n" "$length" 7 dna stockholm >"$work/family.sto"
  ours3=$(seconds "$build/tandemtree" "$work/family.txt" N 3)
  ours2=$(seconds "$build/tandemtree" "$work/family.txt" N 2)
  clear=$(seconds clearcut -N -D -a -i "$work/family.fa" -o "$work/clearcut.tree")
  quick=$(seconds sh -c "quicktree -in a '$work/family.sto' > '$work/quicktree.tree'")
  printf 'n=%d L=%d: tandemtree criterion 3 %s s, criterion 2 %s s; clearcut -N %s s (%sx ours); quicktree %s s (%sx ours)\n' \
    "$n" "$length" "$ours3" "$ours2" "$clear" "$(ratio "$clear" "$ours3")" "$quick" "$(ratio "$quick" "$ours3")"
done
