#!/usr/bin/env bash
# Runs the given test program as the user "nobody" when the tests run as root, since root is never
# refused a device and so can never see "permission denied" or an exclusive open. Exit 77 (skipped)
# where that user cannot be had or cannot reach the build tree.
set -u
program="$1"
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$program" "$@"
fi
if ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
    echo "no setpriv or no user nobody: skipped"
    exit 77
fi
as_nobody=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --reset-env)
if ! "${as_nobody[@]}" test -x "$program"; then
    echo "nobody cannot run $program from this build tree: skipped"
    exit 77
fi
exec "${as_nobody[@]}" env HOME=/tmp "$program" "$@"
