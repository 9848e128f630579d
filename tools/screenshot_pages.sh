#!/usr/bin/env bash
# Takes a screenshot of every page of the wizard under Xvfb, so that a person can look at them.
# The wizard is driven through real update journeys with the stand-in releases (the wizard test
# program does the driving); each page it reaches is saved once as page<index>.png.
# Usage: tools/screenshot_pages.sh [build-dir] [output-dir]   (defaults: build-x64, screenshots)
set -eu
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(cd "${1:-$root/build-x64}" && pwd)
out=$(mkdir -p "${2:-$root/screenshots}" && cd "${2:-$root/screenshots}" && pwd)
raw="$out/raw"
rm -rf "$raw" && mkdir -p "$raw"

bash "$root/tests/harness/wine-session.sh" start "$build"
trap 'bash "$root/tests/harness/wine-session.sh" stop "$build"' EXIT
source "$root/tests/harness/wine-env.sh" "$build" 2>/dev/null
export WIZARD_SCREENSHOT_DIR="Z:${raw//\//\\}"
# Inside a Wine virtual desktop Wine draws the window frame and title bar itself (Xvfb has no
# window manager), so the pictures show the caption too.
"$WINE" explorer "/desktop=UpdaterScreenshots,1024x768" "$build/bin/wizard_tests.exe" \
  --gtest_filter='UpdateJourneyTest.UpdateWithoutRestart*:UpdateJourneyTest.RestartGuidance*:UpdateJourneyTest.CancelledUninstaller*' \
  >/dev/null || echo "screenshots: a journey failed; the pictures taken so far are kept" >&2

for index in 0 1 2 3 4 5; do
  first=$(ls "$raw"/*-page$index.bmp 2>/dev/null | sort | head -n 1 || true)
  [ -n "$first" ] && convert "$first" "$out/page$index.png"
done
rm -rf "$raw"
echo "screenshots: $(ls "$out"/page*.png 2>/dev/null | wc -l) pages in $out"
