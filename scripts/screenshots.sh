#!/usr/bin/env bash
# Makes the README's pictures. Two of the window after one reading from darq-sim, both with the
# same fixed values: on Qt's own light palette (docs/screenshot.png) and on a dark desktop theme
# (docs/screenshot-dark.png). The dark theme is set up as a user sets it in qt6ct: the Fusion
# style with qt6ct's "darker" colour scheme, Qt told to take its looks from qt6ct. And one of the
# traffic log (docs/traffic-log.png) after 24 readings from a darq-sim with faults switched on,
# driven with the keyboard as an operator would: Space on 读取, then F12. And one of the trend
# (docs/trend.png) after three minutes of automatic reading from a darq-sim whose values vary, with
# faults switched on: Space on 自动读取, then Ctrl+T and Home.
# Arguments pick the pictures to make: window, log, trend (default: all of them).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

darq_ensure_packages qt6ct xdotool imagemagick
pictures=("${@:-window log trend}")
pictures=" ${pictures[*]} "

# Each run.sh below takes its picture on a virtual display only when there is no real one.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
export DARQ_SIM_ARGS="--flow 1241 --flow-decimals 2 --total-low 56789 --total-decimals 3"

config_home="$(mktemp -d)"
work_dir="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$config_home" "$work_dir"
}
trap cleanup EXIT
mkdir -p "$config_home/qt6ct"
cat >"$config_home/qt6ct/qt6ct.conf" <<'CONF'
[Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
CONF

if [[ "$pictures" == *" window "* ]]; then
    DARQ_SCREENSHOT="$DARQ_ROOT/docs/screenshot.png" "$DARQ_ROOT/scripts/run.sh"
    XDG_CONFIG_HOME="$config_home" QT_QPA_PLATFORMTHEME=qt6ct \
        DARQ_SCREENSHOT="$DARQ_ROOT/docs/screenshot-dark.png" "$DARQ_ROOT/scripts/run.sh"
fi
if [[ "$pictures" != *" log "* && "$pictures" != *" trend "* ]]; then
    exit 0
fi
[[ "$pictures" == *" window "* ]] || darq_build

start_sim() {
    "$DARQ_BUILD/sim/darq-sim" --link "$work_dir/COM1" --log "$work_dir/darq-sim.log" "$@" >/dev/null &
    sim_pid=$!
    for _ in $(seq 50); do [ -e "$work_dir/COM1" ] && break; sleep 0.1; done
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}
# Runs the window on a virtual display with the driving commands `$1` between its start and its
# end; they find the window as $window.
drive_window() {
    cat >"$work_dir/drive.sh" <<DRIVE
set -euo pipefail
"\$DARQ_BUILD/ui/darq-flowtest" &
window_pid=\$!
for _ in \$(seq 50); do
    window=\$(xdotool search --name "DARQ流量积算仪通讯测试" 2>/dev/null | head -n 1) && break
    sleep 0.2
done
sleep 1
$1
kill "\$window_pid"
DRIVE
    LANG=C.UTF-8 DARQ_COM1="$work_dir/COM1" DARQ_BUILD="$DARQ_BUILD" DARQ_ROOT="$DARQ_ROOT" \
        xvfb-run -a -s "-screen 0 1920x1080x24" bash "$work_dir/drive.sh"
}

if [[ "$pictures" == *" log "* ]]; then
    start_sim --seed 7 --no-reply 0.2 --bad-crc 0.15 --short-reply 0.1 --echo 0.25
    # The focus starts on the selected port button; two Tabs reach 读取. Opened on its rows, the
    # log is as wide as their columns.
    drive_window '
xdotool windowfocus --sync "$window" key --window "$window" Tab Tab
for _ in $(seq 24); do
    xdotool key --window "$window" space
    sleep 0.35
done
xdotool windowfocus --sync "$window" key --window "$window" F12
sleep 1
import -window "$(xdotool search --name "Traffic log" | head -n 1)" "$DARQ_ROOT/docs/traffic-log.png"'
    stop_sim
    echo "$DARQ_ROOT/docs/traffic-log.png"
fi

if [[ "$pictures" == *" trend "* ]]; then
    start_sim --seed 11 --no-reply 0.06 --bad-crc 0.04 --short-reply 0.03
    # Three Tabs reach 自动读取, which reads every two seconds: some 90 reads. Home then shows them
    # across the whole width, where the followed ten minutes would leave most of it empty.
    drive_window '
xdotool windowfocus --sync "$window" key --window "$window" Tab Tab Tab space
sleep 180
xdotool windowfocus --sync "$window" key --window "$window" ctrl+t
sleep 2
trend=$(xdotool search --name "^Trend$" | head -n 1)
xdotool windowfocus --sync "$trend" key --window "$trend" Home
sleep 1
import -window "$trend" "$DARQ_ROOT/docs/trend.png"'
    stop_sim
    echo "$DARQ_ROOT/docs/trend.png"
fi
