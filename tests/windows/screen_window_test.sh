#!/bin/bash
# tests/windows/screen_window_test.sh QOB WORK
# The screen window on a real X server: starts Xvfb on a free display, runs
# qob with a titled form, takes a screenshot of its window from outside
# (xwd, converted by ImageMagick), and compares it pixel for pixel with the
# frame qob presented (QOB_SCREEN_FRAME); then a click sent by xdotool must
# reach the form as a tap at the right client point, and qob must end with
# status 0.
set -u
QOB=$1
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

for tool in Xvfb xwd xdotool convert compare; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps)"; exit 1; }
done

display=""
for n in $(seq 91 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free display"; exit 1; }
Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp > xvfb.log 2>&1 &
xvfb=$!
qob_pid=""
cleanup() {
  [ -n "$qob_pid" ] && kill "$qob_pid" 2> /dev/null
  kill "$xvfb" 2> /dev/null
  wait 2> /dev/null
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done
export DISPLAY=":$display"
unset QOB_HEADLESS QOB_INPUT QOB_SCREEN QOB_SCALE

cat > shot.qob << 'QOB'
FORCELINK FUNC onform(w$, m$, x$, y$)
  IF (m$ == 514)
    showmessage("tap ", y$ MOD 65536, " ", y$ DIV 65536);
    killapp(APPHANDLE$);
  END;
  RETURN(1);
END;

FUNC WINMAIN
  form$ = newform("Screenshot", "ShotForm", &onform);
  RETURN(1);
END;
QOB

QOB_ROOT="$WORK/" QOB_REGISTRY="$WORK/registry" QOB_SCREEN_FRAME="$WORK/frame.png" \
  "$QOB" shot.qob > out.txt 2> err.txt &
qob_pid=$!

window=$(timeout 10 xdotool search --sync --name '^QOB$' | head -1)
[ -n "$window" ] || { echo "no screen window appeared"; cat err.txt; exit 1; }
# The frame settles: the file stops changing.
last=""
for _ in $(seq 100); do
  sleep 0.1
  [ -e frame.png ] || continue
  now=$(stat -c %Y.%s frame.png; md5sum < frame.png)
  [ "$now" = "$last" ] && break
  last=$now
done
[ -e frame.png ] || { echo "no frame was written"; exit 1; }

colours=$(convert frame.png -format %k info:)
[ "$colours" -ge 3 ] || { echo "the frame has $colours colours: no task bar, title and form"; exit 1; }
xwd -id "$window" -silent > shot.xwd || exit 1
convert shot.xwd shot.png || exit 1
differing=$(compare -metric AE shot.png frame.png null: 2>&1)
if [ "$differing" != "0" ]; then
  echo "the screenshot differs from the presented frame in $differing pixels"
  exit 1
fi

xdotool mousemove --window "$window" 120 200 click 1
for _ in $(seq 100); do kill -0 "$qob_pid" 2> /dev/null || break; sleep 0.05; done
wait "$qob_pid"
rc=$?
qob_pid=""
expected="tap 120 174"
if ! grep -qx "$expected" out.txt; then
  echo "expected the line \"$expected\"; got:"
  cat out.txt err.txt
  exit 1
fi
[ "$rc" = 0 ] || { echo "qob ended with status $rc"; cat err.txt; exit 1; }
echo "screenshot equals the presented frame; the click arrived as $expected"
