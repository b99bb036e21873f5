"""Compares two outputs in the layout of ocrb -f json, file by file: the same pages, lines,
characters, figures and check results. File names and the status codes of failures are not
compared (ocrb gives exit statuses, the C interface its own codes); whether a file failed is.

    same_json.py EXPECTED.json ACTUAL.json
"""
import json
import sys


def files(path):
    with open(path, encoding="utf-8") as stream:
        return json.load(stream)["files"]


def main(expected_path, actual_path):
    expected, actual = files(expected_path), files(actual_path)
    if len(expected) != len(actual):
        print(f"{len(expected)} files in {expected_path}, {len(actual)} in {actual_path}")
        return 1
    for want, got in zip(expected, actual):
        if ("error" in want) != ("error" in got):
            print(f"{want['file']}: failed in one output only")
            return 1
        if want["pages"] != got["pages"]:
            print(f"{want['file']} and {got['file']} differ:")
            print(json.dumps(want["pages"], indent=1)[:4000])
            print(json.dumps(got["pages"], indent=1)[:4000])
            return 1
        lines = sum(len(page["lines"]) for page in want["pages"])
        print(f"{want['file']}: {len(want['pages'])} pages, {lines} lines alike")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
