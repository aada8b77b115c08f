#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libbz2-dev libminizip-dev libfltk1.3-dev libgtest-dev
  clang libclang-rt-14-dev
  gzip pigz bzip2 ncompress 7zip libarchive-tools time
  zip unzip arj lhasa sharutils uudeview mpack gcab python3
  xvfb xdotool imagemagick
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages and not root; install them with: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
