#!/usr/bin/env bash
# Installs what the build, the tests and the benchmark need, only when missing.
# Safe to run again: a machine that has everything installs nothing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config clang libfuzzer-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev
  ghostscript libtiff-tools libtiff-dev netpbm imagemagick
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libgif-dev libwebp-dev
  libjpeg-turbo-progs webp optipng pngcrush
  python3 python3-ezdxf potrace poppler-utils time
  libxml2-utils librsvg2-bin qpdf
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
