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
# The art and its rendering go to out/NAME.eps and out/NAME.png, or to
# out/NAME-traced.* when either would be the input itself (an image kept in
# out/): nothing the user has is ever written over.
same_as_input() { [ "$(realpath -m -- "$1")" = "$(realpath -m -- "$input")" ]; }
stem="$root/out/$base"
while same_as_input "$stem.eps" || same_as_input "$stem.png"; do stem="$stem-traced"; done
eps="$stem.eps"
png="$stem.png"
# Status 3: the art was saved but is incomplete (the line above said so).
"$root/build/bin/tessary-cli" "$@" "$input" -o "$eps" || [ $? -eq 3 ]
# The page is the art's bounding box (read here: the art file writes it with no
# blank after the colon and with carriage returns, which -dEPSCrop overlooks).
read -r w h < <(tr '\r' '\n' < "$eps" | sed -n 's/^%%BoundingBox: *0 0 \([0-9]*\) \([0-9]*\).*/\1 \2/p' | head -1)
gs -q -dSAFER -dBATCH -dNOPAUSE -dDEVICEWIDTHPOINTS="${w:-612}" -dDEVICEHEIGHTPOINTS="${h:-792}" -dFIXEDMEDIA \
   -sDEVICE=png16m -r150 -dGraphicsAlphaBits=4 -sOutputFile="$png" "$eps"
# The page may be larger than the drawing (a standard paper size): keep the
# drawing with a small margin.
convert "$png" -strip -trim +repage -bordercolor white -border 20 "$png"
echo "traced:   $eps"
echo "rendered: $png"
