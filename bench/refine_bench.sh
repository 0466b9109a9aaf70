#!/usr/bin/env bash
# Times the refinement (--refine, --kicks 64, --rebuilds 64, both, and both
# with --ratchet 16) from each criterion on simulated histories of 100 and
# 500 copies (L=500, divergence 0.1 from the root, seed 5) and on the 165
# alpha-satellite monomers of the examples, one thread, and the costliest
# real case again on two threads.
#
#   bench/refine_bench.sh [BUILD_DIR]        (REAL=0 leaves out the real array)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
real=${REAL:-1}
[ -x "$build/tandemtree" ] && [ -x "$build/simulate_history" ] || cmake --build "$build" -j 2 >/dev/null

# shellcheck source=bench/measure.sh
. bench/measure.sh

searches=("--refine" "--kicks 64" "--rebuilds 64" "--kicks 64 --rebuilds 64" "--kicks 64 --rebuilds 64 --ratchet 16")
for n in 100 500; do
  "$build/simulate_history" --copies "$n" --length 500 --divergence 0.1 --seed 5 "$work/sim$n" >/dev/null
  for criterion in 1 2 3; do
    for search in "${searches[@]}"; do
      # shellcheck disable=SC2086
      measure "n=$n criterion $criterion $search" "$build/tandemtree" --threads 1 $search "$work/sim$n.fa" N "$criterion"
    done
  done
done
[ "$real" = 1 ] || exit 0
alphasat=examples/human_chrX_58506832-58535063_p171_alphasat.txt
for criterion in 2 3; do
  for search in "${searches[@]}"; do
    # shellcheck disable=SC2086
    measure "alpha-satellite criterion $criterion $search" "$build/tandemtree" --threads 1 $search "$alphasat" N "$criterion"
  done
done
measure "alpha-satellite criterion 2 --rebuilds 64, 2 threads" "$build/tandemtree" --threads 2 --rebuilds 64 "$alphasat" N 2
