#!/usr/bin/env python3
"""The progress line of a run that lasts just over half a second, under a
pseudo-terminal: it appears on standard error, is erased at the end, and
standard output is byte for byte the same as without a terminal (when nothing
at all goes to standard error). What the line says, and when, is checked in
the unit tests with a clock of their own.

    progress_check.py TANDEMTREE [COPIES]

COPIES (300 by default, about 1 s of criterion 1 on one thread in a Release
build) is smaller for the sanitizer build, which runs many times slower; it
grows when a run ends too soon for the line to appear.
"""
import os
import pty
import random
import subprocess
import sys
import tempfile
import time


def family(n, length, seed):
    """n copies of one random sequence, each with a tenth of its sites changed."""
    rng = random.Random(seed)
    base = [rng.choice("ACGT") for _ in range(length)]
    lines = [f"{n} {length}"]
    for i in range(n):
        copy = list(base)
        for site in rng.sample(range(length), length // 10):
            copy[site] = rng.choice("ACGT")
        lines.append(f"{i} {''.join(copy)}")
    return "\n".join(lines) + "\n"


def run_with_terminal(command):
    """Standard error on a pseudo-terminal; returns (stdout, what the terminal got)."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=terminal)
    os.close(terminal)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the terminal closes with the process
            break
        if not chunk:
            break
        shown += chunk
    out = process.stdout.read()
    process.wait()
    os.close(controller)
    return out, shown, process.returncode


def main():
    tool = sys.argv[1]
    copies = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    # The line appears only after half a second, so the run must last
    # longer: on one thread, and with more copies each time it did not, as
    # long as a faster machine needs.
    for attempt in range(6):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as data:
            data.write(family(copies, 40, 3))
        try:
            command = [tool, data.name, "N", "1", "--threads", "1"]
            started = time.monotonic()
            plain = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
            lasted = time.monotonic() - started
            if lasted < 0.8 and attempt < 5:
                copies = int(copies * 1.25)
                continue
            failures = check(command, plain)
        finally:
            os.unlink(data.name)
        break
    print(f"{4 - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


def check(command, plain):
    failures = 0
    if plain.stderr:
        print("standard error is not a terminal, yet something was written to it")
        failures += 1
    out, shown, code = run_with_terminal(command)
    if code != 0 or out != plain.stdout:
        print("standard output differs with a terminal on standard error")
        failures += 1
    text = shown.decode("utf-8", "replace")
    if "criterion 1: " not in text:
        print(f"no progress line was shown: {text!r}")
        failures += 1
    if not shown.endswith(b"\x1b8\x1b[K"):
        print(f"the progress line was not erased at the end: {text[-40:]!r}")
        failures += 1
    return failures


if __name__ == "__main__":
    main()
