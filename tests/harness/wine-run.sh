#!/usr/bin/env bash
# CTest's cross-compiling emulator: runs one Windows test program under the build tree's Wine session.
# Usage: wine-run.sh <build-dir> <program.exe> [args...]
#
# A test program always writes GoogleTest's banner first. When it fails without having written
# anything, Wine never got it as far as main (its loader failed; with WINEDEBUG=-all it says
# nothing). That is told in the log and the program is run once more with Wine's error messages
# switched on, so that a second failure shows its reason. A program that did start is never rerun.
# A program that crashed fails, whatever status Wine gives it.
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/wine-env.sh" "$1" 2>/dev/null
shift

output=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
"$WINE" "$@" 2>"$errors" | tee "$output"
status=${PIPESTATUS[0]}
cat "$errors" >&2
if [ "$status" -ne 0 ] && [ ! -s "$output" ]; then
  echo "wine-run: $(basename "$1") ended with status $status before writing anything (it never" \
       "reached main); running it once more with Wine's error messages" >&2
  WINEDEBUG=err+all "$WINE" "$@"
  status=$?
fi
# A crash ends the program through Wine's debugger, which leaves the exit status 0; the crash
# report that the test programs write first makes it a failure.
if [ "$status" -eq 0 ] && grep -q '^CRASH: ' "$errors"; then
  echo "wine-run: $(basename "$1") crashed" >&2
  status=1
fi
exit "$status"
