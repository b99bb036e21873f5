#!/usr/bin/env bash
# Reads an evaluation set with ocrb and with the general-purpose OCR engines a user might pick
# instead (Tesseract, Ocrad, GOCR, from Debian's archive, installed here when missing), scores
# them all alike, and prints a side-by-side table.
#
#   scripts/peers.sh [SET] [OUT]
#
# SET defaults to ../shared/eval/dev, OUT to build-cli/peers. The peers run through
# ../shared/eval/run_peers.py, one process per image with the options its README argues are
# fair (Tesseract: LSTM, a whitelist of the fifteen characters, --psm 6, or 7 for one-line
# images in the "tessline" row; Ocrad --filter=numbers; GOCR with the alphabet). ocrb is timed
# the same way, one process per image, and also as one process for the whole set ("batch").
# ENGINES=tess6,ocrad limits the peers; LIMIT=N reads only the first N images of the set.
set -euo pipefail
# Debian's interpreter, whose numpy and PIL come from the archive; PYTHON overrides it.
python=${PYTHON:-$(command -v /usr/bin/python3 || command -v python3)}
root=$(cd "$(dirname "$0")/.." && pwd)
set_dir=$(cd "${1:-$root/../shared/eval/dev}" && pwd)
out=${2:-$root/build-cli/peers}
eval_dir=${EVAL_DIR:-$root/../shared/eval}
engines=${ENGINES:-tess6,tessline,ocrad,gocr}

missing=()
command -v tesseract >/dev/null || missing+=(tesseract-ocr)
[ -n "$(ls /usr/share/tesseract-ocr/*/tessdata/eng.traineddata 2>/dev/null)" ] ||
  missing+=(tesseract-ocr-eng)
command -v ocrad >/dev/null || missing+=(ocrad)
command -v gocr >/dev/null || missing+=(gocr)
"$python" -c 'import PIL' 2>/dev/null || missing+=(python3-pil)
"$python" -c 'import numpy' 2>/dev/null || missing+=(python3-numpy)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

mkdir -p "$out"
# ocrb over the whole set in one process: the batch figure.
bash "$root/scripts/eval.sh" "$set_dir" "$out/ocrb-batch" >"$out/ocrb-batch.log"
ocrb=${OCRB_BUILD_DIR:-$root/build-cli}/tools/ocrb/ocrb

limit=()
[ -z "${LIMIT:-}" ] || limit=(--limit "$LIMIT")
"$python" "$eval_dir/run_peers.py" "$set_dir" "$out" --engines "$engines" "${limit[@]}" \
  >"$out/peers.log"

"$python" - "$set_dir" "$out" "$ocrb" "$eval_dir" "$engines" "${LIMIT:-0}" <<'PY'
import csv, os, statistics, subprocess, sys, time

set_dir, out, ocrb, eval_dir, engines, limit = sys.argv[1:7]
sys.path.insert(0, eval_dir)
import score  # noqa: E402


def images(d):
    """NAME -> image path, in the set's order (the .bmp: the engine's own input)."""
    names = sorted(f[:-7] for f in os.listdir(d) if f.endswith(".gt.txt"))
    return {n: os.path.join(d, n + ".bmp") for n in names if os.path.exists(os.path.join(d, n + ".bmp"))}


def timed(d, dest, count=0):
    """Reads every image with its own ocrb process, as the peers are run; -> score, times."""
    items = list(images(d).items())[: count or None]
    os.makedirs(dest, exist_ok=True)
    times = []
    for n, path in items:
        t0 = time.perf_counter()
        p = subprocess.run([ocrb, path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - t0)
        with open(os.path.join(dest, n + ".txt"), "wb") as f:
            f.write(p.stdout)
    return score.score_dir(d, dest, [n for n, _ in items]), times


rows = []
rep, times = timed(set_dir, os.path.join(out, "ocrb"), int(limit))
row = dict(engine="ocrb", **rep["overall"])
for lvl, a in rep["by_level"].items():
    row["cer_" + lvl] = a["cer_nospace"]
row["median_s_per_image"] = statistics.median(times)
pages = os.path.join(set_dir, "pages")
if os.path.isdir(pages):
    prep, ptimes = timed(pages, os.path.join(out, "ocrb", "pages"))
    row["s_per_page"] = statistics.mean(ptimes)
    row["page_cer_nospace"] = prep["overall"]["cer_nospace"]
batch = open(os.path.join(out, "ocrb-batch", "seconds.txt")).read().split()
rows.append(row)
with open(os.path.join(out, "summary.tsv")) as f:
    for r in csv.DictReader(f, delimiter="\t"):
        rows.append({k: (float(v) if k != "engine" and v else v) for k, v in r.items()})

names = {"ocrb": "ocrb", "tess6": "Tesseract --psm 6", "tessline": "Tesseract psm 7/6",
         "ocrad": "Ocrad", "gocr": "GOCR"}
pct = lambda v: "%.1f %%" % (100 * v) if isinstance(v, float) else "-"
sec = lambda v: ("%.3f" % v if v < 1 else "%.2f" % v) if isinstance(v, float) else "-"
print("| engine | CER no-space | CER spaces | line exact | clean | mild | heavy "
      "| median s/image | s/page | page CER |")
print("|---|---|---|---|---|---|---|---|---|---|")
for r in rows:
    print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
        names.get(r["engine"], r["engine"]), pct(r.get("cer_nospace")), pct(r.get("cer_spaces")),
        pct(r.get("line_exact")), pct(r.get("cer_clean")), pct(r.get("cer_mild")),
        pct(r.get("cer_heavy")), sec(r.get("median_s_per_image")), sec(r.get("s_per_page")),
        pct(r.get("page_cer_nospace"))))
print("\nocrb in one process for the whole set: %s s/image (%s images in %s s)"
      % (batch[-2], batch[0], batch[3]))
PY
