#!/usr/bin/env bash
# Installs the Debian packages that are missing, run as root on Debian 12.
#   install-deps.sh build   what building, packaging and running the program needs
#   install-deps.sh test    that, and what the tests and the benchmarks add
#   install-deps.sh --list build|test   prints the list and installs nothing
# scripts/check-build-deps.sh checks that the build list names every package
# the configure and build steps really read from.
set -euo pipefail

build_packages=(
  build-essential cmake pkg-config dpkg-dev file
  zlib1g-dev libbz2-dev libminizip-dev libfltk1.3-dev libx11-dev
)

test_packages=(
  libgtest-dev
  clang libclang-rt-14-dev
  gzip pigz bzip2 ncompress 7zip libarchive-tools time strace
  zip unzip arj lhasa sharutils uudeview mpack gcab python3
  xvfb xdotool imagemagick
  desktop-file-utils lintian man-db
)

list_only=0
if [ "${1:-}" = "--list" ]; then
  list_only=1
  shift
fi
case "${1:-test}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [--list] build|test" >&2; exit 2 ;;
esac
if [ "$list_only" = 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

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
