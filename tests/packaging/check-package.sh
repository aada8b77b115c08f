#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR and checks it as a user would meet
# it: unpacked into a scratch root, the program runs, its desktop entry
# validates, its manual page renders and says what --help says, its icons are
# there at every size the desktop entry's theme lookup needs, lintian finds no
# error; then installed with apt and purged again, leaving nothing behind.
#   tests/packaging/check-package.sh BUILD_DIR
# Needs root for the install step (CI runs as root); set
# TOVRIN_PACKAGE_NO_INSTALL=1 to check only the unpacked package.
set -euo pipefail
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
cmake --build "$build" --target tovrin-unpacker compressed-docs -j"${JOBS:-2}" > /dev/null
rm -f "$build"/tovrin-unpacker_*.deb
(cd "$build" && cpack -G DEB > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb="$build/tovrin-unpacker_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb (made: $(ls "$build"/*.deb 2>/dev/null))"
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libfltk1.3 zlib1g libbz2 libminizip; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

# The unpacked package.
root="$scratch/root"
dpkg -x "$deb" "$root"
program="$root/usr/bin/tovrin-unpacker"
[ "$("$program" --version)" = "tovrin-unpacker $version" ] || fail "--version says: $("$program" --version)"
entry="$root/usr/share/applications/tovrin-unpacker.desktop"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Exec=tovrin-unpacker %f' "$entry" || fail "desktop entry lacks Exec=tovrin-unpacker %f"
icon="$(sed -n 's/^Icon=//p' "$entry")"
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$png" ] || fail "no icon $png"
  file "$png" | grep -q "PNG image data, $size x $size," || fail "$png: $(file -b "$png")"
done
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"

# Every type of our own that the entry lists is declared in the MIME XML.
for type in $(sed -n 's/^MimeType=//p' "$entry" | tr ';' '\n' | grep '^application/x-tovrin-'); do
  grep -q "type=\"$type\"" "$root/usr/share/mime/packages/tovrin-unpacker.xml" || fail "$type listed, not declared"
done

# The manual page renders and holds every entry of --help's lists.
manual="$scratch/manual.txt"
LC_ALL=C MANWIDTH=200 man -l "$root/usr/share/man/man1/tovrin-unpacker.1.gz" 2> "$scratch/man.err" |
  col -b > "$manual"
[ -s "$manual" ] && [ ! -s "$scratch/man.err" ] || fail "man -l: $(cat "$scratch/man.err")"
flat="$(tr -s ' \t\n' '   ' < "$manual")"
while IFS= read -r line; do
  if [[ "$line" =~ ^\ \ (.+[^ ])\ \ +(.+)$ ]]; then
    for part in "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"; do
      [[ "$flat" == *"$part"* ]] || fail "--help says \"$part\"; the manual page does not"
    done
  fi
done < <("$program" --help)

lintian --tag-display-limit 0 "$deb" > "$scratch/lintian" 2>&1 || true
if grep '^E:' "$scratch/lintian"; then fail "lintian reports errors"; fi

# Installed with apt and purged: the files it brought go, nothing stays.
if [ "${TOVRIN_PACKAGE_NO_INSTALL:-0}" = 1 ]; then
  echo "check-package: $deb checked unpacked (install step skipped)"
  exit 0
fi
[ "$(id -u)" = 0 ] || fail "the install step needs root (or TOVRIN_PACKAGE_NO_INSTALL=1)"
if dpkg-query -W -f='${Status}' tovrin-unpacker 2>/dev/null | grep -q 'installed'; then
  fail "tovrin-unpacker is installed on this machine already; remove it first"
fi
watched=(/usr/bin /usr/share/applications /usr/share/icons/hicolor /usr/share/mime /usr/share/man/man1 /usr/share/doc /var/lib/dpkg/info)
snapshot() { find "${watched[@]}" -xdev \( -type f -o -type l \) 2>/dev/null | grep -v -E '/(mimeinfo|icon-theme)\.cache$' | sort; }
snapshot > "$scratch/before"
apt=(apt-get -y -q -o DPkg::Lock::Timeout=300 --no-install-recommends)
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "$deb" > "$scratch/apt-install.log" 2>&1 ||
  { cat "$scratch/apt-install.log"; fail "apt-get install failed"; }
status=0
[ "$(tovrin-unpacker --version)" = "tovrin-unpacker $version" ] || status=1
DEBIAN_FRONTEND=noninteractive "${apt[@]}" remove --purge tovrin-unpacker > "$scratch/apt-remove.log" 2>&1 ||
  { cat "$scratch/apt-remove.log"; fail "apt-get remove --purge failed"; }
[ "$status" = 0 ] || fail "the installed program does not run --version"
snapshot > "$scratch/after"
if ! diff "$scratch/before" "$scratch/after"; then fail "install and purge changed the files above"; fi
echo "check-package: $deb installs, runs and purges cleanly"
