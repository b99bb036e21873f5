#!/usr/bin/env python3
"""Runs the code blocks of README.md as written, in order, so that the README cannot drift.

    python3 scripts/readme.py [--build DIR] [--prefix DIR] [--files DIR] [--list] [--keep]

A block is an indented block of four spaces (shell commands) or a fenced block: ```python
blocks run with Python, ```sh blocks as shell commands; a fence of another kind (a layout, a
table) is no code. The blocks run in a copy of the files git tracks, as a user of a fresh
clone runs them after `bash scripts/setup.sh`: one after another in one folder, so that a
block may use what an earlier one made, with HOME a fresh folder of the copy (~/.local,
~/ocrb-env are made there) and build/ standing for the build folder DIR (default build; it
must have been built with -DOCRB_BUILD_PYTHON=ON). Shell blocks run under bash with -e and
-o pipefail; Python blocks with the interpreter of ~/ocrb-env once a block has made it,
else Debian's with build/python on its path.

An HTML comment just above a block marks it:

    <!-- readme: file NAME -->         the block is the file NAME, written, not run
    <!-- readme: needs prefix -->      runs only with --prefix DIR, an installed prefix that
                                       ~/.local then stands for (the install test gives it)
    <!-- readme: skip REASON -->       never run here; REASON says why (a cluster, the
                                       Windows tool chain, the evaluation set, ...)

With --prefix, only the blocks that need it run (and the files are written); without, every
other block. --files DIR writes the file blocks into DIR and runs nothing.

Exit status 0 when every block ran without failing; the first failure stops the run and
prints the block, its output and its line in README.md.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MARKER = re.compile(r"^<!--\s*readme:\s*(file|skip|needs)\s+(.*?)\s*-->\s*$")
FENCE = re.compile(r"^```(\S*)\s*$")
# A block may take this long: the Dask block starts a cluster of two processes.
BLOCK_TIMEOUT = 600


class Block:
    def __init__(self, line, kind, text, mark=None, argument=""):
        self.line, self.kind, self.text = line, kind, text
        self.mark, self.argument = mark, argument

    def describe(self):
        first = self.text.strip().splitlines()[0] if self.text.strip() else ""
        return f"README.md:{self.line} [{self.kind}] {first}"


def parse(text):
    """The code blocks of Markdown TEXT, each with the marker just above it."""
    lines = text.splitlines()
    blocks, mark, i = [], None, 0
    previous_blank = True
    while i < len(lines):
        line = lines[i]
        marker = MARKER.match(line)
        fence = FENCE.match(line)
        if marker:
            mark = (marker.group(1), marker.group(2))
            i += 1
            continue
        if fence:
            kind = fence.group(1) or "text"
            j = i + 1
            while j < len(lines) and not lines[j].startswith("```"):
                j += 1
            body = "\n".join(lines[i + 1:j]) + "\n"
            if kind in ("python", "sh", "bash"):
                blocks.append(Block(i + 1, "python" if kind == "python" else "sh", body,
                                    *(mark or (None, ""))))
            mark, i, previous_blank = None, j + 1, False
            continue
        if line.startswith("    ") and previous_blank:
            j = i
            body = []
            while j < len(lines) and (lines[j].startswith("    ") or not lines[j].strip()):
                body.append(lines[j][4:])
                j += 1
            while body and not body[-1].strip():
                body.pop()
            blocks.append(Block(i + 1, "sh", "\n".join(body) + "\n", *(mark or (None, ""))))
            mark, i, previous_blank = None, j, True
            continue
        if line.strip() and not line.lstrip().startswith("<!--"):
            mark = None
        previous_blank = not line.strip()
        i += 1
    return blocks


def tracked_files():
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                            capture_output=True).stdout.decode().split("\0")
    return [name for name in listed if name]


def make_copy(work, build):
    tree = work / "tree"
    for name in tracked_files():
        source = ROOT / name
        if not source.is_file():
            continue  # deleted in the working tree
        target = tree / name
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)
    (tree / "build").symlink_to(build)
    home = tree / "home"
    home.mkdir()
    return tree, home


def run_block(block, tree, env):
    if block.kind == "python":
        venv_python = Path(env["HOME"]) / "ocrb-env" / "bin" / "python"
        python = str(venv_python) if venv_python.exists() else "/usr/bin/python3"
        command = [python, "-c", block.text]
    else:
        command = ["bash", "-e", "-o", "pipefail", "-c", block.text]
    return subprocess.run(command, cwd=tree, env=env, capture_output=True, text=True,
                          timeout=BLOCK_TIMEOUT)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build", help="the build folder build/ stands for")
    parser.add_argument("--prefix", help="an installed prefix: run the blocks that need one")
    parser.add_argument("--files", help="write the file blocks into this folder, run nothing")
    parser.add_argument("--list", action="store_true", help="list the blocks and their marks")
    parser.add_argument("--keep", action="store_true", help="keep the copy the blocks ran in")
    args = parser.parse_args()
    blocks = parse((ROOT / "README.md").read_text(encoding="utf-8"))
    if args.list:
        for block in blocks:
            mark = f"  ({block.mark} {block.argument})" if block.mark else ""
            print(block.describe() + mark)
        return 0
    if args.files:
        for block in blocks:
            if block.mark == "file":
                path = Path(args.files) / block.argument
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(block.text, encoding="utf-8")
        return 0
    build = (ROOT / args.build).resolve()
    if not (build / "CMakeCache.txt").is_file() or not (
            args.prefix or (build / "python" / "ocrb").is_dir()):
        print(f"readme.py: {build} is no build made with -DOCRB_BUILD_PYTHON=ON", file=sys.stderr)
        return 1
    work = Path(tempfile.mkdtemp(prefix="ocrb-readme-"))
    try:
        tree, home = make_copy(work, build)
        if args.prefix:
            (home / ".local").symlink_to(Path(args.prefix).resolve())
        env = dict(os.environ)
        env.update({
            "HOME": str(home),
            "PYTHONPATH": str(tree / "build" / "python"),
            "PYTHONDONTWRITEBYTECODE": "1",
            "MANPAGER": "cat",
            "MANWIDTH": "80",
            # pip packs the module and libraries of the build rather than compiling them.
            "OCRB_CMAKE_BUILD_DIR": str(build),
        })
        env.pop("PKG_CONFIG_PATH", None)
        ran = skipped = 0
        for block in blocks:
            if (block.mark == "needs") != bool(args.prefix) and block.mark != "file":
                if block.mark != "needs":
                    continue  # run by the pass without --prefix
                print(f"skip {block.describe()}: needs an installed prefix (--prefix)")
                skipped += 1
                continue
            if block.mark == "skip":
                print(f"skip {block.describe()}: {block.argument}")
                skipped += 1
                continue
            if block.mark == "file":
                path = tree / block.argument
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(block.text, encoding="utf-8")
                print(f"file {block.describe()} -> {block.argument}")
                continue
            print(f"run  {block.describe()}", flush=True)
            try:
                done = run_block(block, tree, env)
            except subprocess.TimeoutExpired:
                print(f"readme.py: README.md:{block.line}: no end after {BLOCK_TIMEOUT} s")
                return 1
            if done.returncode != 0:
                print(f"readme.py: the block at README.md:{block.line} failed "
                      f"(status {done.returncode}):\n{block.text}\n--- stdout\n{done.stdout}"
                      f"\n--- stderr\n{done.stderr}")
                return 1
            ran += 1
        print(f"readme.py: {ran} blocks ran, {skipped} skipped as marked")
        return 0
    finally:
        if args.keep:
            print(f"readme.py: the copy is in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
