#!/usr/bin/env python3
"""Reads the --newick output of the built tool back with real Newick parsers
(DendroPy, and Bio.Phylo for the support) and checks that every tree has the
topology, the ancestral names and the leaf names of the tree line of the
report, that the lengths are the same however the line is read, and that the
bootstrap support in the NHX comments (and as plain labels) is the report's.

    newick_roundtrip.py TANDEMTREE EXAMPLES_DIR

Exits 77 (skipped) when DendroPy or Biopython is missing, unless
TANDEMTREE_REQUIRE_NEWICK_PARSER is set, as it is in CI.
"""
import os
import subprocess
import sys
import tempfile

try:
    import dendropy
    from Bio import Phylo
except ImportError:
    if os.environ.get("TANDEMTREE_REQUIRE_NEWICK_PARSER"):
        print("DendroPy and Biopython are needed (Debian packages python3-dendropy, python3-biopython)")
        sys.exit(1)
    print("DendroPy or Biopython not installed: skipped")
    sys.exit(77)
import io


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


def report_support(lines):
    """The report's support lines: {"v3": 87, ...} and {"(v2, v3)": 64, ...}; a
    segment or block of identical copies has "identical" instead of a number."""
    segments, blocks = {}, {}
    for line in lines:
        if line.startswith("Segment support:"):
            for entry in line.split("   ")[1:]:
                if entry:
                    name, value = entry.split(" ")
                    segments[name] = value if value == "identical" else int(value)
        elif line.startswith("Block support:"):
            for entry in line.split("   ")[1:]:
                if entry:
                    name, value = entry.rsplit(" ", 1)
                    blocks[name] = value if value == "identical" else int(value)
    return segments, blocks


def nodes_by_name(line):
    """Every node of a Newick line read by DendroPy: name -> (edge length, NHX values)."""
    tree = dendropy.Tree.get(data=line, schema="newick", preserve_underscores=True, rooting="force-rooted",
                             extract_comment_metadata=True)
    found = {}
    for node in tree.preorder_node_iter():
        name = node.label if node.child_nodes() else node.taxon.label
        found[name] = (node.edge.length, {a.name: a.value for a in node.annotations})
    return found


def check_support(tool, path, kind, criterion):
    args = [path, kind, str(criterion), "--bootstrap", "30", "--seed", "5"]
    segments, blocks = report_support(run(tool, *args))
    block_names = list(blocks)
    supported = run(tool, *args, "--newick")[0]
    plain = nodes_by_name(run(tool, path, kind, str(criterion), "--newick")[0])
    read = nodes_by_name(supported)
    assert set(read) == set(plain), (path, "names")
    for name, (length, values) in read.items():
        assert length == plain[name][0], (path, name, length, plain[name][0])
        assert length is None or length >= 0, (path, name, length)
        if name in segments and segments[name] == "identical":
            assert values.get("identical_copies") == "1" and "support" not in values, (path, name, values)
        elif name in segments:
            assert int(values["support"]) == segments[name], (path, name, values, segments[name])
            if "block" in values and "block_support" in values:
                assert int(values["block_support"]) == blocks[block_names[int(values["block"]) - 1]], (path, name)
        else:
            assert not values, (path, name, values)
    assert len(segments) == sum(1 for _, values in read.values() if values), path
    # Bio.Phylo keeps the NHX text as the comment, beside the name and length.
    for clade in Phylo.read(io.StringIO(supported), "newick").find_clades():
        if clade.comment:
            fields = dict(field.split("=") for field in clade.comment.split(":")[1:])
            if segments[clade.name] == "identical":
                assert fields.get("identical_copies") == "1", (path, clade.name)
            else:
                assert int(fields["support"]) == segments[clade.name], (path, clade.name)
            assert clade.branch_length == read[clade.name][0], (path, clade.name)
    # Plain numeric labels: read as confidence values, in the same places.
    labelled = Phylo.read(io.StringIO(run(tool, *args, "--newick", "--support-labels")[0]), "newick")
    named = Phylo.read(io.StringIO(supported), "newick")
    for with_label, with_name in zip(labelled.find_clades(), named.find_clades()):
        if with_name.comment:
            # A segment of identical copies has no number to show.
            want = None if segments[with_name.name] == "identical" else segments[with_name.name]
            assert with_label.confidence == want, (path, with_name.name)
            assert with_label.branch_length == with_name.branch_length
    return 3


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
    checked += check_support(tool, os.path.join(examples, "mouse_PRDM9_W0TX95_znf_array_p28.fa"), "Y", 2)
    checked += check_support(tool, os.path.join(examples, "yeast_chr1_FLO1_204225-206500_p135.fa"), "N", 1)
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
