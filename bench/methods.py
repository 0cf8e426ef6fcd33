#!/usr/bin/env python3
"""Runs tessary-cli with the Centerline and Line recognition methods, alone
and in the combinations of the conversion driver, over drawings nobody on the
project made, and prints for each image and method set the wall time, the
peak memory and the number of paths and segments of the art.

There is no open centerline tracer in Debian to compare with, so the table
holds our own figures only; the Outline method is listed too as the yardstick
the other methods can be read against.

Inputs: pages of Debian's PDF manuals with rules and boxes (pdftoppm -mono,
300 dpi) and a diagram shipped by Debian (rendered by ImageMagick and
thresholded). Inputs that are not installed are left out.

    bench/methods.py [--cli PATH] [--keep DIR] [--quick]
"""
import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

PDF_PAGES = [
    ("mime-spec-p4", "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 4),
    ("mime-spec-p5", "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 5),
    ("libtasn1-p1", "/usr/share/doc/libtasn1-doc/libtasn1.pdf", 1),
    ("valgrind-p40", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", 40),
]
DRAWINGS = [
    ("pg-dependencies", "/usr/share/doc/postgresql-common/dependencies.svg", 150),
    ("wacom-cintiq", "/usr/share/libwacom/layouts/cintiq-21ux2.svg", 300),
]
METHODS = ["outline", "centerline", "lines", "outline,centerline", "outline,lines", "centerline,lines",
           "outline,centerline,lines"]


def run(cmd):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def measured(cmd, work):
    """Runs cmd; returns (seconds, peak resident KiB, exit status). GNU time
    reports the peak, so that the figure is the program's own and not the
    high-water mark a child inherits from this script."""
    report = os.path.join(work, "time.txt")
    start = time.perf_counter()
    rc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    words = open(report).read().split()
    return elapsed, int(words[-1]) if words else 0, rc


def art_counts(eps):
    """(paths, segments) of the art body: one operator per line, a path ends
    with a painting operator."""
    lines = re.split(r"\r\n|\r|\n", open(eps, "rb").read().decode("latin-1"))
    body = lines[next((i for i, l in enumerate(lines) if l.startswith("%%EndSetup")), 0):]
    segments = sum(1 for l in body if re.search(r"\s[lLcC]$", l))
    paths = sum(1 for l in body if re.fullmatch(r"[fFbBsSnN]", l.strip()))
    return paths, segments


def make_inputs(work, quick):
    """Yields (name, tif path, pixels)."""
    pages = PDF_PAGES[:1] if quick else PDF_PAGES
    for name, src, page in pages:
        if not os.path.exists(src):
            print("# left out (not installed): " + src, file=sys.stderr)
            continue
        pdf = os.path.join(work, os.path.basename(src).replace(".gz", ""))
        if not os.path.exists(pdf):
            opener = gzip.open if src.endswith(".gz") else open
            with opener(src, "rb") as f, open(pdf, "wb") as out:
                shutil.copyfileobj(f, out)
        base = os.path.join(work, name)
        run(["pdftoppm", "-mono", "-r", "300", "-f", str(page), "-l", str(page), "-singlefile", pdf, base])
        yield name, to_tiff(base + ".pbm", 300, work)
    for name, src, density in ([] if quick else DRAWINGS):
        if not os.path.exists(src):
            print("# left out (not installed): " + src, file=sys.stderr)
            continue
        pbm = os.path.join(work, name + ".pbm")
        run(["convert", "-density", str(density), src, "-background", "white", "-flatten", "-colorspace", "gray",
             "-threshold", "50%", "pbm:" + pbm])
        yield name, to_tiff(pbm, density, work)


def to_tiff(pbm, dpi, work):
    raw = os.path.join(work, "raw.tif")
    with open(raw, "wb") as out:
        subprocess.run(["pnmtotiff", "-xresolution", str(dpi), "-yresolution", str(dpi), pbm], stdout=out,
                       stderr=subprocess.DEVNULL, check=True)
    tif = pbm[:-4] + ".tif"
    run(["tiffcp", "-c", "packbits", raw, tif])
    return tif


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "tessary-cli"))
    ap.add_argument("--keep", help="keep the images and EPS files in this folder")
    ap.add_argument("--quick", action="store_true", help="one page only")
    args = ap.parse_args()
    for tool in ("pdftoppm", "pnmtotiff", "tiffcp", "convert", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit("bench: %s is missing (bash scripts/setup.sh installs it)" % tool)
    if not os.access(args.cli, os.X_OK):
        sys.exit("bench: %s is missing (build the tessary-cli target)" % args.cli)

    work = args.keep or tempfile.mkdtemp(prefix="tess-bench-")
    os.makedirs(work, exist_ok=True)
    header = ("image", "methods", "time s", "peak MiB", "paths", "segments")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    try:
        for name, tif in make_inputs(work, args.quick):
            for methods in METHODS:
                eps = os.path.join(work, "%s.%s.eps" % (name, methods.replace(",", "+")))
                seconds, peak, rc = measured([args.cli, "-q", "-m", methods, tif, "-o", eps], work)
                if rc == 0 and os.path.exists(eps):
                    paths, segments = art_counts(eps)
                    cells = ["%.3f" % seconds, "%.1f" % (peak / 1024), str(paths), str(segments)]
                else:
                    cells = ["failed (%d)" % rc, "-", "-", "-"]
                print("| " + " | ".join([name, methods] + cells) + " |", flush=True)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
