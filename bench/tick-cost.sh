#!/bin/bash
# What a tick of the real program costs the machine: CPU of rovanta plus the
# X server per frame, full screen on Xvfb, read from /proc/PID/stat over a
# fixed run. Each scene runs with ROVANTA_FULL_FRAMES=1 (the whole frame
# cleared and sent at every tick) and without (only what changed), the two
# interleaved round by round so that the load of a shared machine falls on
# both; the ratios are medians over the rounds.
#
#   bench/tick-cost.sh [ROUNDS] [SECONDS]
#
# ROUNDS defaults to 3, SECONDS (measured per run, after a warm-up) to 6.
# ROVANTA_PROGRAM names another program (default: the release build's).
# Needs Xvfb and ImageMagick's convert (for the six 1000 x 1000 pictures).
set -u

rounds=${1:-3}
seconds=${2:-6}
here=$(cd "$(dirname "$0")/.." && pwd)
program=${ROVANTA_PROGRAM:-$here/build/release/tools/rovanta/rovanta}
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is missing" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick's convert is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/rovanta-tick-cost-XXXXXX)
xvfb_pid=
saver_pid=
cleanup() {
    [ -n "$saver_pid" ] && kill "$saver_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ticks_per_second=$(getconf CLK_TCK)

# utime + stime of a process, in clock ticks.
cpu_of() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# Frames presented so far: the program's frame log has a line per frame.
frames_in() { { wc -l <"$1"; } 2>/dev/null || echo 0; }

# The settings file: six numbers (little-endian 32-bit), six 260-byte texts.
write_config() { # file pointStep side...
    local file=$1 step=$2
    shift 2
    python3 - "$file" "$step" "$@" <<'EOF'
import struct, sys
path, step, sides = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
data = struct.pack('<6i', 0, step, 1, 0, 0, 5)
for text in sides:
    data += text.encode().ljust(260, b'\0')
open(path, 'wb').write(data)
EOF
}

colours=("#ff0000" "#00ff00" "#0000ff" "#ffffff" "#000000" "#f0f0ff")
write_config "$work/default.cfg" 2 "${colours[@]}"
pictures=()
gradients=(red-blue green-yellow white-black orange-purple cyan-magenta navy-gold)
for i in 0 1 2 3 4 5; do
    convert -size 1000x1000 "gradient:${gradients[$i]}" -quality 90 "$work/side$i.jpg" ||
        { echo "convert failed" >&2; exit 1; }
    pictures+=("$work/side$i.jpg")
done
write_config "$work/pictures.cfg" 2 "${pictures[@]}"

start_xvfb() { # width height
    local fifo=$work/displayfd
    rm -f "$fifo"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$1x$2x24" -nolisten tcp 3>"$fifo" 2>/dev/null &
    xvfb_pid=$!
    local number
    if ! read -r -t 10 number <"$fifo"; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    display=":$number"
}

stop_pid() { # pid: TERM, then KILL after 5 s
    local pid=$1 waited=0
    kill "$pid" 2>/dev/null
    while kill -0 "$pid" 2>/dev/null && [ $waited -lt 50 ]; do sleep 0.1; waited=$((waited + 1)); done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# One run; prints "msPerFrame xvfbMsPerFrame frames".
measure() { # config fullFrames(0/1)
    local frames_log=$work/frames.log
    rm -f "$frames_log"
    if [ "$2" = 1 ]; then
        env DISPLAY="$display" ROVANTA_CONFIG="$1" ROVANTA_FRAME_LOG="$frames_log" \
            ROVANTA_FULL_FRAMES=1 "$program" /s >/dev/null 2>&1 &
    else
        env DISPLAY="$display" ROVANTA_CONFIG="$1" ROVANTA_FRAME_LOG="$frames_log" \
            "$program" /s >/dev/null 2>&1 &
    fi
    saver_pid=$!
    # Warm-up: the pictures loaded and frames coming (at most 30 s).
    local waited=0
    while [ "$(frames_in "$frames_log")" -lt 10 ] && [ $waited -lt 300 ]; do
        kill -0 "$saver_pid" 2>/dev/null || break
        sleep 0.1
        waited=$((waited + 1))
    done
    local f0 c0 x0 f1 c1 x1
    f0=$(frames_in "$frames_log")
    c0=$(cpu_of "$saver_pid")
    x0=$(cpu_of "$xvfb_pid")
    sleep "$seconds"
    f1=$(frames_in "$frames_log")
    c1=$(cpu_of "$saver_pid")
    x1=$(cpu_of "$xvfb_pid")
    stop_pid "$saver_pid"
    saver_pid=
    awk -v f=$((f1 - f0)) -v c=$((c1 - c0)) -v x=$((x1 - x0)) -v t="$ticks_per_second" \
        'BEGIN { if (f <= 0) { print "nan nan 0"; exit }
                 printf "%.3f %.3f %d\n", (c + x) * 1000 / t / f, x * 1000 / t / f, f }'
}

scenes=("1920 1080 default" "1920 1080 pictures" "3840 2160 default" "3840 2160 pictures")
declare -A results
for ((round = 0; round < rounds; ++round)); do
    for scene in "${scenes[@]}"; do
        read -r width height name <<<"$scene"
        start_xvfb "$width" "$height"
        # Alternate which route goes first from round to round.
        if ((round % 2 == 0)); then order="1 0"; else order="0 1"; fi
        for full in $order; do
            results["$scene/$full/$round"]=$(measure "$work/$name.cfg" "$full")
        done
        stop_pid "$xvfb_pid"
        xvfb_pid=
        echo "round $((round + 1))/$rounds: ${width}x${height} $name done" >&2
    done
done

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "CPU ms per frame (rovanta + Xvfb, of which Xvfb), medians of $rounds interleaved rounds of ${seconds} s"
printf '%-22s %-22s %-22s %s\n' "scene" "full frames" "changed part only" "ratio (full / changed)"
for scene in "${scenes[@]}"; do
    read -r width height name <<<"$scene"
    full_total=() full_x=() part_total=() part_x=() ratios=()
    for ((round = 0; round < rounds; ++round)); do
        read -r ft fx _ <<<"${results["$scene/1/$round"]}"
        read -r pt px _ <<<"${results["$scene/0/$round"]}"
        full_total+=("$ft") full_x+=("$fx") part_total+=("$pt") part_x+=("$px")
        ratios+=("$(awk -v a="$ft" -v b="$pt" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "nan" }')")
    done
    ft=$(printf '%s\n' "${full_total[@]}" | median)
    fx=$(printf '%s\n' "${full_x[@]}" | median)
    pt=$(printf '%s\n' "${part_total[@]}" | median)
    px=$(printf '%s\n' "${part_x[@]}" | median)
    ratio=$(printf '%s\n' "${ratios[@]}" | median)
    printf '%-22s %-22s %-22s %sx\n' "${width}x${height} $name" "$ft ($fx)" "$pt ($px)" "$ratio"
done
