#!/usr/bin/env bash
# Plants, from the Linux side, what Win32 calls under this Wine cannot make: symbolic links inside
# a folder tree and at a work folder's name (listed by Wine as directory reparse points), a drive
# letter (T:) whose root is a scratch folder, and links at the names of run logs.
# Usage: fs-fixture.sh <build-dir>
set -eu
here=$(dirname "$(readlink -f "$0")")
source "$here/wine-env.sh" "$1" 2>/dev/null
base="$WINEPREFIX/drive_c/fs-fixture"
rm -rf "$base"
mkdir -p "$base/tree" "$base/target/sub" "$base/target2"
echo keep > "$base/tree/keep.txt"
echo precious > "$base/target/precious.txt"
echo deep > "$base/target/sub/deep.txt"
echo precious > "$base/target2/precious.txt"
ln -s "$base/target" "$base/tree/link"
ln -s "$base/target2" "$base/toplink"
# A link planted at a work folder's name in the common application-data folder.
appdata=$(find "$WINEPREFIX/drive_c" -maxdepth 1 -iname programdata | head -1)
rm -f "$appdata/TidemarkSXUpdater-00000000deadbeef"
ln -s "$base/target2" "$appdata/TidemarkSXUpdater-00000000deadbeef"

# Links with run-log names: at the name of a new log (to a file, and dangling) and at the name of
# an old log that the pruning reaches.
mkdir -p "$base/runlog" "$base/runlog-target"
echo precious > "$base/runlog-target/precious.txt"
ln -s "$base/runlog-target/precious.txt" "$base/runlog/TidemarkSXUpdater_20261207-235901_4242.log"
ln -s "$base/runlog-target/made-through-link.log" "$base/runlog/TidemarkSXUpdater_20261207-235901_4243.log"
ln -s "$base/runlog-target/precious.txt" "$base/runlog/TidemarkSXUpdater_20000101-000000_1.log"

drive="$WINE_SESSION_DIR/t-drive"
rm -rf "$drive"
mkdir -p "$drive/folder/inner"
echo s > "$drive/scratch.txt"
echo i > "$drive/folder/inner/file.txt"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/t:"
