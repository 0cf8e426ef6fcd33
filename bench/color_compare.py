#!/usr/bin/env python3
"""Traces color pictures shipped by Debian with tessary-cli (--colors
unlimited and limited) and with vtracer (npm @neplex/vectorizer, its
`vectorize` with the default configuration), side by side: wall time, peak
memory, path and segment counts, the mean color difference against the input
and the uncovered pixels.

Each picture is flattened over white by ImageMagick into an 8-bit RGB TIFF
(for tessary-cli) and PNG (for vtracer) of the same pixels. Both arts are
rendered by Ghostscript without anti-aliasing, at the input's size, over a
page painted magenta first: our EPS directly (its CMYK colors through
Ghostscript's default color management), vtracer's SVG after rsvg-convert has
made it a PDF. Uncovered pixels are the magenta ones that show through; the
mean color difference is the mean over pixels and channels of
|rendered - input| (0 to 255). "mean diff svg" renders our SVG art the same
way as vtracer's (RGB fills), which separates the fit of the areas from the
RGB to CMYK conversion of the EPS.

    bench/color_compare.py [--cli PATH] [--vectorizer DIR] [--keep DIR]

--vectorizer names a folder where `npm install @neplex/vectorizer` was run
(default: bench/node, installed there on first use).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from benchlib import DEFAULT_CLI, check_tools, measured, run

HERE = os.path.dirname(os.path.abspath(__file__))

# (name, file, what it is, width to scale to or 0). Pictures that are not
# installed are left out.
PICTURES = [
    ("adwaita-camera-web", "/usr/share/icons/Adwaita/512x512/devices/camera-web.png", "icon", 256),
    ("adwaita-trash", "/usr/share/icons/Adwaita/256x256/places/user-trash.png", "icon", 0),
    ("gnupg-module-overview", "/usr/share/info/gnupg-module-overview.png", "diagram, 16-bit RGB", 0),
    ("sysstat-cpugraph", "/usr/share/doc/sysstat/images/cpugraph.jpg", "chart, JPEG", 0),
    ("wine-photo", "/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg", "photograph, JPEG", 400),
    ("fossa-photo", "/usr/share/backgrounds/Fossa_by_Jasper_Roks.jpg", "photograph, JPEG", 480),
]

VTRACE_JS = r"""
const fs = require('fs');
const { vectorize } = require('@neplex/vectorizer');
(async () => {
  const t0 = process.hrtime.bigint();
  const svg = await vectorize(fs.readFileSync(process.argv[2]));
  const t1 = process.hrtime.bigint();
  fs.writeFileSync(process.argv[3], svg);
  fs.writeFileSync(process.argv[3] + '.ms', String(Number(t1 - t0) / 1e6));
})();
"""


def read_ppm(path):
    b = open(path, "rb").read()
    toks, i = [], 0
    while len(toks) < 4:
        while b[i:i + 1].isspace():
            i += 1
        if b[i:i + 1] == b"#":
            while b[i:i + 1] != b"\n":
                i += 1
            continue
        j = i
        while not b[j:j + 1].isspace():
            j += 1
        toks.append(b[i:j])
        i = j
    i += 1
    w, h = int(toks[1]), int(toks[2])
    return w, h, b[i:i + w * h * 3]


def render(art, w, h, dpi, ppm):
    run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw", "-dGraphicsAlphaBits=1",
         "-dTextAlphaBits=1", "-r%g" % dpi, "-g%dx%d" % (w, h), "-sOutputFile=" + ppm, "-c",
         "<< /BeginPage { gsave 1 0 1 setrgbcolor clippath fill grestore } >> setpagedevice", "-f", art])


def fit(input_ppm, rendered_ppm):
    w, h, a = read_ppm(input_ppm)
    _, _, r = read_ppm(rendered_ppm)
    uncovered = 0
    for i in range(0, len(r), 3):
        if r[i] == 255 and r[i + 1] == 0 and r[i + 2] == 255:
            uncovered += 1
    diff = sum(abs(x - y) for x, y in zip(a, r))
    return diff / (w * h * 3), uncovered


def eps_counts(eps):
    body = open(eps, "rb").read().decode("latin-1")
    body = body[body.find("%%EndSetup"):body.find("%%PageTrailer")]
    ops = body.replace("\r", "\n").split()
    paths = sum(1 for t in ops if t == "m")
    segs = sum(1 for t in ops if t in ("l", "L", "c", "C"))
    return paths, segs


def svg_counts(svg):
    text = open(svg).read()
    datas = re.findall(r'\sd="([^"]*)"', text)
    per = {"L": 2, "C": 6, "Q": 4, "S": 4, "T": 2, "H": 1, "V": 1}
    segs = 0
    for d in datas:
        for cmd, args in re.findall(r"([A-Za-z])([^A-Za-z]*)", d):
            n = len(re.findall(r"-?[0-9.]+(?:e-?[0-9]+)?", args))
            c = cmd.upper()
            if c == "M":
                segs += max(0, n // 2 - 1)
            elif c in per:
                segs += n // per[c]
    return len(datas), segs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", default=DEFAULT_CLI)
    ap.add_argument("--vectorizer", default=os.path.join(HERE, "node"))
    ap.add_argument("--keep")
    args = ap.parse_args()
    check_tools(["gs", "convert", "rsvg-convert", "node", "npm", "/usr/bin/time"], args.cli)
    if not os.path.isdir(os.path.join(args.vectorizer, "node_modules", "@neplex", "vectorizer")):
        os.makedirs(args.vectorizer, exist_ok=True)
        run(["npm", "install", "--prefix", args.vectorizer, "@neplex/vectorizer"])
    work = args.keep or tempfile.mkdtemp(prefix="tess-color-")
    os.makedirs(work, exist_ok=True)
    script = os.path.join(work, "vtrace.js")
    open(script, "w").write(VTRACE_JS)
    env_node = dict(os.environ, NODE_PATH=os.path.join(args.vectorizer, "node_modules"))

    cols = ["image", "pixels", "tool", "time s", "peak MiB", "paths", "segments", "mean diff", "mean diff svg",
            "uncovered"]
    print("| " + " | ".join(cols) + " |")
    print("|" + "---|" * len(cols))
    for name, src, what, width in PICTURES:
        if not os.path.exists(src):
            print("# left out (not installed): " + src, file=sys.stderr)
            continue
        base = os.path.join(work, name)
        scale = ["-resize", "%dx" % width] if width else []
        flat = [src] + scale + ["-background", "white", "-alpha", "remove", "-alpha", "off", "-depth", "8",
                                "-units", "PixelsPerInch", "-density", "72"]
        run(["convert"] + flat + ["-type", "TrueColor", base + ".tif"])
        run(["convert"] + flat + ["-type", "TrueColor", "png24:" + base + ".png"])
        run(["convert", base + ".tif", base + "-in.ppm"])
        w, h, _ = read_ppm(base + "-in.ppm")
        rows = []
        for mode in ("unlimited", "limited"):
            eps = base + "-" + mode + ".eps"
            best = None
            for _ in range(3):
                t, peak, rc = measured([args.cli, "-q", "-r", "--colors", mode, base + ".tif", "-o", eps], work)
                if rc != 0:
                    sys.exit("bench: tessary-cli failed on " + name)
                best = (t, peak) if best is None or t < best[0] else best
            render(eps, w, h, 72, base + "-" + mode + ".ppm")
            diff, unc = fit(base + "-in.ppm", base + "-" + mode + ".ppm")
            paths, segs = eps_counts(eps)
            ours = base + "-" + mode + ".svg"
            run([args.cli, "-q", "-r", "--colors", mode, base + ".tif", "-o", ours])
            run(["rsvg-convert", "-f", "pdf", "-o", ours + ".pdf", ours])
            render(ours + ".pdf", w, h, 72, ours + ".ppm")  # its units are points
            diff_svg, _ = fit(base + "-in.ppm", ours + ".ppm")
            rows.append(("tessary " + mode, best[0], best[1], paths, segs, diff, diff_svg, unc))
        svg = base + "-vtracer.svg"
        best = None
        for _ in range(3):
            report = os.path.join(work, "time.txt")
            rc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, "node", script, base + ".png", svg],
                                env=env_node, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
            if rc != 0:
                sys.exit("bench: vectorize failed on " + name)
            t = float(open(svg + ".ms").read()) / 1000
            peak = int(open(report).read().split()[-1])
            best = (t, peak) if best is None or t < best[0] else best
        run(["rsvg-convert", "-f", "pdf", "-o", base + "-vtracer.pdf", svg])
        # rsvg-convert makes a pixel 0.75 point (96 per inch).
        render(base + "-vtracer.pdf", w, h, 96, base + "-vtracer.ppm")
        diff, unc = fit(base + "-in.ppm", base + "-vtracer.ppm")
        paths, segs = svg_counts(svg)
        rows.append(("vtracer", best[0], best[1], paths, segs, diff, diff, unc))
        for tool, t, peak, paths, segs, diff, diff_svg, unc in rows:
            print("| %s | %dx%d | %s | %.3f | %.1f | %d | %d | %.2f | %.2f | %d |" %
                  (name, w, h, tool, t, peak / 1024.0, paths, segs, diff, diff_svg, unc))
        sys.stdout.flush()
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
