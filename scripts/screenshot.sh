#!/usr/bin/env bash
# Remakes docs/window.png: the window on a simulated ATmega8 right after a
# click on Read Signature, on a virtual X display. Builds the window first.
# Needs Xvfb, xdotool and ImageMagick (apt-get install xvfb xdotool imagemagick).
# Usage: scripts/screenshot.sh [BUILD_DIR] [PNG]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
png=${2:-docs/window.png}

for tool in Xvfb xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "screenshot: $tool not found (apt-get install xvfb xdotool imagemagick)" >&2
        exit 1
    fi
done

[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target velkor

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to fd 3 once it listens.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || { echo "screenshot: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"

XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work} QT_QPA_PLATFORM=xcb "$build/app/velkor" --simulate ATmega8 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Velkor$' | head -n 1) ||
    { echo "screenshot: the window did not appear" >&2; exit 1; }

# The first activation clears the log, so the window gets the focus first;
# then a click on Read Signature, whose button sits at (112, 8), 105 x 33.
xdotool windowfocus --sync "$window"
sleep 0.5
xdotool mousemove --window "$window" 164 24 click 1 mousemove 0 0
# The simulated chip answers in virtual time; the pause only lets the log repaint.
sleep 2
import -window "$window" -strip "$png"
echo "screenshot: wrote $png"
