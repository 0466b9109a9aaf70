#!/usr/bin/env python3
"""The SVG pictures of the built tool, read with a real XML parser: well
formed, plain SVG 1.1 with no scripts and no external resources, one box per
segment, one band per duplication block of the report, and a title naming each
criterion run.

    svg_check.py TANDEMTREE EXAMPLES_DIR
"""
import os
import random
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
failures = []
checked = []


def run(*args):
    return subprocess.run(args, capture_output=True, check=True).stdout


def check(tool, path, kind, criterion, segments):
    name = f"{os.path.basename(path)} {criterion}"
    checked.append(name)
    picture = run(tool, path, kind, str(criterion), "--svg")
    report = run(tool, path, kind, str(criterion)).decode().splitlines()
    try:
        root = ElementTree.fromstring(picture)
    except ElementTree.ParseError as error:
        failures.append(f"{name}: not well-formed XML: {error}")
        return
    if root.tag != SVG + "svg" or root.get("version") != "1.1":
        failures.append(f"{name}: not an SVG 1.1 document")
    for element in root.iter():
        if element.tag in (SVG + "script", SVG + "image", SVG + "foreignObject", SVG + "use"):
            failures.append(f"{name}: holds a {element.tag}")
        for key, value in element.attrib.items():
            if "href" in key or "url(" in value or "http" in value:
                failures.append(f"{name}: refers outside: {key}={value}")
    panels = root.findall(SVG + "g")
    titles = [p.find(SVG + "text").text for p in panels]
    runs = [1, 2, 3] if criterion >= 4 else [criterion]
    if titles != [f"History tree constructed by algorithm {c}" for c in runs]:
        failures.append(f"{name}: titles {titles}")
    block_lines = [line for line in report if line.startswith("Duplication Blocks:")]
    for panel, block_line in zip(panels, block_lines):
        boxes = [r for r in panel.iter(SVG + "rect") if r.get("class") == "segment"]
        bands = [r for r in panel.iter(SVG + "rect") if r.get("class") == "block"]
        if len(boxes) != segments:
            failures.append(f"{name}: {len(boxes)} segment boxes for {segments} segments")
        if len(bands) != block_line.count("("):
            failures.append(f"{name}: {len(bands)} bands for {block_line.count('(')} blocks")
        # Each ancestral segment stands above both of its copies (a smaller
        # y), and every one above the row of present-day segments.
        for path in panel.iter(SVG + "path"):
            match = re.fullmatch(r"M([\d.]+) ([\d.]+)V([\d.]+)H([\d.]+)V([\d.]+)", path.get("d"))
            if not match:
                failures.append(f"{name}: edge {path.get('d')} is not drawn down to both copies")
                continue
            left, up, right = float(match[2]), float(match[3]), float(match[5])
            if not (up < left and up < right):
                failures.append(f"{name}: an ancestral segment at y={up} is not above its copies")
                break
        if boxes:
            row = min(float(box.get("y")) for box in boxes)
            if any(float(dot.get("cy")) >= row for dot in panel.iter(SVG + "circle")):
                failures.append(f"{name}: an ancestral segment is not above the present-day row")
    if not picture.endswith(b"</svg>\n"):
        failures.append(f"{name}: does not end with </svg> and a line end")


def main():
    tool, examples = sys.argv[1], sys.argv[2]
    check(tool, os.path.join(examples, "yeast_chr1_FLO1_204225-206500_p135.fa"), "N", 3, 17)
    check(tool, os.path.join(examples, "mouse_PRDM9_W0TX95_znf_array_p28.txt"), "Y", 4, 10)
    check(tool, os.path.join(examples, "human_chrX_58506832-58535063_p171_alphasat.txt"), "N", 2, 165)
    rng = random.Random(8)
    base = [rng.choice("ACGT") for _ in range(40)]
    cases = {
        "large.txt": "400 40\n" + "".join(
            f"{i} {''.join(c if rng.random() > 0.1 else rng.choice('ACGT') for c in base)}\n" for i in range(400)),
        "odd-names.fa": ">a&b<c>\"d'\nACGT\n>\xe9t\xe9\nACGA\n>x\nACCA\n",
        "one.txt": "1 4\n0 ACGT\n",
        "none.txt": "0 4\n",
    }
    sizes = {"large.txt": 400, "odd-names.fa": 3, "one.txt": 1, "none.txt": 0}
    with tempfile.TemporaryDirectory() as folder:
        for file_name, text in cases.items():
            path = os.path.join(folder, file_name)
            with open(path, "wb") as out:
                out.write(text.encode("latin-1"))  # bytes that are not UTF-8, on purpose
            check(tool, path, "N", 3, sizes[file_name])
    for failure in failures:
        print(failure)
    failed = {failure.split(":")[0] for failure in failures}
    print(f"{len(checked) - len(failed)} passed, {len(failed)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
