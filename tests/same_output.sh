#!/bin/sh
# Two builds of the tool must write the same bytes: every bundled example with
# all criteria, in every output form, and simulated families long enough for
# the widest vector loops.
#
#   same_output.sh TOOL OTHER_TOOL MAKE_FAMILY EXAMPLES_DIR
set -eu
tool=$1 other=$2 make_family=$3 examples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_family" 700 1000 11 dna native >"$work/dna.txt"
"$make_family" 120 300 12 protein fasta >"$work/protein.fa"
failed=0 checked=0
compare() {  # compare ARGS...
  checked=$((checked + 1))
  "$tool" "$@" >"$work/one" </dev/null || true
  "$other" "$@" >"$work/two" </dev/null || true
  if ! cmp -s "$work/one" "$work/two"; then
    echo "different output for: $*"
    failed=$((failed + 1))
  fi
}
for file in "$examples"/*.txt "$examples"/*.fa; do
  case $file in *MUC17* | *PRDM9*) kind=Y ;; *) kind=N ;; esac
  compare "$file" "$kind" 4
done
compare "$examples/yeast_chr1_FLO1_204225-206500_p135.fa" N 4 --newick
compare "$examples/mouse_PRDM9_W0TX95_znf_array_p28.fa" Y 4 --svg
compare "$work/dna.txt" N 2
compare "$work/dna.txt" N 3
compare "$work/protein.fa" Y 4
echo "$((checked - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
