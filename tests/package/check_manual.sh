#!/usr/bin/env bash
# Checks one program's manual page against the program itself: the version it answers to
# --version is the project's, the page lists exactly the options that --help lists, and it has
# the sections that --help lacks.
set -euo pipefail
program="$1"
page="$2"
expected_version="$3"
name="$(basename "$program")"
failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}

version_output="$("$program" --version)" || fail "$name --version exits with status $?"
[ "$(head -n 1 <<<"$version_output")" = "$name $expected_version" ] ||
    fail "$name --version says '$version_output', not '$name $expected_version'"

# The option names in an option list: the part of each indented line that starts with "-" up to
# the two spaces before its description ("  -h, --help  ...", "  --port DEVICE  ...").
option_names() {
    sed -nE 's/^ {1,10}(-[^ ].*)$/\1/p' | sed -E 's/  .*//' |
        grep -oE '(^|[ ,])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' ,' | sort -u
}
# In the page, each option is the tag line of a .TP paragraph: "\fB\-\-port\fR DEVICE".
help_options="$("$program" --help | option_names)"
page_options="$(zcat "$page" | sed -n '/^\.TP$/{n;p}' | sed -E 's/\\-/-/g; s/\\f[A-Z]//g; s/\\[,/]//g' |
    sed 's/^/  /' | option_names)"
if [ "$help_options" != "$page_options" ]; then
    fail "the options of the manual page and of --help differ (< --help, > page):"
    diff <(echo "$help_options") <(echo "$page_options") || true
fi
[ -n "$help_options" ] || fail "$name --help lists no options"

text="$(zcat "$page")"
for section in "EXIT STATUS" ENVIRONMENT EXAMPLES; do
    grep -q "^\.SH \"\?$section\"\?$" <<<"$text" || fail "the manual page has no $section section"
done
for variable in DARQ_COM1 DARQ_COM2; do
    grep -q "$variable" <<<"$text" || fail "the manual page does not mention $variable"
done

[ "$failures" -eq 0 ] && echo "$name(1) matches $name --help: $(echo $help_options)"
