#!/usr/bin/env bash
# Completes command lines of darq-read and darq-sim as bash would on pressing TAB, with the
# programs of a build tree on PATH. Exit 77 (skipped) without bash-completion.
set -uo pipefail
build_dir="$1"
completion="$2"
helpers=/usr/share/bash-completion/bash_completion
if [ ! -r "$helpers" ]; then
    echo "bash-completion is not installed: skipped"
    exit 77
fi
PATH="$build_dir/read:$build_dir/sim:$PATH"
# shellcheck source=/dev/null
source "$helpers"
# shellcheck source=/dev/null
source "$completion"
files="$(mktemp -d)"
trap 'rm -rf "$files"' EXIT
touch "$files/link-to-sim"

# The candidates for the last word of the command line, one a line.
candidates() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    local function
    function="$(complete -p "$1" | sed -E 's/.* -F ([^ ]+) .*/\1/')"
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
    if [ ${#COMPREPLY[@]} -gt 0 ]; then printf '%s\n' "${COMPREPLY[@]}" | sort; fi
}

failures=0
# Each case: the line, then an extended regular expression that every candidate must match, then
# the candidates that must be among them.
check() {
    local line="$1" pattern="$2" got required
    shift 2
    read -ra words <<<"$line"
    [[ $line == *" " ]] && words+=("")
    got="$(candidates "${words[@]}")"
    local ok=true
    [ -n "$got" ] || ok=false
    grep -qvE "^($pattern)$" <<<"$got" && ok=false
    for required in "$@"; do
        grep -qxF -- "$required" <<<"$got" || ok=false
    done
    if ! $ok; then
        echo "FAIL: '$line<TAB>' offers: $(echo $got)"
        failures=$((failures + 1))
    fi
}

check "darq-read --" "--[a-z0-9-]+" --port --address --baud --count --interval --timeout --format \
    --trace --help --version --no-header --rs485 --rs485-delay-before --rs485-delay-after
check "darq-read --baud " "1200|2400|4800|9600" 1200 2400 4800 9600
check "darq-read --format " "text|csv|json" text csv json
check "darq-read --port CO" "COM1|COM2" COM1 COM2
check "darq-read --port $files/li" "$files/link-to-sim" "$files/link-to-sim"
check "darq-sim --no" "--no[a-z-]*" --no-pacing --no-reply --noise
check "darq-sim --baud 9" "9600" 9600
check "darq-sim --log $files/" "$files/link-to-sim" "$files/link-to-sim"
# Only serial devices for a port, and those that are there.
serial="/dev/(ttyS|ttyUSB|ttyACM)[0-9]+|/dev/serial/by-id/.+"
present=()
for device in /dev/ttyS0 /dev/ttyUSB0 /dev/ttyACM0; do
    [ -e "$device" ] && present+=("$device")
done
if [ ${#present[@]} -gt 0 ]; then
    check "darq-read --port /dev/tty" "$serial" "${present[@]}"
    check "darq-sim --device /dev/tty" "$serial" "${present[@]}"
fi

[ "$failures" -eq 0 ] && echo "darq-read and darq-sim complete their options and values"
