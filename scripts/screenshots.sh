#!/usr/bin/env bash
# Makes the README's two pictures of the window after one reading from darq-sim, both with the
# same fixed values: on Qt's own light palette (docs/screenshot.png) and on a dark desktop theme
# (docs/screenshot-dark.png). The dark theme is set up as a user sets it in qt6ct: the Fusion
# style with qt6ct's "darker" colour scheme, Qt told to take its looks from qt6ct.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

darq_ensure_packages qt6ct

# Each run.sh below takes its picture on a virtual display only when there is no real one.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
export DARQ_SIM_ARGS="--flow 1241 --flow-decimals 2 --total-low 56789 --total-decimals 3"

config_home="$(mktemp -d)"
trap 'rm -rf "$config_home"' EXIT
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
