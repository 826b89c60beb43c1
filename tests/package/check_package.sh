#!/usr/bin/env bash
# Builds the .deb from a finished build tree and checks what a technician's machine gets from it.
set -euo pipefail
build_dir="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >/dev/null
deb="$(ls "$out"/*.deb)"
failures=0
expect() {
    if ! grep -qE -- "$2" <<<"$3"; then
        echo "FAIL: $1 (looked for '$2')"
        failures=$((failures + 1))
    fi
}

depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6widgets6 libqt6serialport6 libqt6core6 qt6-qpa-plugins; do
    expect "depends on $library" "(^|, )$library( |,|$)" "$depends"
done
expect "depends on a Chinese font" "fonts-arphic-uming" "$depends"

contents="$(dpkg-deb -c "$deb")"
for program in darq-flowtest darq-read darq-sim; do
    expect "installs $program" "\./usr/bin/$program$" "$contents"
done
for program in darq-flowtest darq-read darq-sim; do
    expect "installs the manual page of $program" "\./usr/share/man/man1/$program\.1\.gz$" "$contents"
done
for program in darq-read darq-sim; do
    expect "installs the completion of $program" \
        "\./usr/share/bash-completion/completions/$program( -> darq-read)?$" "$contents"
done
for size in 16 32 48 64 128 256; do
    expect "installs the ${size}px icon" "hicolor/${size}x${size}/apps/darq-flowtest\.png$" "$contents"
done
expect "installs the scalable icon" "hicolor/scalable/apps/darq-flowtest\.svg$" "$contents"
expect "installs the AppStream metadata" "\./usr/share/metainfo/.+\.metainfo\.xml$" "$contents"

dpkg-deb -x "$deb" "$out/root"
entry="$(cat "$out/root/usr/share/applications/darq-flowtest.desktop")"
expect "desktop entry title in English" "^Name=DARQ flow totalizer link test$" "$entry"
expect "desktop entry title in Chinese" "^Name\[zh_CN\]=DARQ流量积算仪通讯测试$" "$entry"
expect "desktop entry category" "^Categories=Utility;$" "$entry"
expect "desktop entry icon" "^Icon=darq-flowtest$" "$entry"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "package $(basename "$deb") checked"
