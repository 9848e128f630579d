#!/usr/bin/env bash
# Prints the size of Updater.exe without its embedded setup files (the file's size less the ten
# files the inspection tool reports), and fails when what it holds besides them is more than
# 200 KiB. The sections are page-aligned in the file, so that the system maps the payload instead
# of reading it; the zeros that fill each section up to its page are printed, but not counted
# against the limit: the limit is on code, data and resources, laid out as 512-byte blocks.
# Usage: updater_size.sh <inspect_updater> <Updater.exe> [objdump]
set -euo pipefail
inspect=$1; exe=$2; objdump=${3:-i686-w64-mingw32-objdump}; limit=204800
total=$(stat -c %s "$exe")
payload=$("$inspect" "$exe" | awk '/^  [^ ]+ +ZELNA [0-9]+ +[0-9]+ bytes/ {sum += $4; n++} END {if (n != 10) exit 1; print sum}') ||
  { echo "the inspection tool did not report the ten setup files of $exe"; exit 1; }
# Headers and every section with file contents, each rounded up to 512 bytes.
content=1024
while read -r _ _ size _ _ offset _; do
  [ $((16#$offset)) -gt 0 ] && content=$((content + (16#$size + 511) / 512 * 512))
done < <("$objdump" -h "$exe" | grep -E '^ +[0-9]+ ')
echo "Updater.exe:                       $total bytes, payload $payload bytes"
echo "Updater.exe without its payload:   $((total - payload)) bytes, of them $((total - content)) bytes of page alignment"
echo "without payload and page padding:  $((content - payload)) bytes (target <= $limit)"
[ $((content - payload)) -le "$limit" ]
