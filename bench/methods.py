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
import os
import re
import shutil
import tempfile

from benchlib import DEFAULT_CLI, check_tools, measured, render_inputs, to_tiff


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






def art_counts(eps):
    """(paths, segments) of the art body: one operator per line, a path ends
    with a painting operator."""
    lines = re.split(r"\r\n|\r|\n", open(eps, "rb").read().decode("latin-1"))
    body = lines[next((i for i, l in enumerate(lines) if l.startswith("%%EndSetup")), 0):]
    segments = sum(1 for l in body if re.search(r"\s[lLcC]$", l))
    paths = sum(1 for l in body if re.fullmatch(r"[fFbBsSnN]", l.strip()))
    return paths, segments






def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default=DEFAULT_CLI)
    ap.add_argument("--keep", help="keep the images and EPS files in this folder")
    ap.add_argument("--quick", action="store_true", help="one page only")
    args = ap.parse_args()
    check_tools(("pdftoppm", "pnmtotiff", "tiffcp", "convert", "/usr/bin/time"), args.cli)

    work = args.keep or tempfile.mkdtemp(prefix="tess-bench-")
    os.makedirs(work, exist_ok=True)
    header = ("image", "methods", "time s", "peak MiB", "paths", "segments")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    try:
        pages = PDF_PAGES[:1] if args.quick else PDF_PAGES
        drawings = [] if args.quick else DRAWINGS
        for name, pbm, dpi in render_inputs(work, pages, drawings):
            tif = to_tiff(pbm, dpi, work)
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
