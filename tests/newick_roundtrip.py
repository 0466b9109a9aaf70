#!/usr/bin/env python3
"""Reads the --newick output of the built tool back with a real Newick parser
(DendroPy) and checks that every tree has the topology, the ancestral names and
the leaf names of the tree line of the report.

    newick_roundtrip.py TANDEMTREE EXAMPLES_DIR

Exits 77 (skipped) when DendroPy is missing, unless TANDEMTREE_REQUIRE_NEWICK_PARSER
is set, as it is in CI.
"""
import os
import subprocess
import sys
import tempfile

try:
    import dendropy
except ImportError:
    if os.environ.get("TANDEMTREE_REQUIRE_NEWICK_PARSER"):
        print("DendroPy is needed (Debian package python3-dendropy)")
        sys.exit(1)
    print("DendroPy not installed: skipped")
    sys.exit(77)


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True, check=True)
    return done.stdout.splitlines()


def report_tree(text, names):
    """The report's tree line, v3(v1(0,2),1), as nested (name, left, right)."""
    position = 0

    def node():
        nonlocal position
        start = position
        while position < len(text) and text[position] not in "(),":
            position += 1
        label = text[start:position]
        if position < len(text) and text[position] == "(":
            position += 1
            left = node()
            assert text[position] == ","
            position += 1
            right = node()
            assert text[position] == ")"
            position += 1
            return (label, left, right)
        return names[int(label)] if names else label

    tree = node()
    assert position == len(text), text
    return tree


def parsed_tree(line):
    """A Newick line read by DendroPy, as nested (name, left, right)."""
    tree = dendropy.Tree.get(data=line, schema="newick", preserve_underscores=True, rooting="force-rooted")

    def node(n):
        children = n.child_nodes()
        if not children:
            return n.taxon.label
        assert len(children) == 2, line
        return (n.label, node(children[0]), node(children[1]))

    return node(tree.seed_node)


def fasta_names(path):
    with open(path) as fasta:
        return [line[1:].split()[0] if line[1:].split() else "" for line in fasta if line.startswith(">")]


def check(tool, path, kind, names, criteria):
    newick = run(tool, path, kind, str(criteria), "--newick")
    report = run(tool, path, kind, str(criteria))
    expected_lines = 3 if criteria >= 4 else 1
    assert len(newick) == expected_lines, (path, newick)
    trees = [line for index, line in enumerate(report) if index % 5 == 1] if criteria >= 4 else [report[1]]
    for line, tree_line in zip(newick, trees):
        assert line.endswith(";"), line
        got = parsed_tree(line)
        want = report_tree(tree_line, names)
        assert got == want, (path, got, want)
    return len(newick)


def main():
    tool, examples = sys.argv[1], sys.argv[2]
    checked = 0
    for name in sorted(os.listdir(examples)):
        path = os.path.join(examples, name)
        kind = "Y" if ("MUC17" in name or "PRDM9" in name) else "N"
        if name.endswith(".fa"):
            checked += check(tool, path, kind, fasta_names(path), 4 if "alphasat" not in name else 3)
        elif name.endswith(".txt"):
            checked += check(tool, path, kind, None, 2)
    # Names that Newick must quote, a quote inside one, and underscores.
    with tempfile.NamedTemporaryFile("w", suffix=".fa", delete=False) as odd:
        odd.write(">chrX:1200-1350(+) first copy\nACGTACGTAA\n>copy'7\nACGTACGTTA\n"
                  ">a,b;c\nTCGTACGAAA\n>x[1]_y\nTCGTACGATA\n>plain_name\nACGTACCTAA\n")
    try:
        names = fasta_names(odd.name)
        checked += check(tool, odd.name, "N", names, 4)
    finally:
        os.unlink(odd.name)
    print(f"{checked} trees read back, 0 failed")


if __name__ == "__main__":
    main()
