#!/usr/bin/env bash
# An update on a disk that runs full: for each row, the folder the updater makes its work folder in
# (drive_c/ProgramData of the test prefix) becomes a small tmpfs of the row's size, and one step of
# wizard_tests runs against it. Needs root (mount); CI runs as root.
# Usage: disk_full_journey.sh <build-dir>
set -u
here=$(dirname "$(readlink -f "$0")")
source "$here/../harness/wine-env.sh" "$1" 2>/dev/null
tests="$1/bin/wizard_tests.exe"
mountpoint="$WINEPREFIX/drive_c/ProgramData"
# size of the small disk, and the step
rows="
2m NoRoomBeforeTheUninstaller
8m NoRoomBeforeTheUnpacking
1m WritesRunIntoAFullDisk
"
unmount() {
  for _ in $(seq 1 50); do
    umount "$mountpoint" 2>/dev/null && return 0
    sleep 0.2
  done
  umount -l "$mountpoint"
}
result=0
while read -r size step; do
  [ -n "$size" ] || continue
  echo "=== disk full: $step on a $size disk"
  mkdir -p "$mountpoint"
  if ! mount -t tmpfs -o size="$size" tmpfs "$mountpoint"; then
    echo "row FAILED: cannot mount a $size tmpfs at $mountpoint (root needed)"
    result=1
    continue
  fi
  if "$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter="DiskFullJourney.DISABLED_$step"; then
    echo "row passed: $step"
  else
    echo "row FAILED: $step"
    result=1
  fi
  unmount
done <<< "$rows"
exit $result
