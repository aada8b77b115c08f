#!/usr/bin/env bash
# End-to-end check of the real window under Xvfb: the program opens its
# dialog, a person types an archive and a folder and chooses Extract from
# the menu bar, the archive extracts byte for byte, the outcome message is
# shown, and Esc ends the program with status 0.
# The About box stands over the dialog, on screen and no wider than it; a
# 200 MB extraction shows its progress bar while it runs; a lost display
# connection is reported as such.
# Screenshots: BUILD_DIR/ui-e2e.png (the message over the dialog),
# ui-about.png and ui-progress.png.
# Usage: tests/ui/xvfb-e2e.sh [BUILD_DIR]   (needs xvfb, xdotool, imagemagick)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
program="$build/tovrin-unpacker"
[ -x "$program" ] || { echo "xvfb-e2e: no program at $program" >&2; exit 1; }
for tool in Xvfb xdotool import convert identify gzip cmp; do
  command -v "$tool" >/dev/null || { echo "xvfb-e2e: $tool is missing" >&2; exit 1; }
done

work="$(mktemp -d /tmp/tovrin-xvfb-XXXXXX)"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "xvfb-e2e: no free display" >&2; exit 1; }
Xvfb "$display" -screen 0 480x400x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/root/in" "$work/config"
head -c 300000 /dev/urandom >"$work/expected"
gzip -9 -n -c "$work/expected" >"$work/root/in/sample.gz"

start() { (cd "$work" && TOVRIN_ROOT="$work/root" XDG_CONFIG_HOME="$work/config" "$program") >"$work/$1" 2>&1 & app_pid=$!; }
start out.log

window="$(timeout 15 xdotool search --sync --onlyvisible --name '^Tovrin UnPacker$' | head -1)"
[ -n "$window" ] || { echo "xvfb-e2e: the dialog did not open" >&2; cat "$work/out.log" >&2; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"

# The file field has the focus when the dialog opens; Tab leads to the
# extract path, which shows the stored path (the root) until replaced.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool type --delay 15 '\in\sample.gz'
xdotool key Tab ctrl+a
xdotool type --delay 15 '\out'
# "Extract", the first item of the menu bar along the bottom.
extract() { xdotool mousemove --window "$window" 20 $((HEIGHT - 12)) click 1; }
# Tools > the entry that many Downs reach.
tools() { xdotool mousemove --window "$window" 70 $((HEIGHT - 12)) click 1; sleep 0.4; xdotool key $(printf 'Down %.0s' $(seq "$1")) Return; }
fail() { echo "xvfb-e2e: $1" >&2; import -window root "$build/ui-e2e-failure.png" || true; exit 1; }
extract

for _ in $(seq 100); do [ -f "$work/root/out/sample" ] && break; sleep 0.1; done
sleep 1
cmp -s "$work/expected" "$work/root/out/sample" || fail "the extracted file is missing or differs (see $build/ui-e2e-failure.png)"
import -window root "$build/ui-e2e.png"
xdotool key Return  # closes the message
sleep 0.5

# Tools > About: a box of its own over the dialog, inside the dialog's width
# and the screen, with the OK button on screen.
tools 4
about=""
for _ in $(seq 50); do
  about="$(xdotool search --onlyvisible --name '^Tovrin UnPacker$' | grep -vx "$window" | head -1 || true)"
  [ -n "$about" ] && break; sleep 0.1
done
[ -n "$about" ] || fail "the About box did not open"
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$about" | sed 's/^/M_/')"
import -window root "$build/ui-about.png"
[ "$(identify -format '%wx%h' "$build/ui-about.png")" = 480x400 ] || fail "unexpected screenshot size"
[ "$M_WIDTH" -le "$WIDTH" ] && [ "$M_X" -ge "$X" ] && [ $((M_X + M_WIDTH)) -le $((X + WIDTH)) ] &&
  [ "$M_Y" -ge 0 ] && [ $((M_Y + M_HEIGHT)) -le 400 ] ||
  fail "the About box ($M_WIDTH x $M_HEIGHT at $M_X,$M_Y) is not over the dialog ($WIDTH x $HEIGHT at $X,$Y)"
xdotool key Return
sleep 0.5

# A 200 MB stream: the bar under the status line fills while it runs.
head -c 200000000 /dev/zero | gzip -1 >"$work/root/in/zeros.gz"
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool mousemove --window "$window" 120 27 click 1 key ctrl+a
xdotool type --delay 15 '\in\zeros.gz'
extract
for _ in $(seq 200); do
  size="$(stat -c %s "$work/root/out/zeros" 2>/dev/null || echo 0)"
  [ "$size" -gt 40000000 ] && break; sleep 0.02
done
import -window root "$build/ui-progress.png"
[ "$size" -lt 200000000 ] || echo "xvfb-e2e: the extraction ended before the screenshot" >&2
# The bar is the lowest row above the menu bar; its filled part is blue.
blue="$(convert "$build/ui-progress.png" -crop "${WIDTH}x14+${X}+$((Y + HEIGHT - 26 - 16))" +repage \
  -fill black +opaque '#0000FF' -format '%[fx:mean*w*h]' info:)"
[ "${blue%.*}" -gt 0 ] || fail "no progress bar mid-extraction (see $build/ui-progress.png)"
for _ in $(seq 300); do
  [ "$(stat -c %s "$work/root/out/zeros" 2>/dev/null || echo 0)" = 200000000 ] && break; sleep 0.1
done
sleep 1
xdotool key Return
sleep 0.5

# Close the dialog.
xdotool mousemove --window "$window" 120 200 click 1
xdotool key Escape
status=""
for _ in $(seq 50); do
  if ! kill -0 "$app_pid" 2>/dev/null; then wait "$app_pid" && status=0 || status=$?; break; fi
  sleep 0.1
done
app_pid=""
[ "$status" = "0" ] || fail "the program did not end with status 0 after Esc (status '${status}')"
# A display that goes away under a running dialog is reported as such.
start lost.log
timeout 15 xdotool search --sync --onlyvisible --name '^Tovrin UnPacker$' >/dev/null
kill "$xvfb_pid"; xvfb_pid=""
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
app_pid=""
grep -q "lost the connection to the display" "$work/lost.log" ||
  fail "a lost display was reported as: $(cat "$work/lost.log")"
echo "xvfb-e2e: 1 passed, 0 failed (screenshots: $build/ui-e2e.png, ui-about.png, ui-progress.png)"
