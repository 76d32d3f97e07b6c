#!/bin/bash
# tests/display/screen/present_window_test.sh PROGRAM WORK
# A frame in the SDL2 screen window on an X server of its own: Xvfb on a free
# display (-displayfd), the program draws and presents its frame, upright and
# turned a quarter, on the desktop device (window layer's driver), on a
# simulated XScale LCD controller and on a simulated MediaQ graphics chip
# (the panel in video memory, shown in the window); xwd captures the window
# from outside, ImageMagick turns it into raw RGB, and every pixel must be
# the program's frame in RGB565. Without DISPLAY the same program gives the
# same screen headless.
set -u
PROGRAM=$1
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

for tool in Xvfb xwd convert; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps)"; exit 1; }
done
unset QOB_HEADLESS QOB_SCREEN QOB_SCALE

exec 3> display.txt
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp > xvfb.log 2>&1 &
xvfb=$!
exec 3>&-
program=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2> /dev/null
  kill "$xvfb" 2> /dev/null
  wait 2> /dev/null
}
trap cleanup EXIT
for _ in $(seq 200); do [ -s display.txt ] && break; sleep 0.05; done
number=$(head -1 display.txt)
[ -n "$number" ] || { echo "Xvfb did not start"; cat xvfb.log; exit 1; }

status=0
# device, the driver that shows its frames
for row in "desktop gdi" "xscale xscale" "mediaq slowfb"; do
read -r device driver <<< "$row"
for orientation in 0 1; do
  rm -f stop out.txt
  DISPLAY=":$number" "$PROGRAM" show "$device" "$orientation" "screen$device$orientation.rgb" stop > out.txt 2> err$device$orientation.txt &
  program=$!
  for _ in $(seq 200); do grep -q "^shown" out.txt && break; kill -0 "$program" 2> /dev/null || break; sleep 0.05; done
  if ! grep -qx "shown in the screen window" out.txt; then
    echo "$device, orientation $orientation: the frame was not shown in a window"; cat out.txt "err$device$orientation.txt"; exit 1
  fi
  grep -qx "driver $driver" out.txt ||
    { echo "$device, orientation $orientation: not shown by the $driver driver"; cat out.txt; status=1; }
  # The program's own screen surface is its frame; now the server's copy.
  matched=""
  for _ in $(seq 20); do
    if xwd -display ":$number" -name QOB -silent > shot.xwd 2> /dev/null &&
       convert shot.xwd -depth 8 "rgb:shot$device$orientation.rgb" &&
       "$PROGRAM" compare "$device" "$orientation" "shot$device$orientation.rgb" > compare.txt; then
      matched=1; break
    fi
    sleep 0.1
  done
  touch stop
  wait "$program"; rc=$?; program=""
  [ "$rc" = 0 ] || { echo "$device, orientation $orientation: the program ended with $rc"; cat out.txt; status=1; }
  if [ -z "$matched" ]; then
    echo "$device, orientation $orientation: the captured window is not the frame:"; cat compare.txt; status=1
  fi
  # Headless, the same screen.
  env -u DISPLAY "$PROGRAM" show "$device" "$orientation" "headless$device$orientation.rgb" stop > headless.txt 2>&1 ||
    { echo "$device, orientation $orientation: headless run failed"; cat headless.txt; status=1; }
  grep -qx "shown headless" headless.txt || { echo "$device, orientation $orientation: not headless"; cat headless.txt; status=1; }
  cmp -s "screen$device$orientation.rgb" "headless$device$orientation.rgb" ||
    { echo "$device, orientation $orientation: the headless screen differs from the windowed one"; status=1; }
done
done
[ "$status" = 0 ] && echo "the captured window equals the frame on each device, upright and turned; headless gives the same"
exit $status
