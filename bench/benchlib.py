"""What the benchmark scripts share: running and measuring a program, and
rendering drawings that nobody on the project made (pages of Debian's PDF
manuals and diagrams shipped by Debian) into one-bit images."""
import gzip
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_CLI = os.path.join(ROOT, "build", "bin", "tessary-cli")


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def measured(cmd, work):
    """Runs cmd; returns (seconds, peak resident KiB, exit status). GNU time
    reports the peak, so that the figure is the program's own and not that of
    this script (a child started by vfork inherits its parent's high-water
    mark)."""
    report = os.path.join(work, "time.txt")
    start = time.perf_counter()
    rc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    words = open(report).read().split()
    return elapsed, int(words[-1]) if words else 0, rc


def check_tools(tools, cli):
    for tool in tools:
        if not shutil.which(tool):
            sys.exit("bench: %s is missing (bash scripts/setup.sh installs it)" % tool)
    if not os.access(cli, os.X_OK):
        sys.exit("bench: %s is missing (build the tessary-cli target)" % cli)


def render_inputs(work, pdf_pages, drawings):
    """Yields (name, pbm path, dpi) for each installed input: PDF pages by
    pdftoppm -mono (at 300 dpi unless the entry names its own resolution as a
    fourth item), drawings by ImageMagick, thresholded at 50 %."""
    for name, src, page, *res in pdf_pages:
        dpi = res[0] if res else 300
        if not os.path.exists(src):
            print("# left out (not installed): " + src, file=sys.stderr)
            continue
        pdf = os.path.join(work, os.path.basename(src).replace(".gz", ""))
        if not os.path.exists(pdf):
            opener = gzip.open if src.endswith(".gz") else open
            with opener(src, "rb") as f, open(pdf, "wb") as out:
                shutil.copyfileobj(f, out)
        base = os.path.join(work, name)
        run(["pdftoppm", "-mono", "-r", str(dpi), "-f", str(page), "-l", str(page), "-singlefile", pdf, base])
        yield name, base + ".pbm", dpi
    for name, src, density in drawings:
        if not os.path.exists(src):
            print("# left out (not installed): " + src, file=sys.stderr)
            continue
        pbm = os.path.join(work, name + ".pbm")
        run(["convert", "-density", str(density), src, "-background", "white", "-flatten", "-colorspace", "gray",
             "-threshold", "50%", "pbm:" + pbm])
        yield name, pbm, density


def to_tiff(pbm, dpi, work):
    """The PBM as a PackBits TIFF with its resolution, written by netpbm and
    libtiff."""
    raw = os.path.join(work, "raw.tif")
    with open(raw, "wb") as out:
        subprocess.run(["pnmtotiff", "-xresolution", str(dpi), "-yresolution", str(dpi), pbm], stdout=out,
                       stderr=subprocess.DEVNULL, check=True)
    tif = pbm[:-4] + ".tif"
    run(["tiffcp", "-c", "packbits", raw, tif])
    return tif
