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
    examples = os.path.join(project, "examples")
    with tempfile.TemporaryDirectory() as scratch:
        output = os.path.join(scratch, "results")
        subprocess.run(
            [snakemake, "--cores", "2", "--quiet", "-s", os.path.join(project, "workflow", "Snakefile"),
             "--directory", scratch, "--config", f"input={examples}", f"output={output}", f"tool={tool}",
             "criterion=4"],
            check=True, capture_output=True)
        with open(os.path.join(output, "summary.tsv")) as handle:
            rows = [line.rstrip("\n").split("\t") for line in handle]
        assert rows[0] == ["family", "copies", "length", "blocks", "largest_block", "seconds"], rows[0]
        families = sorted(name[:-3] for name in os.listdir(examples) if name.endswith(".fa"))
        assert [row[0] for row in rows[1:]] == families, rows
        for family, copies, length, blocks, largest, seconds in rows[1:]:
            kind = "Y" if family.startswith(PROTEIN) else "N"
            source = os.path.join(examples, family + ".fa")
            direct = subprocess.run([tool, source, kind, "4"], capture_output=True, text=True, check=True).stdout
            with open(os.path.join(output, family, "report.txt")) as handle:
                assert handle.read() == direct, family
            for name in ("tree.nwk", "history.svg"):
                assert os.path.getsize(os.path.join(output, family, name)) > 0, (family, name)
            first = next(line for line in direct.splitlines() if line.startswith("Duplication Blocks:"))
            found = [block.split(", ") for block in re.findall(r"\(([^()]*)\)", first)]
            with open(source) as handle:
                records = handle.read().split(">")[1:]
            assert int(copies) == len(records), (family, copies)
            assert int(length) == len("".join(records[0].split("\n", 1)[1].split())), (family, length)
            assert int(blocks) == len(found), (family, blocks)
            assert int(largest) == max((len(b) for b in found), default=0), (family, largest)
            assert float(seconds) >= 0, (family, seconds)
    print(f"{len(rows) - 1} families checked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
