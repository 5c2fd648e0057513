#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when one is missing.
# Runs apt-get as root, through sudo otherwise; does nothing when all are present.
set -euo pipefail
# The compilers and libraries of the build (the image codecs' and libcurl among them),
# the image tools with which the tests check the files our encoders write, openssl,
# which makes the certificate of the HTTPS tests, and xvfb and xclip: the X
# clipboard's tests run under a virtual display.
packages=(cmake make g++ libgtest-dev libssl-dev libcurl4-openssl-dev python3 clang libclang-rt-14-dev tmux
  xvfb xclip openssl
  libpng-dev libturbojpeg0-dev libgif-dev libtiff-dev
  pngcheck libjpeg-turbo-progs giflib-tools libtiff-tools netpbm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=""; elif command -v sudo >/dev/null; then sudo="sudo"; else
  echo "missing packages: ${missing[*]} (run as root or install them)" >&2; exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
