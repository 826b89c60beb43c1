#!/usr/bin/env bash
# The gateway's service as darq-tools installs it: systemd finds nothing wrong with the unit, and
# rates its exposure 2.0 or lower. Exit 77 (skipped) without systemd-analyze.
set -euo pipefail
build_dir="$1"
if ! command -v systemd-analyze >/dev/null; then
    echo "systemd-analyze is not installed: skipped"
    exit 77
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >/dev/null 2>&1
dpkg-deb -x "$(compgen -G "$out/darq-tools_*.deb")" "$out/root"
# An instance of the template, with the program this build made where the package puts its own.
unit="$out/darq-read@line1.service"
sed "s|/usr/bin/darq-read|$build_dir/read/darq-read|" \
    "$out/root/usr/lib/systemd/system/darq-read@.service" >"$unit"
failures=0
if ! systemd-analyze verify --man=no "$unit"; then
    echo "FAIL: systemd-analyze verify finds fault with the unit"
    failures=$((failures + 1))
fi
if ! systemd-analyze security --offline=true --threshold=20 "$unit" >"$out/security.log"; then
    echo "FAIL: the unit's exposure is above 2.0"
    failures=$((failures + 1))
fi
tail -1 "$out/security.log"
[ "$failures" -eq 0 ]
