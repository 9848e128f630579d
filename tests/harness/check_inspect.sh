#!/usr/bin/env bash
# The inspection tool must report, for each of the ten embedded files, the SHA-256 of the very file
# the build packed, and find the launcher, the version and the execution level.
# Usage: check_inspect.sh <inspect_updater> <Updater.exe> <payload folder> <file name>...
set -u
inspect=$1; exe=$2; folder=$3; shift 3
report=$("$inspect" "$exe") || { echo "$report"; echo "inspect_updater failed"; exit 1; }
echo "$report"
fail=0
[ $# -eq 10 ] || { echo "expected the ten payload file names, got $#"; exit 1; }
for name in "$@"; do
  file=$(find "$folder" -maxdepth 1 -iname "$name" | head -n 1)
  want=$(sha256sum "$file" | cut -d' ' -f1)
  size=$(stat -c %s "$file")
  line=$(echo "$report" | grep -E "^  $name ")
  echo "$line" | grep -q "sha256 $want" || { echo "MISMATCH sha256 $name"; fail=1; }
  echo "$line" | grep -Eq " $size bytes" || { echo "MISMATCH size $name"; fail=1; }
done
echo "$report" | grep -q '^manifest execution level: requireAdministrator$' || { echo "execution level"; fail=1; }
echo "$report" | grep -q '^file version: 1.04.7 (binary 1.0.4.7)$' || { echo "version"; fail=1; }
[ $fail = 0 ] && echo "inspection matches the packed files"
exit $fail
