#!/usr/bin/env bash
# Builds the .deb packages from a finished build tree and checks what a technician's machine gets
# from them: darq-tools for any machine, with nothing graphical; darq-flowtest with the window.
set -euo pipefail
build_dir="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >/dev/null
version="$("$build_dir/read/darq-read" --version | sed -n '1s/^darq-read //p')"
failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
expect() {
    grep -qE -- "$2" <<<"$3" || fail "$1 (looked for '$2')"
}
expect_not() {
    if grep -qE -- "$2" <<<"$3"; then fail "$1 (found '$2')"; fi
}
package() {
    local file
    file="$(compgen -G "$out/$1_${version}-*_$(dpkg --print-architecture).deb")" ||
        fail "no package $1 for version $version"
    echo "$file"
}

tools="$(package darq-tools)"
flowtest="$(package darq-flowtest)"
[ "$failures" -eq 0 ] || exit 1

depends="$(dpkg-deb -f "$tools" Depends)"
for library in libqt6core6 libqt6serialport6; do
    expect "darq-tools depends on $library" "(^|, )$library( |,|$)" "$depends"
done
expect_not "darq-tools needs nothing graphical" "libqt6widgets6|libqt6gui6|qt6-qpa-plugins|fonts-" \
    "$depends"

depends="$(dpkg-deb -f "$flowtest" Depends)"
for library in libqt6widgets6 libqt6serialport6 libqt6core6 qt6-qpa-plugins; do
    expect "darq-flowtest depends on $library" "(^|, )$library( |,|$)" "$depends"
done
expect "darq-flowtest depends on a Chinese font" "fonts-arphic-uming" "$depends"

contents="$(dpkg-deb -c "$tools")"
for program in darq-read darq-sim; do
    expect "installs $program" "\./usr/bin/$program$" "$contents"
    expect "installs the manual page of $program" "\./usr/share/man/man1/$program\.1\.gz$" "$contents"
    expect "installs the completion of $program" \
        "\./usr/share/bash-completion/completions/$program( -> darq-read)?$" "$contents"
done

expect "installs the gateway's service" "\./usr/lib/systemd/system/darq-read@\.service$" "$contents"
expect "installs the example config" "\./etc/darq/example\.conf$" "$contents"
expect "keeps an edited example config" "^/etc/darq/example\.conf$" \
    "$(dpkg-deb --ctrl-tarfile "$tools" | tar -xO ./conffiles)"

contents="$(dpkg-deb -c "$flowtest")"
expect "installs darq-flowtest" "\./usr/bin/darq-flowtest$" "$contents"
expect "installs the manual page of darq-flowtest" "\./usr/share/man/man1/darq-flowtest\.1\.gz$" \
    "$contents"
for size in 16 32 48 64 128 256; do
    expect "installs the ${size}px icon" "hicolor/${size}x${size}/apps/darq-flowtest\.png$" "$contents"
done
expect "installs the scalable icon" "hicolor/scalable/apps/darq-flowtest\.svg$" "$contents"
expect "installs the AppStream metadata" "\./usr/share/metainfo/.+\.metainfo\.xml$" "$contents"

# Every program installed stripped, its symbols in the -dbgsym package under its build ID.
for name in darq-tools darq-flowtest; do
    dpkg-deb -x "$(package "$name")" "$out/root"
    dpkg-deb -x "$(package "$name-dbgsym")" "$out/root"
    for part in copyright changelog.Debian.gz; do
        [ -f "$out/root/usr/share/doc/$name/$part" ] || fail "$name has no $part"
    done
    [ "$(readlink "$out/root/usr/share/doc/$name-dbgsym")" = "$name" ] ||
        fail "$name-dbgsym does not share the documentation of $name"
done
for program in "$out"/root/usr/bin/*; do
    file -b "$program" | grep -q ", stripped" || fail "$(basename "$program") is not stripped"
    build_id="$(readelf --notes "$program" | sed -n 's/.*Build ID: //p')"
    debug="$out/root/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
    file -b "$debug" 2>/dev/null | grep -q "with debug_info" ||
        fail "no debug symbols for $(basename "$program") (build ID '$build_id')"
done

entry="$(cat "$out/root/usr/share/applications/darq-flowtest.desktop")"
expect "desktop entry title in English" "^Name=DARQ flow totalizer link test$" "$entry"
expect "desktop entry title in Chinese" "^Name\[zh_CN\]=DARQ流量积算仪通讯测试$" "$entry"
expect "desktop entry category" "^Categories=Utility;$" "$entry"
expect "desktop entry icon" "^Icon=darq-flowtest$" "$entry"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "packages $(cd "$out" && echo *.deb) checked"
