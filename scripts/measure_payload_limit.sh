#!/usr/bin/env bash
# Measures which payload sizes the 32-bit updater still starts with under this machine's Wine: for
# each size, a copy of build/bin/Updater.exe grown by that many bytes (tools/grow_image.py: one more
# section, a hole in a sparse file, so it costs neither time nor disk) is started, and it counts as
# started once its run log says a page was shown. Prints one line per size. The build's limit
# (res/CMakeLists.txt, UPDATER_PAYLOAD_LIMIT) was chosen from these figures; see the README.
# Usage: scripts/measure_payload_limit.sh [bytes...]   (default: sizes from 1.5 to 2.1 GB)
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
build=build
[ -f "$build/bin/Updater.exe" ] || { echo "build the updater first (cmake --build --preset mingw-i686)"; exit 1; }
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1500000000 1800000000 1850000000 1900000000 1950000000 1980000000 2000000000 2040000000 2100000000)
bash tests/harness/wine-session.sh start "$build" >/dev/null
work=$(mktemp -d "$root/$build/payload-limit.XXXXXX")
trap 'bash tests/harness/wine-session.sh stop "$build" >/dev/null; rm -rf "$work"' EXIT
source tests/harness/wine-env.sh "$build" 2>/dev/null
logs="$WINEPREFIX/drive_c/windows/temp"
for size in "${sizes[@]}"; do
  python3 tools/grow_image.py "$build/bin/Updater.exe" "$work/Updater.exe" "$size"
  image=$(( 0x$(i686-w64-mingw32-objdump -p "$work/Updater.exe" | awk '/^SizeOfImage/ {print $2}') ))
  before=$(ls "$logs"/TidemarkSXUpdater_*.log 2>/dev/null | wc -l)
  "$WINE" "$work/Updater.exe" >/dev/null 2>&1 & pid=$!
  result="no window"
  for _ in $(seq 1 40); do
    sleep 0.5
    newest=$(ls -t "$logs"/TidemarkSXUpdater_*.log 2>/dev/null | head -n 1)
    if [ "$(ls "$logs"/TidemarkSXUpdater_*.log 2>/dev/null | wc -l)" -gt "$before" ] &&
       grep -q "page shown" "$newest"; then result="started, page shown"; break; fi
    if ! kill -0 $pid 2>/dev/null; then
      wait $pid && code=0 || code=$?
      result="ended at once (exit $code)"; break
    fi
  done
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  "$WINE" taskkill /f /im Updater.exe >/dev/null 2>&1 || true
  printf '%11d bytes added, image %11d bytes (%.2f GiB): %s\n' "$size" "$image" \
    "$(echo "$image / 1073741824" | bc -l)" "$result"
done
