#!/usr/bin/env bash
# Measures the desktop targets (not a test: the figures go into reports).
#   1. CPU share of the running saver at 1920x1080 with the default settings,
#      from /proc over 10 s.
#   2. Ticks per second with six 1000x1000 pictures at pointStep 1, from the
#      frame log the desktop backend writes.
# Usage: tests/desktop/measure_targets.sh path/to/rovanta
set -euo pipefail
SAVER="$(realpath "${1:?path to rovanta}")"
WORK="$(mktemp -d)"
FIFO="$WORK/displayfd"
mkfifo "$FIFO"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -br 3>"$FIFO" >/dev/null 2>&1 &
XVFB=$!
read -r NUMBER <"$FIFO"
export DISPLAY=":$NUMBER"
trap 'kill $XVFB 2>/dev/null; rm -rf "$WORK"' EXIT
HZ=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

measure() {  # label, then environment for the saver
  local label=$1; shift
  env "$@" ROVANTA_FRAME_LOG="$WORK/frames" "$SAVER" /s &
  local pid=$!
  sleep 2
  local t0 c0 t1 c1 f0 f1
  t0=$(date +%s.%N); c0=$(cpu_ticks $pid); f0=$(wc -l <"$WORK/frames")
  sleep 10
  t1=$(date +%s.%N); c1=$(cpu_ticks $pid); f1=$(wc -l <"$WORK/frames")
  kill -TERM $pid; wait $pid || true
  rm -f "$WORK/frames"
  awk -v l="$label" -v c=$((c1 - c0)) -v hz="$HZ" -v t0="$t0" -v t1="$t1" -v f=$((f1 - f0)) \
    'BEGIN { s = t1 - t0; printf "%s: %.2f%% of one core, %.2f frames/s over %.1f s\n", l, 100 * c / hz / s, f / s, s }'
}

measure "defaults at 1920x1080" ROVANTA_CONFIG="$WORK/defaults.cfg"

for i in 1 2 3 4 5 6; do
  convert -size 1000x1000 "plasma:" -quality 90 "$WORK/side$i.jpg"
done
python3 - "$WORK" <<'PY'
import struct, sys
work = sys.argv[1]
record = struct.pack('<6i', 0, 1, 1, 0, 0, 5)  # pointStep 1, reduceFactor 1
for i in range(1, 7):
    text = f'{work}/side{i}.jpg'.encode()
    record += text + b'\0' * (260 - len(text))
open(f'{work}/pictures.cfg', 'wb').write(record)
PY
measure "six 1000x1000 pictures, pointStep 1" ROVANTA_CONFIG="$WORK/pictures.cfg"
