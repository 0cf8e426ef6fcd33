#!/usr/bin/env bash
# Renders sample.ps into the bundled one-bit 300-dpi TIFF (PackBits).
set -euo pipefail
cd "$(dirname "$0")"
gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -sDEVICE=tiffpack -r300 -sOutputFile=sample.tif sample.ps
