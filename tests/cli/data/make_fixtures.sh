#!/usr/bin/env bash
# Renders drawing.ps (our own) to a one-bit image at 200 dpi and writes it in
# the input formats of tessary-cli with third-party tools: TIFF (netpbm,
# then libtiff's tiffcp for PackBits and Group 4), PCX, Sun raster, MacPaint,
# PNG, GIF and BMP (netpbm). The files are committed; run this only to
# remake them.
set -euo pipefail
cd "$(dirname "$0")"
gs -q -dSAFER -dBATCH -dNOPAUSE -dDEVICEWIDTHPOINTS=144 -dDEVICEHEIGHTPOINTS=96 -dFIXEDMEDIA -sDEVICE=pbmraw -r200 -sOutputFile=drawing.pbm drawing.ps
pnmtotiff -xresolution 200 -yresolution 200 drawing.pbm > raw.tif
tiffcp -c packbits raw.tif drawing.tif
tiffcp -c g4 raw.tif drawing-g4.tif
rm raw.tif
ppmtopcx drawing.pbm > drawing.pcx
pnmtorast -standard drawing.pbm > drawing.sun
pbmtomacp drawing.pbm > drawing.pnt
pnmtopng -size "7874 7874 1" drawing.pbm > drawing.png
pamtogif drawing.pbm > drawing.gif 2>/dev/null
ppmtobmp drawing.pbm > drawing.bmp 2>/dev/null
