#!/usr/bin/env python3
"""Draws a Newick line written by `tandemtree --newick --bootstrap N` as a
PNG with Bio.Phylo and matplotlib (Debian: python3-biopython,
python3-matplotlib): edge lengths to scale, every ancestral segment labelled
with its name and its support, and the segments of duplication blocks
coloured by block.

    docs/draw_newick.py trees.nwk picture.png
"""
import io
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from Bio import Phylo  # noqa: E402

COLOURS = ["#e6550d", "#3182bd", "#31a354", "#756bb1", "#d6616b", "#8c6d31"]


def nhx(clade):
    """The NHX values of a clade's comment, as a dict."""
    if not clade.comment or not clade.comment.startswith("&&NHX"):
        return {}
    return dict(field.split("=", 1) for field in clade.comment.split(":")[1:])


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source) as lines:
        tree = Phylo.read(io.StringIO(lines.readline()), "newick")
    for clade in tree.find_clades():
        values = nhx(clade)
        # Every clade gets its own colour, or it would take its parent's.
        clade.color = COLOURS[(int(values["block"]) - 1) % len(COLOURS)] if "block" in values else "black"

    def label(clade):
        values = nhx(clade)
        if clade.is_terminal():
            return clade.name
        return f"{clade.name} {values['support']}" if "support" in values else clade.name

    leaves = len(tree.get_terminals())
    figure = plt.figure(figsize=(8, 0.32 * leaves + 1.2), dpi=110)
    axes = figure.add_subplot(1, 1, 1)
    Phylo.draw(tree, axes=axes, do_show=False, label_func=label)
    axes.set_title("Bootstrap support of each ancestral segment; blocks in colour", fontsize=10)
    axes.set_ylabel("")
    axes.set_yticks([])
    axes.set_xlabel("substitutions per site")
    figure.tight_layout()
    figure.savefig(target)


if __name__ == "__main__":
    main()
