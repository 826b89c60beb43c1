#!/usr/bin/env bash
# Makes the README's pictures. Two of the window after one reading from darq-sim, both with the
# same fixed values: on Qt's own light palette (docs/screenshot.png) and on a dark desktop theme
# (docs/screenshot-dark.png). The dark theme is set up as a user sets it in qt6ct: the Fusion
# style with qt6ct's "darker" colour scheme, Qt told to take its looks from qt6ct. And one of the
# traffic log (docs/traffic-log.png) after 24 readings from a darq-sim with faults switched on,
# driven with the keyboard as an operator would: Space on 读取, then F12.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

darq_ensure_packages qt6ct xdotool imagemagick

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

DARQ_SCREENSHOT="$DARQ_ROOT/docs/screenshot.png" "$DARQ_ROOT/scripts/run.sh"
XDG_CONFIG_HOME="$config_home" QT_QPA_PLATFORMTHEME=qt6ct \
    DARQ_SCREENSHOT="$DARQ_ROOT/docs/screenshot-dark.png" "$DARQ_ROOT/scripts/run.sh"

"$DARQ_BUILD/sim/darq-sim" --link "$work_dir/COM1" --seed 7 --no-reply 0.2 --bad-crc 0.15 \
    --short-reply 0.1 --echo 0.25 --log "$work_dir/darq-sim.log" >/dev/null &
sim_pid=$!
cat >"$work_dir/drive.sh" <<'DRIVE'
set -euo pipefail
"$DARQ_BUILD/ui/darq-flowtest" &
window_pid=$!
for _ in $(seq 50); do
    window=$(xdotool search --name "DARQ流量积算仪通讯测试" 2>/dev/null | head -n 1) && break
    sleep 0.2
done
sleep 1
# The focus starts on the selected port button; two Tabs reach 读取.
xdotool windowfocus --sync "$window" key --window "$window" Tab Tab
for _ in $(seq 24); do
    xdotool key --window "$window" space
    sleep 0.35
done
# Opened on its rows, the log is as wide as their columns.
xdotool windowfocus --sync "$window" key --window "$window" F12
sleep 1
import -window "$(xdotool search --name "Traffic log" | head -n 1)" "$DARQ_ROOT/docs/traffic-log.png"
kill "$window_pid"
DRIVE
for _ in $(seq 50); do [ -e "$work_dir/COM1" ] && break; sleep 0.1; done
LANG=C.UTF-8 DARQ_COM1="$work_dir/COM1" DARQ_BUILD="$DARQ_BUILD" DARQ_ROOT="$DARQ_ROOT" \
    xvfb-run -a -s "-screen 0 1920x1080x24" bash "$work_dir/drive.sh"
echo "$DARQ_ROOT/docs/traffic-log.png"
