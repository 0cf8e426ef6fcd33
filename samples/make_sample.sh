#!/usr/bin/env bash
# Renders sample.ps (a 4 x 2.5 inch drawing) into the bundled one-bit 300-dpi
# TIFF (PackBits).
set -euo pipefail
cd "$(dirname "$0")"
gs -q -dSAFER -dBATCH -dNOPAUSE -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=180 -dFIXEDMEDIA \
  -sDEVICE=tiffpack -r300 -sOutputFile=sample.tif sample.ps
