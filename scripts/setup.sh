#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when any is missing.
set -euo pipefail
packages=(cmake make g++ gcc clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  binutils libfreetype-dev fonts-ocr-b libleptonica-dev libtiff-dev libpoppler-private-dev
  libpng-dev libjpeg-dev zlib1g-dev fonts-dejavu-core pkg-config python3 python3-numpy python3-pybind11 python3-pytest python3-pil
  python3-dask python3-distributed python3-setuptools python3-pip python3-venv python3-dev
  parallel man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
