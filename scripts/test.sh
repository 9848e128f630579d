#!/usr/bin/env bash
# Builds the updater and runs the whole test suite under Wine. Installs what is missing first.
#
# The shipped Updater.exe is always the 32-bit (i686) build in build/. The suite runs on the build
# that scripts/wine-arch.sh chooses for this machine's Wine; where that is the 64-bit build, the
# i686 build gets its Linux-side checks only.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
bash scripts/setup.sh
source scripts/wine-arch.sh

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686

if [ "$wine_bits" = 32 ]; then
  ctest --preset mingw-i686
else
  echo "test: this kernel cannot run 32-bit Linux programs; running the suite as 64-bit programs under 64-bit Wine"
  ctest --preset mingw-i686 -L linux
  cmake --preset "$wine_preset" >/dev/null
  cmake --build --preset "$wine_preset"
  ctest --preset "$wine_preset"
fi
