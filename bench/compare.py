#!/usr/bin/env python3
"""Traces a set of one-bit images with tessary-cli (with its default settings
and with Refine curves) and with potrace, side by side, and prints for each
image the wall-time ratios, the peak memory of both, the number of segments
of both, and the fidelity of all three: each EPS rendered
by Ghostscript at the image's own size (anti-aliased, cut at 50 %) and
compared with the input, as XOR pixels / black pixels of the input.

The images are drawings nobody on the project made: pages of Debian's own PDF
manuals (pdftoppm -mono, 300 dpi) and SVG drawings shipped by Debian packages
(rendered by ImageMagick and thresholded). Inputs that are not installed are
left out of the table.

    bench/compare.py [--cli PATH] [--keep DIR] [--quick] [--repeat N]
"""
import argparse
import os
import re
import shutil
import tempfile

from benchlib import DEFAULT_CLI, check_tools, measured, render_inputs, run, to_tiff


# (name, source, page or density[, dpi]). PDF pages at 300 dpi unless given;
# SVG at a density that gives a page-sized bitmap.
PDF_PAGES = [
    ("valgrind-p1", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", 1),
    ("valgrind-p40", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", 40),
    ("bzip2-p1", "/usr/share/doc/bzip2/manual.pdf.gz", 1),
    ("nettle-p12", "/usr/share/doc/nettle-dev/nettle.pdf.gz", 12),
    ("fontconfig-p3", "/usr/share/doc/fontconfig/fontconfig-user.pdf.gz", 3),
    ("mime-spec-p5", "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf", 5),
    # The same page at two and four times the resolution: the cost should grow
    # with the pixels, about 4 and 16 times.
    ("valgrind-p40-600dpi", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", 40, 600),
    ("valgrind-p40-1200dpi", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", 40, 1200),
]
SVG_DRAWINGS = [
    ("pg-dependencies", "/usr/share/doc/postgresql-common/dependencies.svg", 100),
    ("pg-dependencies-x2", "/usr/share/doc/postgresql-common/dependencies.svg", 200),
]






def read_pnm(path):
    """Reads a raw PBM (P4) or PGM (P5): (kind, width, height, maxval, pixel bytes)."""
    data = open(path, "rb").read()
    tokens, pos = [], 0
    need = 3 if data[:2] == b"P4" else 4
    while len(tokens) < need:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        tokens.append(data[start:pos])
    pos += 1
    w, h = int(tokens[1]), int(tokens[2])
    maxval = int(tokens[3]) if need == 4 else 1
    return tokens[0].decode(), w, h, maxval, data[pos:]


def pbm_rows(path):
    kind, w, h, _, px = read_pnm(path)
    assert kind == "P4", path
    stride = (w + 7) // 8
    return w, h, [px[y * stride:(y + 1) * stride] for y in range(h)]


# Each byte of a PBM row as eight bytes of 0 or 1.
BITS = [bytes((b >> (7 - i)) & 1 for i in range(8)) for b in range(256)]


def fidelity(pbm, eps, dpi, work):
    """XOR pixels / black pixels of the input. The EPS is rendered on a page of
    the input's size in pixels at `dpi`, the resolution its art was scaled for
    (the image's own for ours, 72 for potrace's pixel-sized points), with its
    origin at the page's lower left corner: both programs put the image's
    bottom edge at y = 0."""
    w, h, rows = pbm_rows(pbm)
    pgm = os.path.join(work, "render.pgm")
    run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw", "-dGraphicsAlphaBits=4",
         "-dTextAlphaBits=4", "-r%d" % dpi, "-g%dx%d" % (w, h), "-sOutputFile=" + pgm, eps])
    _, rw, rh, maxval, gray = read_pnm(pgm)
    assert (rw, rh) == (w, h), (rw, rh, w, h)
    cut = (maxval + 1) // 2
    ink = b"".join(b"".join(BITS[b] for b in row)[:w] for row in rows)
    drawn = gray[:w * h].translate(bytes(1 if v < cut else 0 for v in range(256)))
    black = ink.count(1)
    xor = (int.from_bytes(ink, "big") ^ int.from_bytes(drawn, "big")).bit_count()
    return xor / black if black else float("nan")


def our_segments(eps):
    """Straight and curved segments of the art body (one operator per line)."""
    text = open(eps, "rb").read().decode("latin-1")
    return sum(1 for line in re.split(r"\r\n|\r|\n", text) if re.search(r"\s[lLcC]$", line))


def potrace_segments(pbm, work):
    """Segments of potrace's own outline, counted in its SVG path data."""
    svg = os.path.join(work, "potrace.svg")
    run(["potrace", "-b", "svg", "-o", svg, pbm])
    count = 0
    for d in re.findall(r'\sd="([^"]*)"', open(svg).read()):
        for cmd, args in re.findall(r"([MmLlCcZz])([^MmLlCcZz]*)", d):
            n = len(re.findall(r"-?[\d.]+", args))
            if cmd in "Cc":
                count += n // 6
            elif cmd in "Ll":
                count += n // 2
            elif cmd in "Mm":
                count += max(n // 2 - 1, 0)
    return count






def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default=DEFAULT_CLI)
    ap.add_argument("--keep", help="keep the images and EPS files in this folder")
    ap.add_argument("--quick", action="store_true", help="two pages only")
    ap.add_argument("--repeat", type=int, default=3, help="runs per program and image; the fastest counts")
    args = ap.parse_args()
    check_tools(("/usr/bin/time", "potrace", "gs", "pdftoppm", "pnmtotiff", "tiffcp", "convert"), args.cli)

    work = args.keep or tempfile.mkdtemp(prefix="tess-bench-")
    os.makedirs(work, exist_ok=True)
    header = ("image", "pixels", "black%", "time ours s", "time refined s", "time potrace s", "ratio",
              "ratio refined", "peak ours MiB", "peak potrace MiB", "segs ours", "segs potrace", "xor ours",
              "xor refined", "xor potrace")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    try:
        pages = PDF_PAGES[:2] if args.quick else PDF_PAGES
        drawings = [] if args.quick else SVG_DRAWINGS
        for name, pbm, dpi in render_inputs(work, pages, drawings):
            w, h, rows = pbm_rows(pbm)
            ink = sum(bin(b).count("1") for r in rows for b in r)
            tif = to_tiff(pbm, dpi, work)
            ours = os.path.join(work, name + ".ours.eps")
            refined = os.path.join(work, name + ".refined.eps")
            theirs = os.path.join(work, name + ".potrace.eps")
            runs = [measured([args.cli, "-q", tif, "-o", ours], work) for _ in range(args.repeat)]
            t_ours, m_ours, rc = min(runs)
            runs = [measured([args.cli, "-q", "--refine-curves", tif, "-o", refined], work) for _ in range(args.repeat)]
            t_ref, _, rc_ref = min(runs)
            runs = [measured(["potrace", "-e", "-c", "-o", theirs, pbm], work) for _ in range(args.repeat)]
            t_pot, m_pot, rc_pot = min(runs)
            ok = rc == 0 and os.path.exists(ours)
            ok_ref = rc_ref == 0 and os.path.exists(refined)
            cells = [name, "%dx%d" % (w, h), "%.1f" % (100.0 * ink / (w * h)),
                     "%.3f" % t_ours if ok else "failed (%d)" % rc,
                     "%.3f" % t_ref if ok_ref else "failed (%d)" % rc_ref, "%.3f" % t_pot,
                     "%.2f" % (t_ours / t_pot) if ok and t_pot > 0 else "-",
                     "%.2f" % (t_ref / t_pot) if ok_ref and t_pot > 0 else "-",
                     "%.1f" % (m_ours / 1024) if ok else "-", "%.1f" % (m_pot / 1024),
                     str(our_segments(ours)) if ok else "-", str(potrace_segments(pbm, work)),
                     "%.4f" % fidelity(pbm, ours, dpi, work) if ok else "-",
                     "%.4f" % fidelity(pbm, refined, dpi, work) if ok_ref else "-",
                     "%.4f" % fidelity(pbm, theirs, 72, work) if rc_pot == 0 else "-"]
            print("| " + " | ".join(cells) + " |", flush=True)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
