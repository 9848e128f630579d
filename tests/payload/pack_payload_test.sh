#!/usr/bin/env bash
# Linux-side checks of the payload packer (the build step that scrambles the installer files).
# Usage: pack_payload_test.sh <pack_payload> <work folder> <the ten file names in table order>
set -u
pack=$1
work=$2
names=("${@:3}")
rm -rf "$work" && mkdir -p "$work/release" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ ${#names[@]} -eq 10 ] || { echo "FAIL: expected the ten payload file names, got ${#names[@]}"; exit 1; }
sizes=(0 1 1001 102400 102401 307977 3 2 17 65537)

# Seven of the ten files, one of them named in other case, as a folder from Windows may be.
for i in 0 1 2 4 5 7; do head -c "${sizes[$i]}" /dev/urandom > "$work/release/${names[$i]}"; done
other_case=${names[8]^^}
head -c "${sizes[8]}" /dev/urandom > "$work/release/$other_case"

"$pack" "$work/release" "$work/out" "$work/out/payload.rc" 2> "$work/stderr"
status=$?
[ "$status" -eq 1 ] || fail "missing files: exit status $status, expected 1"
for i in 3 6 9; do
  missing=${names[$i]}
  grep -q "missing installer file: .*/$missing\$" "$work/stderr" || fail "missing $missing not named"
done
[ "$(grep -c 'missing installer file' "$work/stderr")" -eq 3 ] || fail "not exactly three files named"
[ ! -e "$work/out/payload.rc" ] || fail "resource script written despite missing files"

# All ten: the script names each scrambled copy in table order, Japanese, after the language line.
for i in 3 6 9; do head -c "${sizes[$i]}" /dev/urandom > "$work/release/${names[$i]}"; done
head -c 700 /dev/urandom > "$work/launcher.exe"
"$pack" "$work/release" "$work/out" "$work/out/payload.rc" "$work/launcher.exe" 2> "$work/stderr" \
  || fail "complete folder: $(cat "$work/stderr")"
grep -v '^//' "$work/out/payload.rc" | grep -v '^$' | head -1 | grep -qx 'LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT' \
  || fail "the language line does not come first"
expected_lines=""
id=136
for name in "${names[@]}"; do
  expected_lines+="$id ZELNA \"$work/out/$name\""$'\n'
  id=$((id + 1))
done
expected_lines+="148 ZELNA \"$work/out/TmkUpLauncher.exe\""$'\n'
[ "$(grep ZELNA "$work/out/payload.rc")"$'\n' = "$expected_lines" ] || fail "resource lines: $(grep ZELNA "$work/out/payload.rc")"
cmp -s "$work/launcher.exe" "$work/out/TmkUpLauncher.exe" || fail "launcher not stored plain"
for i in "${!names[@]}"; do
  name=${names[$i]}
  source="$work/release/$name"
  [ "$name" = "${names[8]}" ] && source="$work/release/$other_case"
  [ "$(stat -c %s "$work/out/$name")" -eq "${sizes[$i]}" ] || fail "$name: size changed"
  if [ "${sizes[$i]}" -ge 16 ] && cmp -s "$source" "$work/out/$name"; then fail "$name stored plain"; fi
done

# Scrambling twice gives the files back.
"$pack" "$work/out" "$work/back" "$work/back/payload.rc" 2> "$work/stderr" || fail "second pass: $(cat "$work/stderr")"
for name in "${names[@]}"; do
  source="$work/release/$name"
  [ "$name" = "${names[8]}" ] && source="$work/release/$other_case"
  cmp -s "$source" "$work/back/$name" || fail "$name: scrambling twice does not give it back"
done

# An unchanged release leaves the outputs untouched, so nothing downstream rebuilds.
before=$(stat -c %Y.%y "$work/out/payload.rc" "$work/out/layout.bin")
sleep 1.1
"$pack" "$work/release" "$work/out" "$work/out/payload.rc" "$work/launcher.exe" || fail "repeat run"
[ "$(stat -c %Y.%y "$work/out/payload.rc" "$work/out/layout.bin")" = "$before" ] || fail "unchanged outputs rewritten"

rm -rf "$work"
[ "$failures" -eq 0 ] && echo "pack_payload: all checks passed"
exit $((failures != 0))
