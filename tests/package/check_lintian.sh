#!/usr/bin/env bash
# Builds the .deb packages from a finished build tree and holds them to what Debian's own tools
# ask: lintian without errors or warnings (and with every hardening flag seen in the programs),
# a valid desktop entry and valid AppStream metadata. Exit 77 (skipped) without those tools.
set -euo pipefail
build_dir="$1"
for tool in lintian desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed: skipped"
        exit 77
    fi
done
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >/dev/null 2>&1
failures=0
if ! lintian --display-info --fail-on error,warning "$out"/*.deb >"$out/lintian.log" 2>&1; then
    echo "FAIL: lintian reports errors or warnings"
    failures=$((failures + 1))
fi
# Its complaint about running as root, as the test command does on a fresh machine, is no finding.
grep -v "running with root privileges" "$out/lintian.log" || true
if grep -q "hardening-" "$out/lintian.log"; then
    echo "FAIL: a program lacks a hardening flag"
    failures=$((failures + 1))
fi

dpkg-deb -x "$(compgen -G "$out/darq-flowtest_*.deb")" "$out/root"
desktop-file-validate "$out/root/usr/share/applications/darq-flowtest.desktop" ||
    failures=$((failures + 1))
for metainfo in "$out"/root/usr/share/metainfo/*.metainfo.xml; do
    appstreamcli validate --no-net "$metainfo" || failures=$((failures + 1))
done

[ "$failures" -eq 0 ]
