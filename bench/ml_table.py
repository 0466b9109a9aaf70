#!/usr/bin/env python3
"""Tables of the likelihood search from the TSV of tandemtree_accuracy run
with --ml (and --iqtree): per cell, criterion 1 refined and searched by
likelihood, the baselines, seconds per history, and the share of searches
that end at least as likely as the true tree (ml_gain >= -0.01); then the
totals per method. Markdown, for docs/accuracy.md.

    bench/ml_table.py accuracy-ml.tsv
"""
import csv
import math
import sys
from collections import OrderedDict, defaultdict


def mean(values):
    values = [v for v in values if not math.isnan(v)]
    return sum(values) / len(values) if values else float("nan")


def main():
    rows = list(csv.DictReader(open(sys.argv[1]), delimiter="\t"))
    cells = OrderedDict()
    for row in rows:
        cells.setdefault((row["n"], row["length"], row["divergence"], row["kind"]), []).append(row)

    def of(rs, method, key):
        return mean([float(r[key]) for r in rs if r["method"] == method])

    print("| n | L | div | kind | RF refined | RF ML | exact refined | exact ML | uRF refined | uRF ML | uRF NJ "
          "| uRF IQ-TREE | s refined | s ML | s IQ-TREE | ML at least the truth |")
    print("|" + "---|" * 16)
    for (n, length, divergence, kind), rs in cells.items():
        gains = [float(r["ml_gain"]) for r in rs if r["method"].endswith("+ ML")]
        share = sum(g >= -0.01 for g in gains) / len(gains) if gains else float("nan")
        refined = of(rs, "1 + refine", "seconds")
        print("| %s | %s | %s | %s | %.3f | %.3f | %.2f | %.2f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f |"
              % (n, length, divergence, kind, of(rs, "1 + refine", "rooted_rf"), of(rs, "1 + ML", "rooted_rf"),
                 of(rs, "1 + refine", "exact"), of(rs, "1 + ML", "exact"), of(rs, "1 + refine", "unrooted_rf"),
                 of(rs, "1 + ML", "unrooted_rf"), of(rs, "NJ (clearcut -N)", "unrooted_rf"),
                 of(rs, "IQ-TREE ML", "unrooted_rf"), refined, of(rs, "1 + ML", "seconds") - refined,
                 of(rs, "IQ-TREE ML", "seconds"), share))
    print()
    print("| method | histories | exact | rooted RF | block recall | unrooted RF | seconds per history |")
    print("|---|---|---|---|---|---|---|")
    methods = OrderedDict((r["method"], None) for r in rows)
    for method in methods:
        rs = [r for r in rows if r["method"] == method]
        true_blocks = sum(int(r["true_blocks"]) for r in rs)
        recall = sum(int(r["matched_blocks"]) for r in rs) / true_blocks if true_blocks else float("nan")
        rooted = mean([float(r["rooted_rf"]) for r in rs])
        if math.isnan(rooted):  # an unrooted baseline
            print("| %s | %d | - | - | - | %.3f | %.3f |"
                  % (method, len(rs), mean([float(r["unrooted_rf"]) for r in rs]),
                     mean([float(r["seconds"]) for r in rs])))
            continue
        print("| %s | %d | %.3f | %.3f | %.2f | %.3f | %.3f |"
              % (method, len(rs), mean([float(r["exact"]) for r in rs]), rooted, recall,
                 mean([float(r["unrooted_rf"]) for r in rs]), mean([float(r["seconds"]) for r in rs])))
    gains = [float(r["ml_gain"]) for r in rows if r["method"].endswith("+ ML")]
    if gains:
        print()
        print("Searches at least as likely as the true tree (ml_gain >= -0.01): %.1f %% of %d; worst %.2f"
              % (100 * sum(g >= -0.01 for g in gains) / len(gains), len(gains), min(gains)))


if __name__ == "__main__":
    main()
