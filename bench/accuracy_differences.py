#!/usr/bin/env python3
"""Paired differences of the accuracy benchmark (the TSV of
tandemtree_accuracy): per cell and criterion, refined minus unrefined rooted
RF (mean over the same histories), refined minus unrefined true-block recall
(pooled over the cell, with its standard error over the histories: at 12
copies one true block is about a point), refined unrooted RF minus neighbour
joining's, and
the share of exact trees with and without the root rule. Prints a Markdown
table.

    bench/accuracy_differences.py accuracy.tsv
"""
import csv
import math
import sys
from collections import defaultdict


def main():
    rows = defaultdict(dict)  # (cell, replicate) -> method -> row
    for row in csv.DictReader(open(sys.argv[1]), delimiter="\t"):
        cell = (int(row["n"]), int(row["length"]), float(row["divergence"]), row["kind"])
        rows[(cell, int(row["replicate"]))][row["method"]] = row
    cells = sorted({key[0] for key in rows}, key=lambda c: (c[3] != "dna", c[0], c[1], c[2]))
    print("| n | L | div | kind | criterion | RF refined - plain | recall refined - plain (± s.e.) | uRF refined - NJ "
          "| exact: plain, refined, refined without root rule |")
    print("|---|---|---|---|---|---|---|---|---|")
    totals = defaultdict(lambda: [0.0, 0, 0, 0, 0, 0.0, 0])
    for cell in cells:
        histories = [methods for (c, _), methods in rows.items() if c == cell]
        for criterion in (1, 2, 3):
            plain, refined, kept = f"criterion {criterion}", f"{criterion} + refine", f"{criterion} + refine, no root"
            pairs = [m for m in histories if plain in m and refined in m]
            if not pairs:
                continue
            rf = sum(float(m[refined]["rooted_rf"]) - float(m[plain]["rooted_rf"]) for m in pairs) / len(pairs)
            true_blocks = sum(int(m[plain]["true_blocks"]) for m in pairs)
            found = [int(m[refined]["matched_blocks"]) - int(m[plain]["matched_blocks"]) for m in pairs]
            recall = sum(found) / true_blocks if true_blocks else 0.0
            spread = (math.sqrt(sum((f - sum(found) / len(found)) ** 2 for f in found) / (len(found) - 1))
                      if len(found) > 1 else 0.0)
            error = spread * math.sqrt(len(found)) / true_blocks if true_blocks else 0.0
            nj = [m for m in pairs if "NJ (clearcut -N)" in m]
            urf = (sum(float(m[refined]["unrooted_rf"]) - float(m["NJ (clearcut -N)"]["unrooted_rf"]) for m in nj)
                   / len(nj)) if nj else float("nan")
            exact = [sum(int(m[k]["exact"]) for m in pairs) / len(pairs) for k in (plain, refined, kept)]
            print(f"| {cell[0]} | {cell[1]} | {cell[2]:g} | {cell[3]} | {criterion} | {rf:+.3f} | {recall:+.3f} ± {error:.3f} "
                  f"| {urf:+.3f} | {exact[0]:.2f}, {exact[1]:.2f}, {exact[2]:.2f} |")
            t = totals[criterion]
            t[0] += rf * len(pairs); t[1] += len(pairs)
            t[2] += sum(found)
            t[3] += true_blocks
            t[4] += sum(float(m[refined]["rooted_rf"]) < float(m[plain]["rooted_rf"]) for m in pairs)
            t[5] += sum(exact[1] - exact[2] for _ in [0]) * len(pairs)
            t[6] += len(pairs)
    print()
    for criterion, t in sorted(totals.items()):
        print(f"- criterion {criterion}: rooted RF {t[0] / t[1]:+.3f} on average, block recall {t[2] / t[3]:+.3f}, "
              f"refined tree closer to the truth in {t[4]} of {t[1]} histories; the root rule adds "
              f"{t[5] / t[6]:+.3f} to the share of exact trees")


if __name__ == "__main__":
    main()
