#!/usr/bin/env bash
# The main job: builds the updater and shows it updating the stand-in old release of the product,
# in a Wine prefix of its own under demo/. With a display (DISPLAY set) the wizard opens for the
# person at the screen; without one it is driven headless through an update that needs a restart
# (power off and boot simulated), and the user's data is compared before and after.
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-arch.sh

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 >/dev/null
build=$wine_build
if [ "$wine_bits" = 64 ]; then
  echo "demo: this kernel cannot run 32-bit Linux programs; showing the 64-bit build of the same sources"
  cmake --preset "$wine_preset" >/dev/null
  cmake --build --preset "$wine_preset" >/dev/null
fi

demo="$root/demo"
mkdir -p "$demo/bin"
cp "$build/wine-arch" "$demo/wine-arch"
cp "$build"/bin/*.exe "$demo/bin/"
bash tests/harness/wine-session.sh stop "$demo" >/dev/null 2>&1 || true
interactive_display=${DISPLAY:-}
bash tests/harness/wine-session.sh start "$demo"
trap 'bash tests/harness/wine-session.sh stop "$demo" >/dev/null 2>&1 || true' EXIT
source tests/harness/wine-env.sh "$demo" 2>/dev/null

if [ -n "$interactive_display" ] && [ -z "${CI:-}" ]; then
  echo "demo: installing the stand-in old release 2.20.5 (its uninstaller will ask for a restart)"
  "$WINE" "$demo/bin/TidemarkOldSetup.exe" --uninstall-mode=restart
  # A real desktop has a window manager: let it manage the wizard like any other window.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
  echo "demo: starting Updater.exe on $interactive_display"
  DISPLAY=$interactive_display "$WINE" "$demo/bin/Updater.exe"
  exit 0
fi

echo "demo: headless run on $DISPLAY: stand-in 2.20.5 installed with user data, updated across a restart"
shots="$demo/screenshots"
rm -rf "$shots" && mkdir -p "$shots/raw"
export WIZARD_NARRATE=1 WIZARD_SCREENSHOT_DIR="Z:${shots//\//\\}\\raw"
set +e
bash tests/wizard/restart_journey.sh "$demo" 2>&1 | tee "$demo/journey.log" |
  grep --line-buffered -E '^(wizard|report|---)|FAILED|Failure'
result=${PIPESTATUS[0]}
set -e
for bmp in "$shots"/raw/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "$shots/$(basename "${bmp%.bmp}").png"
done
rm -rf "$shots/raw"
echo "demo: screenshots of every page passed: $shots"
# The updater's own log of its last run (every run writes one into the Windows folder's Temp).
wintemp=$(find "$WINEPREFIX/drive_c" -maxdepth 2 -ipath "$WINEPREFIX/drive_c/windows/temp" | head -1)
latest=$(ls -t "$wintemp"/TidemarkSXUpdater_*.log 2>/dev/null | head -1 || true)
if [ -n "$latest" ]; then
  echo "demo: the updater's log of its last run: C:\\windows\\Temp\\$(basename "$latest")"
  echo "      (on this machine: $latest); its last lines:"
  tail -n 14 "$latest" | sed 's/^\xEF\xBB\xBF//; s/\r$//; s/^/  /'
fi
if [ "$result" -ne 0 ]; then
  echo "demo: FAILED: the user's data after the update differs or the journey broke (full log: $demo/journey.log)"
  exit 1
fi
echo "demo: the update kept the log file, every settings value and the autorun entry, and started the product"
