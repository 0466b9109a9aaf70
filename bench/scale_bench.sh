#!/usr/bin/env bash
# The accurate searches at thousands of copies, against the goals of the
# scale work: criterion 2 with --kicks 64 --rebuilds 64 at 1,000 copies and
# --refine at 2,000 (two threads); kicks and rebuilds at 500 copies and on the
# alpha-satellite monomers on one thread and on two, and the ratchet the
# same, with the speed-up of the second thread. Simulated histories: L = 500,
# divergence 0.1 from the root, seed 5. Criterion 3 against clearcut is in
# compare_peers.sh.
#
#   bench/scale_bench.sh [BUILD_DIR]
#
# RUNS=N runs each one-against-two comparison N times in turn and gives the
# medians: on a shared machine one run of each can mislead. QUICK=1 leaves
# out the runs of more than 1,000 copies. BIG=1 adds a
# simulated monomer array of 5,000 copies (L = 171, seed 5000) refined with
# 2 --kicks 16 --rebuilds 16 beside criterion 2 alone: time, peak memory and
# rooted RF against the true history (about six minutes on two cores).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x "$build/tandemtree" ] && [ -x "$build/simulate_history" ] && [ -x "$build/tree_distance" ] || cmake --build "$build" -j 2 >/dev/null

# shellcheck source=bench/measure.sh
. bench/measure.sh

seconds() { sed -n 's/.*: \([0-9.]*\) s,.*/\1/p'; }
speedup() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

runs=${RUNS:-1}

# One thread against two on the same run; with RUNS=N, N times each in turn,
# the medians and the speed-up of every run.
threads() {
  local label=$1
  shift
  local one two i
  if [ "$runs" -le 1 ]; then
    one=$(measure "$label, 1 thread" "$build/tandemtree" --threads 1 "$@")
    two=$(measure "$label, 2 threads" "$build/tandemtree" --threads 2 "$@")
    echo "$one"
    echo "$two (speed-up $(speedup "$(echo "$one" | seconds)" "$(echo "$two" | seconds)"))"
    return
  fi
  : >"$work/runs"
  for ((i = 1; i <= runs; i++)); do
    one=$(measure "$label, 1 thread" "$build/tandemtree" --threads 1 "$@" | seconds)
    two=$(measure "$label, 2 threads" "$build/tandemtree" --threads 2 "$@" | seconds)
    echo "$one $two" >>"$work/runs"
  done
  one=$(median 1)
  two=$(median 2)
  echo "$label, 1 thread: median $one s of $runs runs"
  echo "$label, 2 threads: median $two s (speed-up $(speedup "$one" "$two"); run by run:" \
    "$(awk '{ printf "%s%.2f", (NR > 1 ? " " : ""), $1 / $2 }' "$work/runs"))"
}
median() {
  cut -d' ' -f"$1" "$work/runs" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for n in 500 1000 2000; do
  "$build/simulate_history" --copies "$n" --length 500 --divergence 0.1 --seed 5 "$work/sim$n" >/dev/null
done
alphasat=examples/human_chrX_58506832-58535063_p171_alphasat.fa

threads "n=500 criterion 2 --kicks 64 --rebuilds 64" --kicks 64 --rebuilds 64 "$work/sim500.fa" N 2
threads "alpha-satellite criterion 2 --kicks 64 --rebuilds 64" --kicks 64 --rebuilds 64 "$alphasat" N 2
threads "n=500 criterion 2 --ratchet 8" --ratchet 8 "$work/sim500.fa" N 2
measure "n=1000 criterion 2 --refine, 2 threads" "$build/tandemtree" --threads 2 --refine "$work/sim1000.fa" N 2
threads "n=1000 criterion 2 --kicks 64 --rebuilds 64" --kicks 64 --rebuilds 64 "$work/sim1000.fa" N 2
[ "${QUICK:-0}" = 1 ] && exit 0
measure "n=2000 criterion 2 --refine, 2 threads" "$build/tandemtree" --threads 2 --refine "$work/sim2000.fa" N 2
[ "${BIG:-0}" = 1 ] || exit 0
"$build/simulate_history" --copies 5000 --length 171 --seed 5000 "$work/array" >/dev/null
for run in "criterion 2 alone:" "2 --kicks 16 --rebuilds 16:--kicks 16 --rebuilds 16"; do
  label=${run%%:*}
  # shellcheck disable=SC2086 # the options are words of their own
  /usr/bin/time -f "n=5000 monomers $label, 2 threads: %e s, %M KB peak" "$build/tandemtree" --threads 2 --newick \
    ${run#*:} "$work/array.fa" N 2 >"$work/tree.nwk" 2>"$work/time" </dev/null || true
  echo "$(tail -n 1 "$work/time"), $("$build/tree_distance" "$work/array.nwk" "$work/tree.nwk")"
done
