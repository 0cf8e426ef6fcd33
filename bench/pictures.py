#!/usr/bin/env python3
"""Traces PNG and JPEG pictures shipped by Debian end to end, file to EPS
file, with tessary-cli and with potrace, and prints the wall time and peak
memory of both. Gray and color pictures give no paths until the color
separation exists, so each picture is first cut at 50 % into a one-bit PNG
by netpbm (decode, ppmtopgm, pgmtopbm -threshold, pnmtopng); tessary-cli
reads that PNG itself, potrace gets it through pngtopnm.

    bench/pictures.py [--cli PATH] [--repeat N] [--keep DIR]
"""
import argparse
import os
import shlex
import shutil
import tempfile

from benchlib import DEFAULT_CLI, check_tools, measured, run

# (name, file, what it is). Pictures that are not installed are left out.
PICTURES = [
    ("adwaita-folder-pictures", "/usr/share/icons/Adwaita/512x512/places/folder-pictures.png",
     "icon, 512x512 RGBA"),
    ("adwaita-input-keyboard", "/usr/share/icons/Adwaita/512x512/devices/input-keyboard.png",
     "icon, 512x512 RGBA"),
    ("gnupg-module-overview", "/usr/share/info/gnupg-module-overview.png", "diagram, 16-bit RGB"),
    ("valgrind-dh-tree", "/usr/share/doc/valgrind/html/images/dh-tree.png", "screenshot, RGB"),
    ("sysstat-cpugraph", "/usr/share/doc/sysstat/images/cpugraph.jpg", "chart, JPEG"),
    ("lomiri-wallpaper", "/usr/share/backgrounds/lomiri-default-background.png", "wallpaper, 4096x2304 RGB"),
]


def threshold(path, png):
    """The picture cut at 50 % into a one-bit PNG."""
    run(["bash", "-c", "%s | ppmtopgm | pgmtopbm -threshold | pnmtopng > %s" % (decoder(path), shlex.quote(png))])


def decoder(path):
    """The netpbm command that decodes the picture to PNM; transparency is
    composed over white, as our reader does."""
    if path.endswith(".jpg") or path.endswith(".jpeg"):
        return "jpegtopnm " + shlex.quote(path)
    return "pngtopnm -mix -background white " + shlex.quote(path)


def fastest(cmd, output, work, repeat):
    best = None
    for _ in range(repeat):
        if os.path.exists(output):
            os.remove(output)
        seconds, peak, rc = measured(cmd, work)
        if rc != 0:
            raise SystemExit("bench: failed: " + " ".join(cmd))
        best = (seconds, peak) if best is None or seconds < best[0] else best
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", default=DEFAULT_CLI)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--keep", help="keep the pictures and both EPS files in this folder")
    args = ap.parse_args()
    check_tools(["potrace", "pngtopnm", "jpegtopnm", "ppmtopgm", "pgmtopbm", "cjpeg", "pnmtopng", "/usr/bin/time"], args.cli)

    work = args.keep or tempfile.mkdtemp(prefix="tessary-pictures-")
    os.makedirs(work, exist_ok=True)
    pictures = [p for p in PICTURES if os.path.exists(p[1])]
    for name, path, _ in PICTURES:
        if not os.path.exists(path):
            print("# left out (not installed): " + path)
    # The wallpaper once more as a JPEG photo, made by libjpeg-turbo's cjpeg.
    wall = [p for p in pictures if p[0] == "lomiri-wallpaper"]
    if wall:
        jpeg = os.path.join(work, "lomiri-wallpaper.jpg")
        run(["bash", "-c", "pngtopnm %s | cjpeg -quality 90 > %s" % (shlex.quote(wall[0][1]), shlex.quote(jpeg))])
        pictures.append(("lomiri-wallpaper-jpeg", jpeg, "the wallpaper as JPEG, quality 90"))

    print("| picture | kind | pixels | time ours s | time potrace s | ratio | peak ours MiB | peak potrace MiB |")
    print("|---|---|---|---|---|---|---|---|")
    for name, path, kind in pictures:
        size = run(["identify", "-format", "%wx%h", path]).stdout.decode().strip()
        png = os.path.join(work, name + ".1bit.png")
        threshold(path, png)
        ours_eps = os.path.join(work, name + ".tessary.eps")
        theirs_eps = os.path.join(work, name + ".potrace.eps")
        ours = fastest([args.cli, "-q", png, "-o", ours_eps], ours_eps, work, args.repeat)
        pipeline = "pngtopnm %s | potrace -e -o %s" % (shlex.quote(png), shlex.quote(theirs_eps))
        theirs = fastest(["bash", "-c", pipeline], theirs_eps, work, args.repeat)
        print("| %s | %s | %s | %.3f | %.3f | %.2f | %.1f | %.1f |" % (
            name, kind, size, ours[0], theirs[0], ours[0] / theirs[0], ours[1] / 1024.0, theirs[1] / 1024.0))
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
