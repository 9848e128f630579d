#!/usr/bin/env bash
# The signed test build: osslsigncode accepts Updater.exe and the launcher written out of it, the
# inspection tool names the signer of both, and --require-signature refuses every release that is
# not wholly signed by one signer.
# The build's signing step keeps a signed file and deletes one whose signing failed.
# Usage: check_signed.sh <inspect_updater> <osslsigncode> <cert.pem> <subject> <signed Updater.exe>
#                        <unsigned Updater.exe> <signed launcher> <cmake> <SignFile.cmake>
set -u
inspect=$1; osslsigncode=$2; cert=$3; subject=$4; signed=$5; unsigned=$6; signed_launcher=$7
cmake=$8; sign_file=$9
here=$(dirname "$(readlink -f "$0")")
sign_script=$here/../../scripts/sign-osslsigncode.sh
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail=0
check() {  # check <description> <command...>: the command must succeed
  local what=$1; shift
  if "$@" >"$work/out" 2>&1; then echo "ok    $what"; else echo "FAIL  $what"; sed 's/^/      /' "$work/out"; fail=1; fi
}
refuse() {  # refuse <description> <expected text or ""> <command...>: must fail, saying the text
  local what=$1 text=$2; shift 2
  if "$@" >"$work/out" 2>&1; then echo "FAIL  $what: accepted"; fail=1
  elif [ -n "$text" ] && ! grep -qF "$text" "$work/out"; then echo "FAIL  $what: no \"$text\""; sed 's/^/      /' "$work/out"; fail=1
  else echo "ok    $what"; fi
}
verify() { "$osslsigncode" verify -CAfile "$cert" -in "$1"; }

# A release signed with only Updater.exe signed afterwards (its embedded launcher unsigned), made
# from the unsigned build through the shipped script; and a signed release with one byte changed.
cp "$unsigned" "$work/outer-only.exe"
UPDATER_SIGN_CERT=$(dirname "$cert")/cert.p12 UPDATER_SIGN_PASSWORD_FILE=$(dirname "$cert")/password.txt \
  bash "$sign_script" "$work/outer-only.exe" >/dev/null || { echo "FAIL  the signing script"; fail=1; }
cp "$signed" "$work/tampered.exe"
middle=$(( $(stat -c %s "$signed") / 2 ))
byte=$(od -An -tu1 -j "$middle" -N1 "$signed" | tr -d ' ')
printf "\\$(printf %03o $(( byte ^ 255 )))" | dd of="$work/tampered.exe" bs=1 seek="$middle" conv=notrunc status=none
cmp -s "$signed" "$work/tampered.exe" && { echo "FAIL  could not change a byte of the copy"; fail=1; }

report=$("$inspect" --require-signature --write-launcher "$work/launcher.exe" "$signed")
status=$?
echo "$report" | sed -n '/^signatures/,$p'
check "inspect --require-signature accepts the signed build" test $status -eq 0
check "osslsigncode verify accepts Updater.exe" verify "$signed"
check "osslsigncode verify accepts the launcher written out of it" verify "$work/launcher.exe"
check "the launcher written out is the signed launcher" cmp "$work/launcher.exe" "$signed_launcher"
for line in "  Updater.exe  signed by $subject (issuer $subject)" \
            "  launcher     signed by $subject (issuer $subject)" "  same signer: yes"; do
  check "the report says: $line" grep -qxF "$line" <<<"$report"
done
refuse "osslsigncode verify refuses a changed Updater.exe" "MISMATCH" verify "$work/tampered.exe"
refuse "--require-signature refuses the unsigned build" "Updater.exe is not signed" \
  "$inspect" --require-signature "$unsigned"
refuse "--require-signature refuses a build signed after embedding" "the embedded launcher is not signed" \
  "$inspect" --require-signature "$work/outer-only.exe"
check "without --require-signature the unsigned build passes" "$inspect" "$unsigned"
cp "$unsigned" "$work/step.exe"
check "the signing step keeps a file the program signed" \
  "$cmake" -DPROGRAM=true -DFILE="$work/step.exe" -P "$sign_file"
check "... and the file is still there" test -f "$work/step.exe"
refuse "the signing step fails when the program fails" "with false failed (1)" \
  "$cmake" -DPROGRAM=false -DFILE="$work/step.exe" -P "$sign_file"
refuse "... and the unsigned file is gone" "" test -e "$work/step.exe"
exit $fail
