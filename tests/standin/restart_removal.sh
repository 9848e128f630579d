#!/usr/bin/env bash
# The stand-in uninstaller's "restart" mode against a real (simulated) restart: the file it leaves
# in the product folder, and the folder itself, are gone after the power-off (wineserver -k) and
# the boot (plain wineboot) that carries out the removals scheduled for the next restart.
# Usage: restart_removal.sh <build-dir>
set -u
build=$(cd "$1" && pwd)
here=$(dirname "$(readlink -f "$0")")
harness="$here/../harness"
source "$harness/wine-env.sh" "$build" 2>/dev/null
drive_c="$WINEPREFIX/drive_c"
product="$drive_c/Program Files/KORVANE/Tidemark SX"
uninstaller='C:\Program Files\KORVANE\TidemarkStandInUninstall.exe'
status=0
fail() { echo "FAIL: $*"; status=1; }

cleanup() {
  # Whatever happened, leave no product behind and the session's server running.
  "$WINE" "$uninstaller" /mode=clean >/dev/null 2>&1
  rm -f "$drive_c/Program Files/KORVANE/TidemarkStandInUninstall.exe"
  rmdir "$drive_c/Program Files/KORVANE" 2>/dev/null
  rm -rf "$drive_c/tidemark-standin"
  bash "$harness/wine-session.sh" restart-server "$build" >/dev/null 2>&1
  # The first program after a server start also starts Wine's background services; start them
  # here, detached from CTest's output pipe, or they would hold it open after the next test.
  "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
}
trap cleanup EXIT

if [ -e "$product" ]; then
  echo "SKIP: a product folder exists already; not touching it"
  exit 0
fi
"$WINE" "$build/bin/TidemarkOldSetup.exe" --uninstall-mode=restart >/dev/null 2>&1 || fail "old setup failed"
"$WINE" "$uninstaller" /mode=restart >/dev/null 2>&1
code=$?
[ "$code" -eq $((3010 & 255)) ] || [ "$code" -eq 3010 ] || fail "uninstaller exit code $code"
left=$(ls -A "$product" 2>/dev/null | wc -l)
[ "$left" -eq 1 ] || fail "expected one file left before the restart, found $left"

"$WINESERVER" -k
# The boot also runs the machine-wide Run entries; one left behind by another test would start a
# program that nobody ends. Refuse to boot then.
if grep -q '^"TidemarkSXUpdater"=' "$WINEPREFIX/system.reg"; then
  echo "FAIL: a machine-wide Run value TidemarkSXUpdater is left over from another test"
  exit 1
fi
"$WINE" wineboot >/dev/null 2>&1 </dev/null
"$WINESERVER" -w

[ ! -e "$product" ] || fail "the product folder survived the restart: $(ls -A "$product")"
[ "$status" -eq 0 ] && echo "PASS: scheduled removals carried out by the restart"
exit $status
