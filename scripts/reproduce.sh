#!/usr/bin/env bash
# For release engineers: builds one commit twice, each from its own copy of the sources in its own
# temporary folder, and compares every program the two builds made, byte for byte. Exits non-zero
# when any differs (and lists them), so a release whose bytes depend on where or when it was built
# is caught before it is shipped. Signing is left out: a signature is made anew by every signing.
#
# Usage: scripts/reproduce.sh [commit]   (default HEAD; uncommitted changes are not built)
#   UPDATER_PAYLOAD_DIR in the environment builds both with that release folder instead of the
#   stand-in release.
set -euo pipefail
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
commit=${1:-HEAD}
git -C "$root" rev-parse --verify -q "$commit^{commit}" >/dev/null || { echo "reproduce: no commit $commit"; exit 2; }
work=$(mktemp -d /tmp/updater-reproduce.XXXXXX)
trap 'rm -rf "$work"' EXIT

payload=()
[ -n "${UPDATER_PAYLOAD_DIR:-}" ] && payload=(-DUPDATER_PAYLOAD_DIR="$(readlink -f "$UPDATER_PAYLOAD_DIR")")
# The two copies lie at paths of different lengths, so that a build path would also move bytes.
for copy in first second-copy; do
  mkdir -p "$work/$copy/src"
  git -C "$root" archive --format=tar "$commit" | tar -x -C "$work/$copy/src"
  echo "reproduce: building $(git -C "$root" rev-parse --short "$commit") in $work/$copy"
  cmake -S "$work/$copy/src" -B "$work/$copy/build" \
        -DCMAKE_TOOLCHAIN_FILE="$work/$copy/src/cmake/toolchain-mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DUPDATER_BUILD_TESTS=OFF -UUPDATER_SIGN_SCRIPT "${payload[@]}" >/dev/null
  cmake --build "$work/$copy/build" -j2 >/dev/null
done

differ=0; compared=0
cd "$work/first/build"
while IFS= read -r -d '' file; do
  compared=$((compared + 1))
  if ! cmp -s "$file" "$work/second-copy/build/$file"; then
    echo "DIFFERS: $file ($(cmp -l "$file" "$work/second-copy/build/$file" 2>/dev/null | wc -l) bytes)"
    differ=1
  fi
done < <(find bin standin/new-release -type f \( -iname '*.exe' -o -iname '*.dll' -o -path 'standin/new-release/*' \) -print0 | sort -z)
[ "$compared" -gt 0 ] || { echo "reproduce: the builds made no programs"; exit 1; }
if [ $differ = 0 ]; then
  echo "reproduce: the two builds are identical ($compared files, Updater.exe sha256 $(sha256sum bin/Updater.exe | cut -d' ' -f1))"
fi
exit $differ
