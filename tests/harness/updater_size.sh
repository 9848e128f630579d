#!/usr/bin/env bash
# Prints the size of Updater.exe without its embedded setup files (the file's size less the ten
# files the inspection tool reports), and fails when that is more than 200 KiB.
# Usage: updater_size.sh <inspect_updater> <Updater.exe>
set -euo pipefail
inspect=$1; exe=$2; limit=204800
total=$(stat -c %s "$exe")
payload=$("$inspect" "$exe" | awk '/^  [^ ]+ +ZELNA [0-9]+ +[0-9]+ bytes/ {sum += $4; n++} END {if (n != 10) exit 1; print sum}') ||
  { echo "the inspection tool did not report the ten setup files of $exe"; exit 1; }
echo "Updater.exe:                       $total bytes, payload $payload bytes"
echo "Updater.exe without its payload:   $((total - payload)) bytes (target <= $limit)"
[ $((total - payload)) -le "$limit" ]
