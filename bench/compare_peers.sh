#!/usr/bin/env bash
# Times tandemtree against tree builders from Debian's packages (clearcut -N,
# exact neighbour joining; quicktree; FastTree without its refinements) on
# the same simulated tandem families, side by side in one run, with the peak
# memory of each, and prints the ratios to criterion 3 on 1 and 2 threads.
#
#   bench/compare_peers.sh [BUILD_DIR] [SIZES...]      (default: build 2000 4000)
#
# LENGTH (default 500) sets the alignment length, PEERS=0 times tandemtree
# alone. RUNS=N (default 1) runs criterion 3 on 1 and 2 threads and clearcut
# N times each, in turn, and gives the medians, with the ratio of every run:
# on a shared machine one run of each can mislead. Installs clearcut,
# quicktree and fasttree with apt-get when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(2000 4000)
length=${LENGTH:-500}
peers=${PEERS:-1}
runs=${RUNS:-1}

missing=()
command -v clearcut >/dev/null 2>&1 || missing+=(clearcut)
command -v quicktree >/dev/null 2>&1 || missing+=(quicktree)
command -v fasttree >/dev/null 2>&1 || command -v FastTree >/dev/null 2>&1 || missing+=(fasttree)
if [ "$peers" = 1 ] && [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q "${missing[@]}" >/dev/null
fi
[ -x "$build/tandemtree" ] && [ -x "$build/make_family" ] || cmake --build "$build" -j 2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fasttree=$(command -v fasttree || command -v FastTree || true)

measure() {  # runs a command, prints "SECONDS s, PEAK MB"
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.2f s, %.0f MB", $1, $2 / 1024 }' "$work/time"
}
secondsOf() { awk '{ print $1 }' "$work/time"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for n in "${sizes[@]}"; do
  "$build/make_family" "$n" "$length" 7 dna native >"$work/family.txt"
  "$build/make_family" "$n" "$length" 7 dna fasta >"$work/family.fa"
  "$build/make_family" "$n" "$length" 7 dna stockholm >"$work/family.sto"
  echo "n=$n L=$length"
  if [ "$runs" -gt 1 ]; then
    # Runs of each taken in turn; the medians, and two threads against
    # clearcut run by run.
    : >"$work/runs"
    for ((i = 1; i <= runs; i++)); do
      measure "$build/tandemtree" --threads 1 "$work/family.txt" N 3 >/dev/null; a=$(secondsOf)
      measure "$build/tandemtree" --threads 2 "$work/family.txt" N 3 >/dev/null; b=$(secondsOf)
      c=0
      if [ "$peers" = 1 ]; then
        measure clearcut -N -D -a -i "$work/family.fa" -o "$work/clearcut.tree" >/dev/null; c=$(secondsOf)
      fi
      echo "$a $b $c" >>"$work/runs"
    done
    median() { cut -d' ' -f"$1" "$work/runs" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
    t1=$(median 1); t2=$(median 2); tc=$(median 3)
    echo "  tandemtree criterion 3, 1 thread:  median $t1 s of $runs runs"
    echo "  tandemtree criterion 3, 2 threads: median $t2 s of $runs runs"
    if [ "$peers" = 1 ]; then
      each=$(awk '{ printf "%s%.2f", (NR > 1 ? " " : ""), $2 / $3 }' "$work/runs")
      echo "  clearcut -N:                       median $tc s (criterion 3 takes $(ratio "$t1" "$tc")x on 1 thread, $(ratio "$t2" "$tc")x on 2; on 2 run by run: $each)"
    fi
    continue
  fi
  one=$(measure "$build/tandemtree" --threads 1 "$work/family.txt" N 3); t1=$(secondsOf)
  two=$(measure "$build/tandemtree" --threads 2 "$work/family.txt" N 3); t2=$(secondsOf)
  echo "  tandemtree criterion 3, 1 thread:  $one"
  echo "  tandemtree criterion 3, 2 threads: $two"
  echo "  tandemtree criterion 2, 2 threads: $(measure "$build/tandemtree" --threads 2 "$work/family.txt" N 2)"
  [ "$peers" = 1 ] || continue
  clear=$(measure clearcut -N -D -a -i "$work/family.fa" -o "$work/clearcut.tree"); tc=$(secondsOf)
  echo "  clearcut -N:                       $clear (criterion 3 takes $(ratio "$t1" "$tc")x on 1 thread, $(ratio "$t2" "$tc")x on 2)"
  echo "  quicktree:                         $(measure sh -c "quicktree -in a '$work/family.sto' > '$work/quicktree.tree'")"
  if [ -n "$fasttree" ]; then
    echo "  FastTree -noml -nome:              $(measure "$fasttree" -nt -noml -nome -quiet -out "$work/fasttree.tree" "$work/family.fa")"
  fi
done
