#!/usr/bin/env bash
# Traces an image (the bundled sample when none is given) into an EPS file
# beside it, and renders that EPS with Ghostscript to a PNG for a look.
#   scripts/run.sh [IMAGE] [tessary-cli options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build" >/dev/null

input="${1:-$root/samples/sample.tif}"
[ $# -gt 0 ] && shift
mkdir -p "$root/out"
base="$(basename "${input%.*}")"
eps="$root/out/$base.eps"
png="$root/out/$base.png"
"$root/build/bin/tessary-cli" "$@" "$input" -o "$eps"
gs -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop -sDEVICE=png16m -r150 -sOutputFile="$png" "$eps"
echo "traced:   $eps"
echo "rendered: $png"
