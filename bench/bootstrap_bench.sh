#!/usr/bin/env bash
# Times the bootstrap on simulated families, side by side with quicktree's
# own bootstrap (neighbour joining, from Debian's packages) on the same
# alignment, in one run:
#   n=200, L=500, criterion 3, 1000 replicates on 2 threads;
#   n=100, L=500, criterion 1, 100 replicates on 2 threads.
#
#   bench/bootstrap_bench.sh [BUILD_DIR]
#
# Installs quicktree with apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if ! command -v quicktree >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q quicktree >/dev/null
fi
[ -x "$build/tandemtree" ] && [ -x "$build/make_family" ] || cmake --build "$build" -j 2 >/dev/null

# shellcheck source=bench/measure.sh
. bench/measure.sh

"$build/make_family" 200 500 7 dna native >"$work/n200.txt"
"$build/make_family" 200 500 7 dna stockholm >"$work/n200.sto"
"$build/make_family" 100 500 7 dna native >"$work/n100.txt"
"$build/make_family" 100 500 7 dna stockholm >"$work/n100.sto"
measure "n=200 L=500 criterion 3, 1000 replicates, 2 threads" \
  "$build/tandemtree" "$work/n200.txt" N 3 --bootstrap 1000 --threads 2
measure "n=200 L=500 quicktree -boot 1000 (1 thread)" quicktree -in a -boot 1000 "$work/n200.sto"
measure "n=100 L=500 criterion 1, 100 replicates, 2 threads" \
  "$build/tandemtree" "$work/n100.txt" N 1 --bootstrap 100 --threads 2
measure "n=100 L=500 quicktree -boot 100 (1 thread)" quicktree -in a -boot 100 "$work/n100.sto"
measure "n=200 L=500 criterion 3, 1000 replicates, 1 thread" \
  "$build/tandemtree" "$work/n200.txt" N 3 --bootstrap 1000 --threads 1
