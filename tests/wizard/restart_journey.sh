#!/usr/bin/env bash
# An update across a simulated restart: first half of the journey, power off (wineserver -k), boot
# (a plain wineboot carries out the removals scheduled for the restart and runs the machine-wide
# Run entries as a logon does), second half. Usage: restart_journey.sh <build-dir>
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/../harness/wine-env.sh" "$1" 2>/dev/null
tests="$1/bin/wizard_tests.exe"
"$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter='RestartJourney.DISABLED_BeforeRestart' || exit 1
echo "--- power off, boot, logon"
"$WINESERVER" -k
"$WINE" wineboot </dev/null >/dev/null 2>&1
"$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter='RestartJourney.DISABLED_AfterRestart'
result=$?
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
exit $result
