#!/usr/bin/env bash
# Installs what is missing, builds the tool and opens its window on a virtual instrument: darq-sim
# serves a pseudo-terminal and COM1 is mapped to it, so 读取 shows a reading at once.
# Without a display the window runs on a virtual X display (Xvfb), takes one reading and saves a
# screenshot (DARQ_SCREENSHOT, by default build/screenshot.png).
# DARQ_SIM_ARGS passes options to darq-sim, for example DARQ_SIM_ARGS="--no-reply 0.3".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

darq_build

work_dir="$(mktemp -d)"
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work_dir"
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

com1="$work_dir/COM1"
# shellcheck disable=SC2086 # DARQ_SIM_ARGS is a list of options
"$DARQ_BUILD/sim/darq-sim" --link "$com1" --log "$work_dir/darq-sim.log" ${DARQ_SIM_ARGS:-} \
    >"$work_dir/darq-sim.out" &
sim_pid=$!
for _ in $(seq 50); do
    [ -e "$com1" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -e "$com1" ]; then
    echo "darq-sim did not start:" >&2
    cat "$work_dir/darq-sim.log" >&2 || true
    exit 1
fi
export DARQ_COM1="$com1"
echo "Virtual instrument on $(head -n 1 "$work_dir/darq-sim.out"), COM1 -> $com1"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$DARQ_BUILD/ui/darq-flowtest"
else
    screenshot="${DARQ_SCREENSHOT:-$DARQ_BUILD/screenshot.png}"
    echo "No display: running the window on Xvfb for one reading; screenshot:"
    xvfb-run -a -s "-screen 0 1024x768x24" \
        "$DARQ_BUILD/ui/darq-flowtest" --screenshot "$screenshot"
fi
