#!/usr/bin/env bash
# An update interrupted at each of its steps, by a power cut (the wineserver killed with kill -9,
# so that it saves nothing at its end, then a plain wineboot, which carries out the removals
# scheduled for the restart and runs the machine-wide Run entries as a logon does) or by a kill of
# the updater, then carried on by the user. One row a line.
#
# What survives the cut is what the wineserver had saved on its own: Wine 8.0 saves the registry
# every 30 seconds and does nothing for RegFlushKey (a value written and flushed is gone after a
# kill -9 that comes first; seen). The cut therefore waits for the server's next save of what was
# written before it, which stands for the flushes the updater made; what it wrote after that save
# is lost. Files are in the page cache either way.
# Usage: interruption_journey.sh <build-dir>
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/../harness/wine-env.sh" "$1" 2>/dev/null
tests="$1/bin/wizard_tests.exe"
step() {
  "$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter="InterruptionJourney.DISABLED_$1"
}
# point (a stand-in pause, or the install page) and the kind of interruption
rows="
uninstall-start power
uninstall-start kill
uninstall-log-removed power
uninstall-log-removed kill
install-page power
install-page kill
setup-files power
setup-files kill
setup-registered power
setup-registered kill
uninstall-log-removed killed-uninstaller
restore-log-blocked power
"
# The wineserver of this build's prefix, and no other.
server_pid() {
  local pid
  for pid in $(pgrep -f wineserver); do
    { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
power_cut() {
  local mark=/tmp/interruption-cut.$$ pid
  touch "$mark"
  for _ in $(seq 1 90); do
    [ "$WINEPREFIX/system.reg" -nt "$mark" ] && break
    sleep 0.5
  done
  rm -f "$mark"
  for pid in $(server_pid); do kill -9 "$pid"; done
  for _ in $(seq 1 50); do [ -z "$(server_pid)" ] && break; sleep 0.1; done
}
result=0
failed=""
# INTERRUPTION_ROWS, when set, replaces the rows (to run one of them while working on it).
rows="${INTERRUPTION_ROWS:-$rows}"
while read -r point kind; do
  [ -n "$point" ] || continue
  echo "=== interruption: $kind at $point"
  booted=0
  if INTERRUPTION_POINT=$point INTERRUPTION_KIND=$kind step InterruptAt >/tmp/interruption.$$ 2>&1; then
    if [ "$kind" = power ]; then
      power_cut
      INTERRUPTION_POINT=$point step AfterPowerCut >/tmp/interruption.$$ 2>&1
      "$WINE" wineboot </dev/null >/dev/null 2>&1
      booted=1
    fi
    INTERRUPTION_POINT=$point INTERRUPTION_KIND=$kind INTERRUPTION_BOOTED=$booted step FinishAfterInterruption >/tmp/interruption.$$ 2>&1 && ok=1 || ok=0
  else
    ok=0
  fi
  if [ $ok = 1 ]; then
    echo "row passed: $kind at $point"
  else
    cat /tmp/interruption.$$
    echo "row FAILED: $kind at $point"
    result=1
    failed="$failed [$kind at $point]"
    step CleanUp >/dev/null 2>&1
  fi
done <<< "$rows"
rm -f /tmp/interruption.$$
step CleanUp >/dev/null || echo "interruption journey: clean-up step failed"
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
[ $result = 0 ] || echo "failed rows:$failed"
exit $result
