#!/usr/bin/env bash
# An update across a simulated restart: first half of the journey (with a start of the updater
# before the restart), power off (wineserver -k), boot (a plain wineboot carries out the removals
# scheduled for the restart and runs the machine-wide Run entries as a logon does), second half,
# and one more restart after which the new release must still be whole. Whatever a half did, the clean-up step then ends any
# updater still running and leaves the machine clean. Usage: restart_journey.sh <build-dir>
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/../harness/wine-env.sh" "$1" 2>/dev/null
tests="$1/bin/wizard_tests.exe"
run_half() {
  "$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter="RestartJourney.DISABLED_$1"
}
restart() {
  echo "--- power off, boot, logon"
  "$WINESERVER" -k
  "$WINE" wineboot </dev/null >/dev/null 2>&1
}
result=0
if run_half BeforeRestart; then
  restart
  if run_half AfterRestart; then
    restart
    run_half AfterSecondRestart || result=1
  else
    result=1
  fi
else
  result=1
fi
run_half CleanUp >/dev/null || echo "restart journey: clean-up step failed"
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
exit $result
