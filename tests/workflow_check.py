#!/usr/bin/env python3
"""Runs the Snakemake workflow on the bundled examples with two cores and
checks every family's report and summary row against a direct run of the
tool.

    workflow_check.py TANDEMTREE PROJECT_DIR

Exits 77 (skipped) when snakemake is missing, unless TANDEMTREE_REQUIRE_SNAKEMAKE
is set, as it is in CI.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Protein families of the examples (their provenance says so); the rest are DNA.
PROTEIN = ("mouse_PRDM9_", "human_MUC17_")


def main():
    tool, project = sys.argv[1], sys.argv[2]
    snakemake = shutil.which("snakemake")
    if snakemake is None:
        if os.environ.get("TANDEMTREE_REQUIRE_SNAKEMAKE"):
            print("snakemake is needed (Debian package snakemake)")
            return 1
        print("snakemake not installed: skipped")
        return 77
    with tempfile.TemporaryDirectory() as scratch:
        # The examples, and two families that fail: a file that is no
        # alignment, and copies too far apart for a distance.
        examples = os.path.join(scratch, "families")
        os.mkdir(examples)
        for name in os.listdir(os.path.join(project, "examples")):
            if name.endswith(".fa"):
                shutil.copy(os.path.join(project, "examples", name), examples)
        failing = {"zz_broken": (">a\nACGT\n>b\nAC\n", "Invalid sequence file: record 2 'b' (line 3): the sequence "
                                 "has 2 characters, expected 4"),
                   "zz_far": (">a\nAAAA\n>b\nCCCC\n", "Sequences dissimilarity exceeds threshold: distance undefined!")}
        for family, (text, _) in failing.items():
            with open(os.path.join(examples, family + ".fa"), "w") as handle:
                handle.write(text)
        output = os.path.join(scratch, "results")
        subprocess.run(
            [snakemake, "--cores", "2", "--quiet", "-s", os.path.join(project, "workflow", "Snakefile"),
             "--directory", scratch, "--config", f"input={examples}", f"output={output}", f"tool={tool}",
             "criterion=4"],
            check=True, capture_output=True)
        with open(os.path.join(output, "summary.tsv")) as handle:
            rows = [line.rstrip("\n").split("\t") for line in handle]
        assert rows[0] == ["family", "copies", "length", "blocks", "largest_block", "seconds", "status",
                           "message"], rows[0]
        families = sorted(name[:-3] for name in os.listdir(examples) if name.endswith(".fa"))
        assert [row[0] for row in rows[1:]] == families, rows
        for row in rows[1:]:
            if row[0] in failing:
                assert row[6:] == ["failed", failing[row[0]][1]], row
        rows = [row for row in rows if row[0] not in failing]
        for family, copies, length, blocks, largest, seconds, status, message in rows[1:]:
            assert (status, message) == ("ok", ""), (family, status, message)
            kind = "Y" if family.startswith(PROTEIN) else "N"
            source = os.path.join(examples, family + ".fa")
            direct = subprocess.run([tool, source, kind, "4"], capture_output=True, text=True, check=True).stdout
            with open(os.path.join(output, family, "report.txt")) as handle:
                assert handle.read() == direct, family
            # The Newick, the picture and the blocks come from the same run.
            for name, option in (("tree.nwk", "--newick"), ("history.svg", "--svg")):
                alone = subprocess.run([tool, option, source, kind, "4"], capture_output=True, text=True,
                                       check=True).stdout
                with open(os.path.join(output, family, name)) as handle:
                    assert handle.read() == alone, (family, name)
            with open(os.path.join(output, family, "blocks.tsv")) as handle:
                assert handle.readline().startswith("criterion\tblock\t"), family
            first = next(line for line in direct.splitlines() if line.startswith("Duplication Blocks:"))
            found = [block.split(", ") for block in re.findall(r"\(([^()]*)\)", first)]
            with open(source) as handle:
                records = handle.read().split(">")[1:]
            assert int(copies) == len(records), (family, copies)
            assert int(length) == len("".join(records[0].split("\n", 1)[1].split())), (family, length)
            assert int(blocks) == len(found), (family, blocks)
            assert int(largest) == max((len(b) for b in found), default=0), (family, largest)
            assert float(seconds) >= 0, (family, seconds)
        # A tool that is nowhere: one line says how to build it.
        missing = subprocess.run(
            [snakemake, "--cores", "1", "--quiet", "-s", os.path.join(project, "workflow", "Snakefile"),
             "--directory", scratch, "--config", f"input={examples}", f"output={output}-none",
             "tool=no/such/tandemtree"],
            capture_output=True, text=True, env={**os.environ, "PATH": "/usr/bin:/bin"})
        assert missing.returncode != 0, missing
        assert "tandemtree is not built: run 'make -C" in missing.stdout + missing.stderr, missing
    print(f"{len(rows) - 1} families checked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
