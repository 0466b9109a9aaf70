#!/usr/bin/env python3
"""Plots the accuracy benchmark (the TSV of tandemtree_accuracy) with
matplotlib (Debian: python3-matplotlib): rooted RF, true-block recall and
unrooted RF against divergence, one column per number of copies, one line per
method (refined criteria dashed, the likelihood search dotted), DNA cells,
both alignment lengths pooled. With --realistic, the cells of the realistic
grid (copies evolved with indels, aligned by MAFFT), both gamma shapes pooled.

    bench/plot_accuracy.py accuracy.tsv docs/accuracy.png
    bench/plot_accuracy.py --realistic accuracy-realistic.tsv docs/accuracy-realistic.png
"""
import csv
import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

CRITERIA = ["criterion 1", "criterion 2", "criterion 3", "1 + refine", "2 + refine", "3 + refine", "1 + ML"]
UNROOTED = ["NJ (clearcut -N)", "IQ-TREE ML"]
METHODS = CRITERIA + UNROOTED
COLOURS = {"criterion 1": "#e6550d", "criterion 2": "#3182bd", "criterion 3": "#31a354", "NJ (clearcut -N)": "#444444",
           "1 + refine": "#e6550d", "2 + refine": "#3182bd", "3 + refine": "#31a354", "1 + ML": "#756bb1",
           "IQ-TREE ML": "#969696"}


def style(method):
    return ":" if "ML" in method and method not in UNROOTED else "--" if "refine" in method else "-"


def main():
    arguments = sys.argv[1:]
    realistic = arguments[0] == "--realistic"
    if realistic:
        arguments = arguments[1:]
    source, target = arguments[0], arguments[1]
    sums = defaultdict(lambda: [0.0, 0.0, 0, 0, 0.0, 0])  # rooted RF, unrooted RF, matched, true, count
    with open(source) as rows:
        for row in csv.DictReader(rows, delimiter="\t"):
            if row["kind"].startswith("indel") != realistic or row["kind"] == "protein":
                continue
            key = (int(row["n"]), float(row["divergence"]), row["method"])
            s = sums[key]
            if row["method"] not in UNROOTED:
                s[0] += float(row["rooted_rf"])
                s[2] += int(row["matched_blocks"])
                s[3] += int(row["true_blocks"])
            s[1] += float(row["unrooted_rf"])
            s[5] += 1
    sizes = sorted({key[0] for key in sums})
    divergences = sorted({key[1] for key in sums})
    panels = [("rooted RF (0 best)", lambda s: s[0] / s[5], CRITERIA),
              ("true-block recall (1 best)", lambda s: s[2] / s[3] if s[3] else float("nan"), CRITERIA),
              ("unrooted RF (0 best)", lambda s: s[1] / s[5], METHODS)]
    figure, axes = plt.subplots(len(panels), len(sizes), figsize=(3.2 * len(sizes), 2.6 * len(panels)),
                                sharex=True, sharey="row", squeeze=False)
    for row, (title, value, methods) in enumerate(panels):
        for column, n in enumerate(sizes):
            ax = axes[row][column]
            for method in methods:
                points = [(d, value(sums[(n, d, method)])) for d in divergences if sums[(n, d, method)][5]]
                if points:
                    ax.plot([p[0] for p in points], [p[1] for p in points], marker="o", label=method,
                            color=COLOURS[method], linestyle=style(method))
            ax.set_xscale("log")
            ax.minorticks_off()
            ax.set_xticks(divergences)
            ax.set_xticklabels([f"{d:g}" for d in divergences])
            ax.grid(alpha=0.3)
            if row == 0:
                ax.set_title(f"n = {n}")
            if column == 0:
                ax.set_ylabel(title)
            if row == len(panels) - 1:
                ax.set_xlabel("divergence (subst./site, root to copy)")
    axes[-1][-1].legend(fontsize=8, loc="upper right")
    title = ("Copies evolved with indels under GTR+G (shape 0.5 and 1 pooled), aligned by MAFFT" if realistic
             else "Simulated tandem duplication histories (Jukes-Cantor)")
    figure.suptitle(title + ", L = 300 and 1000 pooled", fontsize=11)
    figure.tight_layout()
    figure.savefig(target, dpi=100)


if __name__ == "__main__":
    main()
