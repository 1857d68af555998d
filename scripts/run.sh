#!/usr/bin/env bash
# Sets up, builds and starts the saver.
#
# On a desktop (DISPLAY reachable) the saver runs full screen until a key, a
# click or a mouse movement ends it. Without one it starts its own Xvfb, lets
# the saver run for a few seconds, and saves screenshots under out/.
#
# The settings live in ${XDG_CONFIG_HOME:-$HOME/.config}/rovanta/rovanta.cfg
# (the program's own default); change them with: build/release/tools/rovanta/rovanta /c
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/setup.sh
BUILD="${BUILD_DIR:-build/release}"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target rovanta -j "${JOBS:-$(nproc)}"
SAVER="$(cd "$BUILD" && pwd)/tools/rovanta/rovanta"

case "${XDG_CONFIG_HOME:-}" in
  /*) SETTINGS="$XDG_CONFIG_HOME/rovanta/rovanta.cfg" ;;
  *) SETTINGS="$HOME/.config/rovanta/rovanta.cfg" ;;
esac
SETTINGS="${ROVANTA_CONFIG:-$SETTINGS}"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "run: full screen on $DISPLAY; a key, a click or moving the mouse ends it"
  echo "run: settings in $SETTINGS; the dialog: $SAVER /c"
  exec "$SAVER" /s
fi

echo "run: no display; starting Xvfb"
OUT="$ROOT/out"
mkdir -p "$OUT"
FIFO="$(mktemp -u)"
mkfifo "$FIFO"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -br 3>"$FIFO" >/dev/null 2>&1 &
XVFB=$!
read -r -t 20 NUMBER <"$FIFO" || true
rm -f "$FIFO"
cleanup() {
  [ -n "${SAVER_PID:-}" ] && kill "$SAVER_PID" 2>/dev/null || true
  kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${NUMBER:-}" ]; then
  echo "run: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$NUMBER"

"$SAVER" /s &
SAVER_PID=$!
shots=()
for i in 1 2 3; do
  sleep 1.5
  shot="$OUT/rovanta-$i.png"
  import -window root "$shot"
  shots+=("$shot")
done
kill -TERM "$SAVER_PID"
status=0
wait "$SAVER_PID" || status=$?
SAVER_PID=""

"$SAVER" /c &
SAVER_PID=$!
sleep 2
import -window root "$OUT/rovanta-dialog.png"
shots+=("$OUT/rovanta-dialog.png")
kill -TERM "$SAVER_PID"
wait "$SAVER_PID" || true
SAVER_PID=""

echo "run: the saver ran on $DISPLAY and ended with status $status"
echo "run: screenshots:"
printf '  %s\n' "${shots[@]}"
