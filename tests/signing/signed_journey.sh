#!/usr/bin/env bash
# An update journey with the signed build (bin/signed/Updater.exe): the first half of the restart
# journey, which ends with the updater's resume copy and the launcher in the work folder and the
# Run entry pointing at them. Both copies must still carry a valid signature of the same signer:
# the copy is what runs at the next logon. Then the machine is cleaned as after every journey.
# Usage: signed_journey.sh <build-dir> <inspect_updater> <osslsigncode> <cert.pem>
set -u
build=$(cd "$1" && pwd); inspect=$2; osslsigncode=$3; cert=$4
here=$(dirname "$(readlink -f "$0")")
source "$here/../harness/wine-env.sh" "$build" 2>/dev/null
signed_dir=$build/bin/signed
[ -f "$signed_dir/Updater.exe" ] || { echo "no signed build at $signed_dir/Updater.exe"; exit 1; }
# The test program drives the Updater.exe beside it; the stand-ins it installs lie beside it too.
for file in "$build"/bin/*; do
  name=$(basename "$file")
  [ -f "$file" ] && [ "$name" != Updater.exe ] && ln -sfn "$file" "$signed_dir/$name"
done
tests=$signed_dir/wizard_tests.exe
run_half() { "$WINE" "$tests" --gtest_also_run_disabled_tests --gtest_filter="RestartJourney.DISABLED_$1"; }

fail=0
check() {
  local what=$1; shift
  if "$@" >/tmp/signed-journey.$$ 2>&1; then echo "ok    $what"; else echo "FAIL  $what"; sed 's/^/      /' /tmp/signed-journey.$$; fail=1; fi
  rm -f /tmp/signed-journey.$$
}
if run_half BeforeRestart; then
  work=$(find "$WINEPREFIX/drive_c/ProgramData/TidemarkSXUpdater" -maxdepth 1 -type d -name 'TidemarkSXUpdater-*' | head -n 1)
  echo "work folder: ${work:-none}"
  check "the resume copy is the signed Updater.exe" cmp "$signed_dir/Updater.exe" "$work/Updater.exe"
  check "osslsigncode verify accepts the resume copy" \
    "$osslsigncode" verify -CAfile "$cert" -in "$work/Updater.exe"
  check "osslsigncode verify accepts the launcher in the work folder" \
    "$osslsigncode" verify -CAfile "$cert" -in "$work/TmkUpLauncher.exe"
  check "the resume copy and its launcher have one signer" \
    "$inspect" --require-signature "$work/Updater.exe"
else
  echo "FAIL  the first half of the restart journey with the signed build"; fail=1
fi
run_half CleanUp >/dev/null || { echo "signed journey: clean-up step failed"; fail=1; }
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
exit $fail
